#include "bench/bench.h"
#include "bench/bench_work_stages.h"

#include <windows.h>
#include <psapi.h>
#include <d2d1.h>
#include <dwrite.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "app/palette.h"
#include "core/limits.h"
#include "core/source_document.h"
#include "editor/source_host.h"
#include "editor/source_interface.h"
#include "editor/source_record.h"
#include "editor/source_window.h"
#include "platform/com_ptr.h"

namespace pellix {
namespace {

constexpr int window_width = 1000;
constexpr int window_height = 800;
constexpr int rounds = 5;
constexpr int page_downs = 8;
constexpr int keystrokes = 200;
constexpr int automation_calls = 20;

// Markdown-like source of about `units` UTF-16 units, every colouring construct included.
std::wstring make_source(std::size_t units) {
    const wchar_t* lines[] = {
        L"## Section heading with `code`\n",
        L"A line of ordinary prose with **bold**, *italic* and a [link](https://example.test).\n",
        L"- [ ] open task with ~~struck~~ text\n",
        L"1. numbered point\n",
        L"> a quoted remark\n",
        L"| a | b | c |\n",
        L"```\n",
        L"for (int i = 0; i < count; ++i) { total += values[i]; }\n",
        L"```\n",
        L"\n",
        L"Plain text that runs on for a while without any Markdown in it at all, as notes do.\n",
    };
    std::mt19937 random(7);
    std::wstring text;
    while (text.size() < units) {
        text += lines[random() % std::size(lines)];
    }
    text.resize(std::min(units, static_cast<std::size_t>(document_limit)));
    return text;
}

// Wine reports no private bytes; the working set follows what is touched, and nothing here is
// allocated without being written.
double private_mib() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

void serve_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// Serves messages until the editor's last paint left nothing for later (at most ten seconds).
void finish_layouts(HWND editor) {
    const Source* source = source_record(editor);
    const DWORD end = GetTickCount() + 10000;
    while (source->budget.last_paint_pending && GetTickCount() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        serve_messages();
    }
}

// Whether every row and line number the view shows has its layout, so that the paint which
// built them drew them: the screen is complete.
bool screen_complete(HWND editor) {
    Source& source = *source_record(editor);
    const double view = view_height(source);
    for (std::uint64_t line = line_at_height(source.heights, source.scroll_y);
         line < source.heights.size() && source.heights.prefix(line) - source.scroll_y < view;
         ++line) {
        if (source.line_numbers && source.number_cache.count(line) == 0) {
            return false;
        }
        const auto cached = source.line_cache.find(line);
        if (cached == source.line_cache.end()) {
            return false;
        }
        double top = source.heights.prefix(line) - source.scroll_y;
        for (const LinePiece& piece : cached->second.pieces) {
            if (top + piece.height >= 0.0 && top < view && !piece.layout) {
                return false;
            }
            top += piece.height;
        }
    }
    return true;
}

// Serves messages until the screen is complete (at most ten seconds).
void complete_screen(HWND editor) {
    UpdateWindow(editor);
    const DWORD end = GetTickCount() + 10000;
    while (!screen_complete(editor) && GetTickCount() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        serve_messages();
    }
}

void paint_now(HWND editor) {
    InvalidateRect(editor, nullptr, FALSE);
    UpdateWindow(editor);
}

double median_ms(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2] * 1000.0;
}

template <typename Work> double median_of(Work work) {
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        samples.push_back(bench::seconds_of(work));
        serve_messages();
    }
    return median_ms(samples);
}

// Frames of `window` through a window render target and through a DC render target bound to
// the window's DC, taken in turns: one that only clears (what any Direct2D drawing of this
// window costs here) and one that draws a screen of text (what the editor's paint costs with
// either target).
struct TargetFrames {
    double empty_window_target = 0.0;
    double empty_dc_target = 0.0;
    double text_window_target = 0.0;
    double text_dc_target = 0.0;
};

