#include <gtest/gtest.h>

#include <windows.h>
#include <richedit.h>

#include <filesystem>
#include <string>

#include "app/document_tabs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/save_files.h"
#include "tests/app/open_tabs_window.h"
#include "tests/reserved_names.h"

namespace pellix {
namespace {

class DeviceNamedFiles : public test::OpenTabsWindow {
protected:
    DeviceNamedFiles() : OpenTabsWindow("device-named-files") {}

    std::filesystem::path literal_file(const wchar_t* name, const std::string& bytes) {
        test::write_bytes(test::literal_spelling(folder_ / name), bytes);
        return folder_ / name;
    }
};

TEST_F(DeviceNamedFiles, NulMdIsOpenedSavedAndFollowedAsTheUsersFile) {
    // The NUL byte is the decoder's to refuse; what it refuses are the file's bytes.
    const auto nul = literal_file(L"nul.md", std::string("abc\0def\n", 8));
    open_path(nul);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text,
              L"Embedded NUL characters are not supported; the file was not opened.");
    EXPECT_EQ(tabs.size(), 1u);
    EXPECT_TRUE(current_tab().path.empty());

    literal_file(L"nul.md", "# Nul\n");
    open_path(nul);
    EXPECT_EQ(boxes_.size(), 1u);
    ASSERT_EQ(current_tab().path, nul);
    EXPECT_EQ(tab_text(current_tab()), u"# Nul\n");

    SendMessageW(chrome.editor, EM_SETSEL, 0, 0);
    type(L"Saved ");
    ASSERT_TRUE(save_file(false, nullptr, {}));
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(test::read_literally(nul), "Saved # Nul\n");
    EXPECT_FALSE(modified(current_tab()));
    EXPECT_TRUE(current_tab().disk_exists);

    const auto con = literal_file(L"con.md", "con\n");
    open_path(con);
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tab_text(current_tab()), u"con\n");

    // A write from elsewhere is noticed and taken in as for any file.
    literal_file(L"nul.md", "# Changed\n");
    DocumentTab& tab = *tabs[0];
    ASSERT_TRUE(pump_until([&] { return tab.changed_on_disk; }));
    EXPECT_TRUE(tab.disk_exists);
    box_answers_ = {IDYES};
    choose_in_strip(0);
    EXPECT_EQ(tab_text(tab), u"# Changed\n");
    EXPECT_FALSE(tab.changed_on_disk);

    // A relative spelling, as a command line gives it, names the same open file.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    open_path(L"con.md");
    std::filesystem::current_path(previous);
    EXPECT_EQ(tabs.size(), 2u);
    EXPECT_EQ(active, 1u);
}

} // namespace
} // namespace pellix
