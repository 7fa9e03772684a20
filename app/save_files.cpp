#include "app/disk_state.h"
#include "app/save_files.h"

#include <array>
#include <optional>

#include "app/compare_controller.h"
#include "app/document_tabs.h"
#include "editor/source_interface.h"
#include "app/file_dialogs.h"
#include "app/hosted_units.h"
#include "app/main_window_state.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/views.h"
#include "core/file_paths.h"
#include "core/limits.h"
#include "core/window_work.h"

namespace pellix {

namespace {

constexpr UINT first_encoding_item = 620;
constexpr UINT first_line_ending_item = 630;
constexpr UINT encoding_status_item = 360;
constexpr UINT line_ending_status_item = 361;

constexpr std::array<const wchar_t*, 8> encoding_items = {
    L"UTF-8",        L"UTF-8 with BOM", L"UTF-16 LE",  L"UTF-16 BE",
    L"Windows-1252", L"Windows-1251",   L"ISO-8859-1", L"OEM 437"};
constexpr std::array<const wchar_t*, 3> line_ending_items = {
    L"Linux / Unix (LF)", L"Windows (CRLF)", L"Classic Mac (CR)"};

bool editor_modified(HWND editor) {
    return SendMessageW(editor, EM_GETMODIFY, 0, 0) != 0;
}

// True when the file on disk may be replaced: it still holds what the tab last read or wrote,
// or the user agreed to replace it.
bool may_replace(const DocumentTab& tab, const std::filesystem::path& destination) {
    if (!tab.recovered_draft) {
        try {
            if (read_disk(destination, document_limit) == tab.disk_bytes) {
                return true;
            }
        } catch (const std::exception&) {
            // An unreadable file is asked about like a changed one.
        }
    }
    return message_box(main_window,
                       L"This file changed on disk, is unreadable, or has a recovered draft. "
                       L"Replace it with the editor's current contents?",
                       L"File changed", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

bool write_and_adopt(bool save_as, const Document* format, Document& request,
                     std::filesystem::path destination) {
    destination = absolute_file_path(destination).lexically_normal();
    if (find_tab_by_path(destination, active) != no_tab) {
        message_box(main_window,
                    L"That file is already open in another tab. Select that tab or choose "
                    L"another name.",
                    L"Save As", MB_ICONWARNING);
        return false;
    }
    DocumentTab& tab = current_tab();
    if (!save_as && destination == tab.path && !editor_modified(tab.editor) && format == nullptr) {
        return true;
    }
    if (same_path(destination, tab.path) && !may_replace(tab, destination)) {
        return false;
    }
    request.text = source_text(tab.editor);
    std::string written = save_document(destination, request);
    take_editor_text(tab, std::move(request.text));
    tab.encoding = static_cast<std::uint32_t>(request.encoding);
    tab.line_ending = static_cast<std::uint32_t>(request.line_ending);
    tab.path = destination;
    take_disk_bytes(tab, std::move(written));
    SendMessageW(tab.editor, EM_SETMODIFY, FALSE, 0);
    tab.recovered_draft = false;
    tab.disk_check_pending = false;
    refresh_disk_stamp();
    refresh_saved_baseline(tab, L"The file was saved, but Compare could not update its baseline "
                                L"and was stopped.");
    update_title();
    select_view(settings.view);
    // The store still holds the tab's draft from before the save; a crash before a deferred
    // snapshot (which steady typing in any tab keeps putting off) would bring that older text
    // back over the saved one. Handed over now, only the writer's own time is left open.
    store_session(false, true);
    update_status();
    return true;
}

UINT status_item_corner(bool encoding, POINT& corner) {
    RECT item{};
    if (!status_item_rect(encoding ? encoding_status_item : line_ending_status_item, item)) {
        GetCursorPos(&corner);
        return 0;
    }
    corner = {item.right, item.top};
    return 1;
}

} // namespace

bool save_file(bool save_as, const Document* format, const PathPicker& pick) {
    if (tabs.empty()) {
        return false;
    }
    DocumentTab& tab = current_tab();
    Document request{
        .text = {},
        .encoding = format != nullptr ? format->encoding : static_cast<Encoding>(tab.encoding),
        .line_ending =
            format != nullptr ? format->line_ending : static_cast<LineEnding>(tab.line_ending),
    };
    std::filesystem::path destination = tab.path;
    if (save_as || destination.empty()) {
        destination = pick ? pick(request) : choose_file(true, false, &request, false);
        if (destination.empty()) {
            return false;
        }
    }
    try {
        return write_and_adopt(save_as, format, request, destination);
    } catch (const std::exception& error) {
        show_error_message(error);
        return false;
    }
}

void show_save_format_menu(bool encoding) {
    if (tabs.empty()) {
        return;
    }
    const DocumentTab& tab = current_tab();
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    AppendMenuW(menu, MF_STRING | MF_GRAYED, 0,
                encoding ? L"Save with encoding" : L"Save with line endings");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    const UINT first = encoding ? first_encoding_item : first_line_ending_item;
    const UINT count = encoding ? encoding_items.size() : line_ending_items.size();
    for (UINT i = 0; i < count; ++i) {
        AppendMenuW(menu, MF_STRING, first + i,
                    encoding ? encoding_items[i] : line_ending_items[i]);
    }
    const UINT current = encoding ? tab.encoding : tab.line_ending;
    CheckMenuRadioItem(menu, first, first + count - 1, first + current, MF_BYCOMMAND);
    POINT corner{};
    status_item_corner(encoding, corner);
    const UINT chosen =
        static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_BOTTOMALIGN | TPM_RIGHTALIGN,
                                         corner.x, corner.y, 0, main_window, nullptr));
    DestroyMenu(menu);
    if (chosen < first || chosen >= first + count) {
        return;
    }
    Document request{
        .text = {},
        .encoding = static_cast<Encoding>(tab.encoding),
        .line_ending = static_cast<LineEnding>(tab.line_ending),
    };
    if (encoding) {
        request.encoding = static_cast<Encoding>(chosen - first);
    } else {
        request.line_ending = static_cast<LineEnding>(chosen - first);
    }
    save_file(tab.path.empty(), &request, {});
}

} // namespace pellix
