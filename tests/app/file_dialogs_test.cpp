#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/file_dialogs.h"

namespace pellix {
namespace {

TEST(FileDialogs, FilterStringAndPreselectedFilter) {
    EXPECT_EQ(filter_string({{L"A", L"*.a"}, {L"All", L"*.*"}}),
              std::wstring(L"A\0*.a\0All\0*.*\0\0", 15));

    const auto filters = file_dialog_filters(false);
    EXPECT_EQ(filter_index_for(filters, L"notes.MD"), 1u);
    EXPECT_EQ(filter_index_for(filters, L"Read.Me.TXT"), 2u);
    EXPECT_EQ(filter_index_for(filters, L"README"), 2u);
    EXPECT_EQ(filter_index_for(filters, L".env.local"), 3u);
    EXPECT_EQ(filter_index_for(filters, L"makefile"), 5u);
    // Neither a known pattern nor "*.*": the last filter.
    EXPECT_EQ(filter_index_for(filters, L"noextension"), 6u);
    EXPECT_EQ(filter_index_for(filters, L"notes.md.bak"), 6u);
}

// A hidden dialog holding the two lists of template 704, built in memory.
std::vector<WORD> two_list_template() {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words.data());
    dialog->style = DS_CONTROL | WS_POPUP;
    dialog->cdit = 2;
    dialog->cx = 200;
    dialog->cy = 60;
    words.insert(words.end(), {0, 0, 0}); // no menu, default class, no title
    for (const int id : {encoding_combo, line_ending_combo}) {
        while (words.size() % 2 != 0) {
            words.push_back(0);
        }
        const size_t at = words.size();
        words.resize(at + sizeof(DLGITEMTEMPLATE) / sizeof(WORD), 0);
        auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(words.data() + at);
        item->style = WS_CHILD | CBS_DROPDOWNLIST;
        item->cx = 100;
        item->cy = 60;
        item->id = static_cast<WORD>(id);
        words.insert(words.end(), {0xFFFF, 0x0085, 0, 0}); // combo box, no text, no data
    }
    return words;
}

UINT_PTR send_file_ok(HWND dialog) {
    OFNOTIFYW notify{};
    notify.hdr.hwndFrom = GetParent(dialog);
    notify.hdr.code = static_cast<UINT>(CDN_FILEOK);
    return file_dialog_hook(dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify));
}

TEST(FileDialogs, TheHookShowsAndTakesTheChosenFormatAndRefusesNoChoice) {
    const std::vector<WORD> words = two_list_template();
    Document request{{}, Encoding::windows_1251, LineEnding::cr};
    OPENFILENAMEW setup{};
    setup.lCustData = reinterpret_cast<LPARAM>(&request);
    HWND dialog = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()), nullptr,
        reinterpret_cast<DLGPROC>(file_dialog_hook), reinterpret_cast<LPARAM>(&setup));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(SendDlgItemMessageW(dialog, encoding_combo, CB_GETCOUNT, 0, 0), 8);
    EXPECT_EQ(SendDlgItemMessageW(dialog, line_ending_combo, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessageW(dialog, encoding_combo, CB_GETCURSEL, 0, 0), 5);
    EXPECT_EQ(SendDlgItemMessageW(dialog, line_ending_combo, CB_GETCURSEL, 0, 0), 2);

    SendDlgItemMessageW(dialog, encoding_combo, CB_SETCURSEL, 3, 0);
    SendDlgItemMessageW(dialog, line_ending_combo, CB_SETCURSEL, 1, 0);
    EXPECT_EQ(send_file_ok(dialog), 0u);
    EXPECT_EQ(GetWindowLongPtrW(dialog, DWLP_MSGRESULT), 0);
    EXPECT_EQ(request.encoding, Encoding::utf16_be);
    EXPECT_EQ(request.line_ending, LineEnding::crlf);

    SendDlgItemMessageW(dialog, line_ending_combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    EXPECT_EQ(send_file_ok(dialog), 1u);
    EXPECT_EQ(GetWindowLongPtrW(dialog, DWLP_MSGRESULT), 1);
    EXPECT_EQ(request.line_ending, LineEnding::crlf);
    DestroyWindow(dialog);
}

} // namespace
} // namespace pellix
