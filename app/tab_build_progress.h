#pragma once

// How far a batch of tabs built behind the shown one has got (a restore, many files opened at
// once), shown in the status strip with the tabs built so far in the tab strip, while the window
// is disabled as during file work: it paints and answers sent messages, and input waits.

#include <cstddef>
#include <functional>
#include <string>

#include <windows.h>

namespace pellix {

class TabBuildProgress {
public:
    // `text` says how far the batch has got once `done` of `total` items have been gone through.
    TabBuildProgress(std::size_t total, std::function<std::wstring(std::size_t, std::size_t)> text);
    // A batch cut short by a failure gives the status back without throwing.
    ~TabBuildProgress();
    TabBuildProgress(const TabBuildProgress&) = delete;
    TabBuildProgress& operator=(const TabBuildProgress&) = delete;

    // Before the item at `index`: at the start, then at least every few items and every tenth of
    // a second, and whenever items joined, the shown tab's count, page and strips come up to date
    // with the progress; the window paints what it owes either way.
    void before(std::size_t index);

    // Items that joined the batch while it was being built.
    void add_items(std::size_t count);

    // Once the tabs are built: the status the batch began with, not a count long done.
    void end();

private:
    std::size_t total_;
    std::function<std::wstring(std::size_t, std::size_t)> text_;
    ULONGLONG shown_at_ = 0;
    std::size_t shown_total_ = 0;
    bool ended_ = false;
};

// "Opening files: 12 of 127" once 12 of 127 files have been gone through.
std::wstring opening_progress_text(std::size_t opened, std::size_t total);

} // namespace pellix
