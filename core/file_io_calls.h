#pragma once

#include <cstdint>
#include <functional>

namespace pellix {

// The few file-system calls that can fail in ways a test cannot provoke on a healthy disk (a short
// write, a replace that moved the destination away, a file that another program holds only for a
// moment). Production code never sets them; an empty function means the real Win32 call.
struct AtomicSaveCalls {
    // As WriteFile on a synchronous handle: success, and how many bytes went out.
    std::function<bool(void* file, const char* data, std::uint32_t size, std::uint32_t& written)>
        write_file;
    // As ReplaceFileW without backup file or flags.
    std::function<bool(const wchar_t* replaced, const wchar_t* replacement)> replace_file;
    // As MoveFileExW with MOVEFILE_WRITE_THROUGH.
    std::function<bool(const wchar_t* from, const wchar_t* to)> move_file;
    // As CreateFileW opening an existing file for shared reading: the handle, or
    // INVALID_HANDLE_VALUE with the last error set.
    std::function<void*(const wchar_t* path)> open_for_reading;
};

// Installs substitute calls for the lifetime of the object (tests only; not thread-safe).
class ScopedAtomicSaveCalls {
public:
    explicit ScopedAtomicSaveCalls(AtomicSaveCalls calls);
    ~ScopedAtomicSaveCalls();
    ScopedAtomicSaveCalls(const ScopedAtomicSaveCalls&) = delete;
    ScopedAtomicSaveCalls& operator=(const ScopedAtomicSaveCalls&) = delete;

private:
    AtomicSaveCalls previous_;
};

} // namespace pellix
