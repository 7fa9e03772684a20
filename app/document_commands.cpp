#include "app/document_commands.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/file_dialogs.h"
#include "app/main_window_state.h"
#include "app/palette.h"
#include "app/views.h"
#include "core/file_io.h"
#include "core/file_paths.h"
#include "core/window_work.h"
#include "editor/source_interface.h"
#include "markdown/export.h"
#include "preview/printing.h"

namespace pellix {

namespace {

constexpr char copy_path_failure[] = "Could not copy the source path.";
constexpr char16_t untitled_export_name[] = u"Untitled.md";

std::u16string export_name(const std::filesystem::path& path) {
    if (path.empty()) {
        return untitled_export_name;
    }
    const std::wstring name = path.filename().wstring();
    return {name.begin(), name.end()};
}

ExportRequest collect_export_request(bool json) {
    const DocumentTab& tab = current_tab();
    ExportRequest request{
        .open_paths = {},
        .destination = {},
        .document = source_document(tab.editor),
        .encoding = static_cast<Encoding>(tab.encoding),
        .line_ending = static_cast<LineEnding>(tab.line_ending),
        .as_json = json,
        .name = export_name(tab.path),
        .markdown = is_markdown_path(tab.path),
        .dark = dark_theme,
    };
    for (const auto& open : tabs) {
        if (!open->path.empty()) {
            request.open_paths.push_back(open->path);
        }
    }
    return request;
}

// A movable block holding `text` and its NUL; null when it cannot be made.
HGLOBAL unicode_block(const std::wstring& text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block == nullptr) {
        return nullptr;
    }
    void* memory = GlobalLock(block);
    if (memory == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(memory, text.c_str(), bytes);
    GlobalUnlock(block);
    return block;
}

} // namespace

void export_document(bool json, const std::function<std::filesystem::path()>& pick) {
    if (tabs.empty()) {
        return;
    }
    ExportRequest request = collect_export_request(json);
    std::filesystem::path destination = pick ? pick() : choose_file(true, true, nullptr, json);
    if (destination.empty()) {
        return;
    }
    request.destination = absolute_file_path(destination).lexically_normal();
    window_work([&request] { build_export_text(request); });
}

void copy_full_path() {
    if (tabs.empty() || current_tab().path.empty()) {
        return;
    }
    HGLOBAL block = unicode_block(current_tab().path.wstring());
    if (block == nullptr) {
        throw std::runtime_error(copy_path_failure);
    }
    if (!OpenClipboard(main_window)) {
        GlobalFree(block);
        throw std::runtime_error(copy_path_failure);
    }
    if (!EmptyClipboard() || SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
        GlobalFree(block);
        CloseClipboard();
        throw std::runtime_error(copy_path_failure);
    }
    CloseClipboard();
}

void open_containing_folder() {
    if (tabs.empty() || current_tab().path.empty()) {
        return;
    }
    PIDLIST_ABSOLUTE item = nullptr;
    if (FAILED(SHParseDisplayName(current_tab().path.c_str(), nullptr, &item, 0, nullptr)) ||
        item == nullptr) {
        return;
    }
    SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
    CoTaskMemFree(item);
}

void print_document() {
    if (tabs.empty()) {
        return;
    }
    // The print job makes the preview when it is missing; made here, it gets the main window's
    // colours and scroll report like one made by a view change.
    ensure_preview_window();
    const DocumentTab& tab = current_tab();
    request_print(
        PrintSource{source_text(tab.editor), tab.path}, chrome.preview_host,
        [](unsigned int id) { PostMessageW(main_window, WM_COMMAND, MAKEWPARAM(id, 0), 0); });
}

} // namespace pellix