TargetFrames target_frames(HWND window) {
    constexpr int frame_rounds = 15;
    constexpr int screen_lines = 36;
    constexpr FLOAT line_pitch = 22.4f;
    ComPtr<ID2D1Factory> factory;
    D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                      reinterpret_cast<void**>(factory.put()));
    ComPtr<IDWriteFactory> dwrite;
    DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                        reinterpret_cast<IUnknown**>(dwrite.put()));
    ComPtr<IDWriteTextFormat> format;
    dwrite->CreateTextFormat(L"Consolas", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                             DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, 16.0f, L"",
                             format.put());
    const std::wstring text = make_source(screen_lines * 80);
    std::vector<ComPtr<IDWriteTextLayout>> layouts;
    for (std::size_t start = 0; layouts.size() < screen_lines;) {
        const std::size_t end = text.find(L'\n', start);
        ComPtr<IDWriteTextLayout>& layout = layouts.emplace_back();
        dwrite->CreateTextLayout(text.c_str() + start, static_cast<UINT32>(end - start),
                                 format.get(), 900.0f, 1000.0f, layout.put());
        start = end + 1;
    }
    RECT client{};
    GetClientRect(window, &client);
    const D2D1_SIZE_U size{static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom)};
    ComPtr<ID2D1HwndRenderTarget> window_target;
    factory->CreateHwndRenderTarget(D2D1::RenderTargetProperties(),
                                    D2D1::HwndRenderTargetProperties(window, size),
                                    window_target.put());
    ComPtr<ID2D1DCRenderTarget> dc_target;
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE));
    factory->CreateDCRenderTarget(&properties, dc_target.put());
    ComPtr<ID2D1SolidColorBrush> window_brush;
    window_target->CreateSolidColorBrush(D2D1::ColorF(0.1f, 0.1f, 0.1f), window_brush.put());
    HDC dc = GetDC(window);
    dc_target->BindDC(dc, &client);
    ComPtr<ID2D1SolidColorBrush> dc_brush;
    dc_target->CreateSolidColorBrush(D2D1::ColorF(0.1f, 0.1f, 0.1f), dc_brush.put());
    ReleaseDC(window, dc);

    auto frame = [&](ID2D1RenderTarget* target, ID2D1Brush* brush, bool with_text) {
        target->BeginDraw();
        target->Clear(D2D1::ColorF(0.98f, 0.98f, 0.98f));
        for (int i = 0; with_text && i < screen_lines; ++i) {
            target->DrawTextLayout(D2D1::Point2F(60.0f, static_cast<FLOAT>(i) * line_pitch),
                                   layouts[i].get(), brush, D2D1_DRAW_TEXT_OPTIONS_NONE);
        }
        target->EndDraw();
    };
    auto window_frame = [&](bool with_text) {
        return bench::seconds_of(
            [&] { frame(window_target.get(), window_brush.get(), with_text); });
    };
    auto dc_frame = [&](bool with_text) {
        return bench::seconds_of([&] {
            HDC paint_dc = GetDC(window);
            dc_target->BindDC(paint_dc, &client);
            frame(dc_target.get(), dc_brush.get(), with_text);
            ReleaseDC(window, paint_dc);
        });
    };
    std::vector<double> samples[4];
    for (int round = 0; round < frame_rounds; ++round) {
        samples[0].push_back(window_frame(false));
        samples[1].push_back(dc_frame(false));
        samples[2].push_back(window_frame(true));
        samples[3].push_back(dc_frame(true));
    }
    return {median_ms(samples[0]), median_ms(samples[1]), median_ms(samples[2]),
            median_ms(samples[3])};
}

