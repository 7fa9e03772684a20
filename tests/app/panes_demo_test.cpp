#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>

#include "app/main_layout.h"
#include "app/theme.h"
#include "app/views.h"
#include "tests/app/panes_window.h"

namespace pellix {
namespace {

constexpr char demo_document[] = "# Release notes\n"
                                 "\n"
                                 "A short document to show the panes: **bold**, *emphasis*, "
                                 "`code` and a [link](https://example.com).\n"
                                 "\n"
                                 "## Before the release\n"
                                 "\n"
                                 "- [x] Write the change list\n"
                                 "- [x] Check the installer\n"
                                 "- [ ] Update the screenshots\n"
                                 "\n"
                                 "## Known issues\n"
                                 "\n"
                                 "Nothing serious so far.\n"
                                 "\n"
                                 "### On older systems\n"
                                 "\n"
                                 "- [ ] Try the portable build\n"
                                 "\n"
                                 "> A quotation to close the section.\n"
                                 "\n"
                                 "# Appendix\n"
                                 "\n"
                                 "| Column | Value |\n"
                                 "| :----- | ----: |\n"
                                 "| one    |     1 |\n";

bool file_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

using PanesDemo = test::PanesWindow;

// Not part of the suite: scripts/panes_screenshot.sh runs it to photograph the main window in
// Split view with the outline shown. It writes PELLIX_DEMO_READY once painted and waits (at most
// a minute) for PELLIX_DEMO_DONE to appear; PELLIX_DEMO_DARK asks for the dark theme.
TEST_F(PanesDemo, DISABLED_ShowsSplitViewWithTheOutlineUntilPhotographed) {
    const char* ready = std::getenv("PELLIX_DEMO_READY");
    const char* done = std::getenv("PELLIX_DEMO_DONE");
    ASSERT_TRUE(ready && done);
    settings.theme = std::getenv("PELLIX_DEMO_DARK") ? 2 : 1;
    settings.outline = true;
    apply_appearance();
    SetWindowPos(window_, nullptr, 0, 0, 1200, 800, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOW);
    open_path(file("notes.md", demo_document));
    select_view(view_split);
    select(260, 260);
    pump(500);
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump(500);
    std::ofstream(ready) << "ready\n";
    EXPECT_TRUE(test::pump_until([&] { return file_exists(done); }, 60000));
}

} // namespace
} // namespace pellix
