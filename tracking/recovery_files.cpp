#include "tracking/recovery_files.h"

#include "core/file_io.h"

#include <algorithm>
#include <compare>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <string>
#include <system_error>
#include <vector>

namespace pellix {
namespace {

std::wstring copy_prefix(const std::filesystem::path& file, KeptCopy kind) {
    return file.filename().wstring() + (kind == KeptCopy::damaged ? L".damaged-" : L".kept-");
}

std::wstring stamp_of(const SYSTEMTIME& when) {
    wchar_t stamp[32] = {};
    std::swprintf(stamp, std::size(stamp), L"%04u%02u%02u-%02u%02u%02u", when.wYear, when.wMonth,
                  when.wDay, when.wHour, when.wMinute, when.wSecond);
    return stamp;
}

// The digits of `text` as a number; nothing when it is empty or holds anything else.
std::optional<std::uint64_t> number_of(std::wstring_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(digit - L'0');
    }
    return value;
}

// Where a kept copy stands among its kind: its stamp and counter read as numbers ("-10" comes
// after "-2"; the first copy of a second has no counter and comes first). Nothing for a name
// this code did not make, which is then never removed.
struct CopyOrder {
    std::uint64_t date = 0;
    std::uint64_t time = 0;
    std::uint64_t counter = 1;
    auto operator<=>(const CopyOrder&) const = default;
};

std::optional<CopyOrder> order_of(std::wstring_view stamp) {
    constexpr std::size_t date_digits = 8;
    constexpr std::size_t time_digits = 6;
    constexpr std::size_t stamp_size = date_digits + 1 + time_digits;
    if (stamp.size() < stamp_size || stamp[date_digits] != L'-') {
        return std::nullopt;
    }
    const auto date = number_of(stamp.substr(0, date_digits));
    const auto time = number_of(stamp.substr(date_digits + 1, time_digits));
    std::optional<std::uint64_t> counter = 1;
    if (stamp.size() > stamp_size) {
        counter =
            stamp[stamp_size] == L'-' ? number_of(stamp.substr(stamp_size + 1)) : std::nullopt;
    }
    if (!date || !time || !counter) {
        return std::nullopt;
    }
    return CopyOrder{.date = *date, .time = *time, .counter = *counter};
}

using OrderedCopy = std::pair<CopyOrder, std::filesystem::path>;

// The kept copies of `file` of one kind, oldest first.
std::vector<OrderedCopy> kept_copies(const std::filesystem::path& file, KeptCopy kind) {
    const std::wstring prefix = copy_prefix(file, kind);
    std::vector<OrderedCopy> copies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
        const std::wstring name = entry.path().filename().wstring();
        if (!name.starts_with(prefix)) {
            continue;
        }
        if (const auto order = order_of(std::wstring_view(name).substr(prefix.size()))) {
            copies.emplace_back(*order, entry.path());
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

// The counter after the newest copy of the same second, so that a name freed by pruning is never
// taken again by a newer copy, which would then sort as the oldest.
std::uint64_t next_counter(const std::vector<OrderedCopy>& copies, const CopyOrder& stamp) {
    std::uint64_t counter = 1;
    for (const auto& [order, path] : copies) {
        if (order.date == stamp.date && order.time == stamp.time) {
            counter = std::max(counter, order.counter + 1);
        }
    }
    return counter;
}

void remove_unless_empty(const std::filesystem::path& path) {
    if (!path.empty()) {
        std::filesystem::remove(path);
    }
}

} // namespace

void write_tab_recovery(const std::filesystem::path& tabs_path,
                        const std::filesystem::path& session_path, const Workspace& workspace) {
    if (workspace.sessions.empty()) {
        std::filesystem::remove(tabs_path);
        remove_unless_empty(session_path);
        return;
    }
    if (tabs_path.has_parent_path()) {
        std::filesystem::create_directories(tabs_path.parent_path());
    }
    write_file_atomically(tabs_path, encode_tab_recovery(workspace), recovery_container_limit);
    remove_unless_empty(session_path);
}

std::filesystem::path keep_store_copy(const std::filesystem::path& file, KeptCopy kind,
                                      const SYSTEMTIME& when) {
    const std::wstring stamp = stamp_of(when);
    const std::wstring base = (file.parent_path() / (copy_prefix(file, kind) + stamp)).wstring();
    std::uint64_t counter = next_counter(kept_copies(file, kind), *order_of(stamp));
    auto name = [&] { return counter == 1 ? base : base + L"-" + std::to_wstring(counter); };
    // Without MOVEFILE_REPLACE_EXISTING the move never lands on an older copy.
    while (!MoveFileExW(file.c_str(), name().c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD failure = GetLastError();
        if (failure != ERROR_ALREADY_EXISTS && failure != ERROR_FILE_EXISTS) {
            throw std::system_error(static_cast<int>(failure), std::system_category(),
                                    "Could not keep the recovery file");
        }
        ++counter;
    }
    const std::filesystem::path kept = name();
    std::vector<OrderedCopy> copies = kept_copies(file, kind);
    std::erase_if(copies, [&](const OrderedCopy& copy) { return copy.second == kept; });
    for (std::size_t i = 0; i + kept_store_copies <= copies.size(); ++i) {
        std::error_code ignored;
        std::filesystem::remove(copies[i].second, ignored);
    }
    return kept;
}

} // namespace pellix