HWND create_editor() {
    register_source_window_class(GetModuleHandleW(nullptr));
    HWND editor = CreateWindowExW(0, source_window_class, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL,
                                  0, 0, window_width, window_height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(editor);
    finish_layouts(editor);
    return editor;
}

double percentile_ms(std::vector<double> seconds, double share) {
    std::sort(seconds.begin(), seconds.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(seconds.size() - 1));
    return seconds[index] * 1000.0;
}

// The moment the owner of the keystroke editor last received EN_CHANGE.
std::chrono::steady_clock::time_point last_change;

// What the editor reported of the stages of the edit and paint under way.
std::array<double, work_stage::count> stage_ms{};

void install_bench_host() {
    SourceHost host;
    host.paint_colours = [](bool dark) { return paint_colours(dark); };
    host.record_work_stage = [](int stage, double milliseconds) {
        stage_ms[static_cast<std::size_t>(stage)] += milliseconds;
    };
    install_source_host(std::move(host));
}

// One keystroke's time, stage by stage, with what the stages leave out: dispatching the message
// (and what the editor does around the edit), and UpdateWindow's own work around the paint.
struct KeystrokeStages {
    std::array<double, work_stage::count> stages{};
    double message_rest = 0.0;
    double update_rest = 0.0;
};

double sum_of(const std::array<double, work_stage::count>& stages, int first, int end) {
    double sum = 0.0;
    for (int stage = first; stage < end; ++stage) {
        sum += stages[static_cast<std::size_t>(stage)];
    }
    return sum;
}

void print_stages(const std::vector<KeystrokeStages>& samples) {
    auto row = [&](const char* name, auto value_of) {
        std::vector<double> values;
        double total = 0.0;
        for (const KeystrokeStages& sample : samples) {
            values.push_back(value_of(sample));
            total += values.back();
        }
        std::sort(values.begin(), values.end());
        std::printf("    %-38s %8.3f ms median, %.3f ms mean\n", name, values[values.size() / 2],
                    total / static_cast<double>(values.size()));
    };
    std::printf("  where a keystroke's time goes (from the editor's stage clock):\n");
    row("message dispatch and the rest of WM_CHAR",
        [](const KeystrokeStages& sample) { return sample.message_rest; });
    for (int stage = 0; stage < work_stage::count; ++stage) {
        row(bench::work_stage_names[static_cast<std::size_t>(stage)],
            [&](const KeystrokeStages& sample) {
                return sample.stages[static_cast<std::size_t>(stage)];
            });
        if (stage + 1 == work_stage::paint_begin) {
            row("UpdateWindow around the paint",
                [](const KeystrokeStages& sample) { return sample.update_rest; });
        }
    }
}

// The share of colouring in laying out a line: the spans of each piece of `line` scanned as
// the layout does it.
double colouring_ms(Source& source, std::uint64_t line) {
    const std::uint64_t start = source.document.line_start(line);
    std::vector<std::u16string> texts;
    for (const LinePiece& piece : line_pieces(source, line)) {
        texts.push_back(source.document.text(start + piece.start, piece.length));
    }
    return median_of([&] {
        for (const std::u16string& text : texts) {
            std::vector<ColourSpan> spans = scan_colour_spans(text, source.fence_states[line]);
            order_spans(spans);
        }
    });
}

LRESULT CALLBACK change_owner_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND && HIWORD(wparam) == EN_CHANGE) {
        last_change = std::chrono::steady_clock::now();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// A top-level editor owned by a window that notes when EN_CHANGE arrives.
HWND create_owned_editor() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW owner_class{};
    owner_class.lpfnWndProc = change_owner_proc;
    owner_class.hInstance = instance;
    owner_class.lpszClassName = L"Pellix.Bench.ChangeOwner";
    RegisterClassW(&owner_class);
    static HWND owner = CreateWindowExW(0, L"Pellix.Bench.ChangeOwner", L"", WS_POPUP, 0, 0, 10, 10,
                                        nullptr, nullptr, instance, nullptr);
    register_source_window_class(instance);
    HWND editor =
        CreateWindowExW(0, source_window_class, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 0, 0,
                        window_width, window_height, owner, nullptr, instance, nullptr);
    UpdateWindow(editor);
    return editor;
}

// Prose as it is written in Markdown: `paragraphs` paragraphs of about `units` units, each one
// wrapped line, a blank line between them, sentences with now and then some emphasis or code.
std::wstring make_prose(int paragraphs, std::size_t units) {
    const wchar_t* words[] = {L"the",     L"editor",   L"keeps",   L"every", L"paragraph",
                              L"on",      L"one",      L"line",    L"and",   L"wraps",
                              L"it",      L"where",    L"a",       L"word",  L"no longer",
                              L"fits,",   L"so",       L"writing", L"prose", L"*flows*",
                              L"without", L"`breaks`", L"of",      L"its",   L"own."};
    std::mt19937 random(11);
    std::wstring text;
    for (int p = 0; p < paragraphs; ++p) {
        const std::size_t end = text.size() + units;
        text += L"Paragraph " + std::to_wstring(p + 1) + L":";
        while (text.size() < end) {
            text += L' ';
            text += words[random() % std::size(words)];
        }
        text += p + 1 < paragraphs ? L"\n\n" : L"\n";
    }
    return text;
}

// Typed characters with the caret mid-document: to EN_CHANGE (no paint), and through the
// repaint; then one undo.
void measure_typing(const char* name, const std::wstring& text, std::size_t caret) {
    HWND editor = create_owned_editor();
    Source& source = *source_record(editor);
    const double empty_paint = median_of([&] { paint_now(editor); });
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(editor, EM_SETSEL, caret, static_cast<LPARAM>(caret));
    UpdateWindow(editor);
    finish_layouts(editor);
    std::vector<double> to_change;
    std::vector<double> with_paint;
    std::vector<std::uint32_t> drawn;
    std::vector<KeystrokeStages> stages;
    for (int i = 0; i < keystrokes; ++i) {
        stage_ms = {};
        const auto start = std::chrono::steady_clock::now();
        SendMessageW(editor, WM_CHAR, L'a' + i % 26, 0);
        const auto handled = std::chrono::steady_clock::now();
        to_change.push_back(std::chrono::duration<double>(last_change - start).count());
        UpdateWindow(editor);
        const auto painted = std::chrono::steady_clock::now();
        with_paint.push_back(std::chrono::duration<double>(painted - start).count());
        drawn.push_back(source.layouts_drawn);
        KeystrokeStages& sample = stages.emplace_back();
        sample.stages = stage_ms;
        sample.message_rest = bench::milliseconds_between(start, handled) -
                              sum_of(stage_ms, 0, work_stage::paint_begin);
        sample.update_rest = bench::milliseconds_between(handled, painted) -
                             sum_of(stage_ms, work_stage::paint_begin, work_stage::count);
        serve_messages();
    }
    std::sort(drawn.begin(), drawn.end());
    const double full_redraw = median_of([&] { paint_now(editor); });
    const std::uint32_t full_drawn = source.layouts_drawn;
    // What the line numbers add to it.
    set_source_style(editor, default_font_points, false, false);
    complete_screen(editor);
    const double without_numbers = median_of([&] { paint_now(editor); });
    const std::uint32_t without_numbers_drawn = source.layouts_drawn;
    set_source_style(editor, default_font_points, false, true);
    complete_screen(editor);
    // The part of a keystroke that is DirectWrite's: laying the edited line out again.
    const std::uint64_t caret_line = source.document.line_of(source.document.selection[1]);
    const double relayout = median_of([&] {
        source.line_cache.erase(caret_line);
        std::vector<LinePiece>& pieces = line_pieces(source, caret_line);
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            build_piece_layout(source, caret_line, pieces[k]);
        }
    });
    const double colouring = colouring_ms(source, caret_line);
    SendMessageW(editor, WM_CHAR, L'\r', 0);
    const double undo = bench::seconds_of([&] { SendMessageW(editor, EM_UNDO, 0, 0); }) * 1000.0;
    const double undo_paint = bench::seconds_of([&] { UpdateWindow(editor); }) * 1000.0;
    std::printf("%s (%zu units), typing mid-document, %d keystrokes:\n", name, text.size(),
                keystrokes);
    std::printf("  WM_CHAR to EN_CHANGE               %8.3f ms median, %.3f ms p95\n",
                percentile_ms(to_change, 0.5), percentile_ms(to_change, 0.95));
    std::printf("  of which laying the edited line out %8.3f ms (DirectWrite, %llu units)\n",
                relayout,
                static_cast<unsigned long long>(line_length(source.document, caret_line)));
    std::printf("  of which colouring its pieces        %8.3f ms\n", colouring);
    std::printf("  WM_CHAR through UpdateWindow       %8.3f ms median, %.3f ms p95\n",
                percentile_ms(with_paint, 0.5), percentile_ms(with_paint, 0.95));
    std::printf("  text layouts drawn per keystroke   %8u median, %u most\n",
                drawn[drawn.size() / 2], drawn.back());
    std::printf("  the same window: empty paint %.3f ms, full redraw of the same screen %.3f ms "
                "(%u text layouts), %.3f ms without line numbers (%u text layouts)\n",
                empty_paint, full_redraw, full_drawn, without_numbers, without_numbers_drawn);
    std::printf("  undo of one edit                   %8.3f ms (+ %.3f ms repaint)\n", undo,
                undo_paint);
    print_stages(stages);
    DestroyWindow(editor);
    serve_messages();
}

void measure_typing(const char* name, std::size_t units) {
    // Room for the keystrokes below the limit.
    const std::wstring text = make_source(std::min(units, document_limit - 2 * keystrokes));
    measure_typing(name, text, text.size() / 2);
}

// Typing in the middle of the middle paragraph.
void measure_prose_typing(const char* name, int paragraphs, std::size_t units) {
    const std::wstring text = make_prose(paragraphs, units);
    const std::size_t start = text.find(L"Paragraph " + std::to_wstring(paragraphs / 2) + L":");
    measure_typing(name, text, (start + text.find(L'\n', start)) / 2);
}

// One UI Automation client call from another thread, as screen readers make them: a word
// range's text and a move by word in the middle of the document.
void measure_automation(const char* name, std::size_t units) {
    const std::wstring text = make_source(units);
    HWND editor = create_editor();
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    const auto middle = static_cast<LPARAM>(text.size() / 2);
    SendMessageW(editor, EM_SETSEL, static_cast<WPARAM>(middle), middle);
    Source& source = *source_record(editor);
    ComPtr<ITextProvider> provider;
    source.accessibility.provider->QueryInterface(__uuidof(ITextProvider),
                                                  reinterpret_cast<void**>(provider.put()));
    std::vector<double> first_call;
    std::vector<double> texts;
    std::vector<double> moves;
    std::atomic<bool> finished{false};
    std::thread client([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        SAFEARRAY* array = nullptr;
        first_call.push_back(bench::seconds_of([&] { provider->GetSelection(&array); }));
        LONG index = 0;
        ComPtr<IUnknown> element;
        SafeArrayGetElement(array, &index, element.put());
        SafeArrayDestroy(array);
        ComPtr<ITextRangeProvider> range;
        element->QueryInterface(__uuidof(ITextRangeProvider),
                                reinterpret_cast<void**>(range.put()));
        range->ExpandToEnclosingUnit(TextUnit_Word);
        for (int i = 0; i < automation_calls; ++i) {
            texts.push_back(bench::seconds_of([&] {
                BSTR word = nullptr;
                range->GetText(-1, &word);
                SysFreeString(word);
            }));
            moves.push_back(bench::seconds_of([&] {
                int moved = 0;
                range->Move(TextUnit_Word, 1, &moved);
            }));
        }
        CoUninitialize();
        finished = true;
    });
    while (!finished) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        serve_messages();
    }
    client.join();
    std::printf("%s (%zu units), UI Automation from a client thread:\n", name, text.size());
    std::printf("  first call (selection)             %8.3f ms\n", first_call[0] * 1000.0);
    std::printf("  a word range's text                %8.3f ms median\n", median_ms(texts));
    std::printf("  a move by word                     %8.3f ms median (the first %.3f ms: "
                "it derives the word boundaries of the text once)\n",
                median_ms(moves), moves[0] * 1000.0);
    DestroyWindow(editor);
    serve_messages();
}

void measure(const char* name, std::size_t units) {
    const std::wstring text = make_source(units);
    HWND editor = create_editor();
    const double empty_paint = median_of([&] { paint_now(editor); });

    const double set_text =
        bench::seconds_of(
            [&] { SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }) *
        1000.0;
    const double first_paint = bench::seconds_of([&] { UpdateWindow(editor); }) * 1000.0;
    const double set_and_first_paint = set_text + first_paint;
    const double until_complete = bench::seconds_of([&] { finish_layouts(editor); }) * 1000.0;
    const double one_paint = median_of([&] { paint_now(editor); });
    // The editor's own target goes first: Wine may fail a second window target on one window.
    clear_line_layouts(*source_record(editor));
    const TargetFrames frames = target_frames(editor);
    serve_messages();
    paint_now(editor);

    // A complete screen from a new text and after a page down, from the same start each time.
    std::vector<double> complete_set;
    std::vector<double> complete_page;
    for (int i = 0; i < rounds; ++i) {
        SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        finish_layouts(editor);
        complete_set.push_back(bench::seconds_of([&] {
            SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
            complete_screen(editor);
        }));
        finish_layouts(editor);
        complete_page.push_back(bench::seconds_of([&] {
            SendMessageW(editor, WM_VSCROLL, SB_PAGEDOWN, 0);
            complete_screen(editor);
        }));
    }
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    UpdateWindow(editor);
    finish_layouts(editor);

    std::vector<double> page_samples;
    std::vector<double> page_complete;
    for (int i = 0; i < page_downs; ++i) {
        page_samples.push_back(bench::seconds_of([&] {
            SendMessageW(editor, WM_VSCROLL, SB_PAGEDOWN, 0);
            UpdateWindow(editor);
        }));
        page_complete.push_back(bench::seconds_of([&] { finish_layouts(editor); }));
    }
    Source& source = *source_record(editor);
    const std::u16string units16(text.begin(), text.end());
    const double assign_only = median_of([&] {
        SourceDocument document;
        document.assign(units16);
    });
    const double metrics_only = median_of([&] {
        source.metrics_valid = false;
        ensure_line_metrics(source);
    });
    std::uint64_t visible_lines = 0;
    const double layouts_unbudgeted =
        bench::seconds_of([&] {
            source.line_cache.clear();
            const double view = view_height(source);
            for (std::uint64_t line = 0;
                 line < source.heights.size() && source.heights.prefix(line) < view; ++line) {
                std::vector<LinePiece>& pieces = line_pieces(source, line);
                for (std::size_t k = 0; k < pieces.size(); ++k) {
                    build_piece_layout(source, line, pieces[k]);
                }
                ++visible_lines;
            }
        }) *
        1000.0;
    std::printf("%s (%zu units), 1000x800 window:\n", name, text.size());
    std::printf("  building the first screen's %llu line layouts outside a paint: %.2f ms\n",
                static_cast<unsigned long long>(visible_lines), layouts_unbudgeted);
    std::printf("  of which: the rope's assign %.2f ms, the line metrics %.2f ms\n", assign_only,
                metrics_only);
    std::printf("  empty paint of the same window     %8.2f ms\n", empty_paint);
    std::printf(
        "  set text + first paint             %8.2f ms = %.2f + %.2f ms (%.2f ms more until "
        "every deferred layout of the screen is drawn)\n",
        set_and_first_paint, set_text, first_paint, until_complete);
    std::printf("  paint one screen                   %8.2f ms\n", one_paint);
    std::printf("  Direct2D frames of the same window, window target | DC target bound to its "
                "DC: empty %.2f | %.2f ms, a screen of text %.2f | %.2f ms\n",
                frames.empty_window_target, frames.empty_dc_target, frames.text_window_target,
                frames.text_dc_target);
    std::printf("  set text + complete screen         %8.2f ms median\n", median_ms(complete_set));
    std::printf("  page down to a complete screen     %8.2f ms median\n", median_ms(complete_page));
    std::printf("  page down + UpdateWindow           %8.2f ms median (%.2f ms more until "
                "complete)\n",
                median_ms(page_samples), median_ms(page_complete));
    DestroyWindow(editor);
    serve_messages();
}

void measure_memory() {
    const double start = private_mib();
    HWND editor = create_editor();
    const double renderer = private_mib() - start;

    const std::wstring text = make_source(document_limit);
    const std::u16string units(text.begin(), text.end());
    const double before_rope = private_mib();
    double rope = 0.0;
    {
        SourceDocument document;
        document.assign(units);
        rope = private_mib() - before_rope;
    }
    const double before_text = private_mib();
    SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    UpdateWindow(editor);
    finish_layouts(editor);
    const double growth = private_mib() - before_text;
    const double beyond = growth - rope;
    std::printf("memory (working set), 8 MiB document of %zu units:\n", text.size());
    std::printf("  renderer's fixed cost (window + first empty paint) %8.2f MiB\n", renderer);
    std::printf("  rope alone                                          %8.2f MiB\n", rope);
    std::printf("  growth on set text + first screen                   %8.2f MiB\n", growth);
    std::printf("  beyond the rope                                     %8.2f MiB = %.3f bytes "
                "per unit\n",
                beyond, beyond * 1024.0 * 1024.0 / static_cast<double>(text.size()));
    DestroyWindow(editor);
    serve_messages();
}

// One wrapped line of words: its pieces break where one layout of the line would, so the
// first screen at its end lays out every piece before it.
void measure_long_line(const char* name, std::size_t units) {
    std::wstring text;
    for (int i = 0; text.size() < units; ++i) {
        text += L"word" + std::to_wstring(i % 97) + (i % 7 == 0 ? L", " : L" ");
    }
    HWND editor = create_editor();
    const double top = bench::seconds_of([&] {
        SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        complete_screen(editor);
    });
    const double end = bench::seconds_of([&] {
        SendMessageW(editor, EM_SETSEL, static_cast<WPARAM>(-1), -1);
        SendMessageW(editor, EM_SCROLLCARET, 0, 0);
        complete_screen(editor);
    });
    std::printf("%s single wrapped line (%zu units, %zu pieces):\n", name, text.size(),
                line_pieces(*source_record(editor), 0).size());
    std::printf("  set text + complete screen         %8.2f ms\n", top * 1000.0);
    std::printf("  caret to its end + complete screen %8.2f ms\n", end * 1000.0);
    DestroyWindow(editor);
    serve_messages();
}

// The keystroke figures of the editor bench alone.
bench::Registration keystroke_bench("editor_keystroke", [] {
    install_bench_host();
    measure_typing("8 KiB", 8 * 1024);
    measure_typing("8 MiB", document_limit);
    measure_prose_typing("24 paragraphs of ~1,000 units", 24, 1000);
    measure_prose_typing("24 paragraphs of ~3,000 units", 24, 3000);
});

bench::Registration editor_bench("editor", [] {
    install_bench_host();
    measure_memory();
    measure("8 KiB", 8 * 1024);
    measure("8 MiB", document_limit);
    measure_long_line("1 MiB", 1024 * 1024);
    measure_typing("8 KiB", 8 * 1024);
    measure_typing("8 MiB", document_limit);
    measure_automation("8 KiB", 8 * 1024);
    measure_automation("8 MiB", document_limit);
});

} // namespace
} // namespace pellix
