#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/uia_core.h"
#include "tests/preview/accessible_window.h"

namespace pellix {
namespace {

using test::AccessibleWindow;
using test::on_client_thread;

// "Hello, wo_rld 42!\nsmile " then U+1F600 as a surrogate pair at 24-25. Word-class runs:
// [0,5) [7,13) [14,16) [18,23); lines and paragraphs start at 0 and 18.
const std::u16string sample = u"Hello, wo_rld 42!\nsmile \xD83D\xDE00";

AccessibleSnapshot sample_snapshot() {
    AccessibleSnapshot snap;
    snap.text = sample;
    snap.anchor = 9;
    snap.caret = 2;
    snap.first_visible = 18;
    snap.visible_end = 26;
    for (std::uint64_t i = 0; i < sample.size(); ++i) {
        if (i != 25) {
            snap.cluster_starts.push_back(i);
        }
    }
    // The provider sorts the lists and removes duplicates itself.
    std::reverse(snap.cluster_starts.begin(), snap.cluster_starts.end());
    snap.line_starts = {18, 0, 18};
    snap.paragraph_starts = {18};
    return snap;
}

std::wstring text_of(ITextRangeProvider* range, int max_length = -1) {
    BSTR text = nullptr;
    if (FAILED(range->GetText(max_length, &text))) {
        return L"<failed>";
    }
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

std::wstring wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

class TextProvider : public ::testing::Test {
protected:
    void SetUp() override {
        window.data.snapshot = sample_snapshot();
        window.attach(window.fake_callbacks());
        provider = ComPtr<IRawElementProviderSimple>::share(window.binding.provider);
        provider->QueryInterface(__uuidof(ITextProvider), reinterpret_cast<void**>(text.put()));
    }

    // A range [start, end) over the current text, made through the document range while
    // every offset counts as a character boundary (so that any offset can be reached).
    ComPtr<ITextRangeProvider> range(std::uint64_t start, std::uint64_t end) {
        std::vector<std::uint64_t> clusters;
        std::uint64_t length = 0;
        auto& snap = window.data.snapshot;
        invoke_on_ui_thread(window.binding.state, [&] {
            clusters = std::exchange(snap.cluster_starts, {});
            length = snap.text.size();
            for (std::uint64_t i = 0; i <= length; ++i) {
                snap.cluster_starts.push_back(i);
            }
        });
        ComPtr<ITextRangeProvider> result;
        text->get_DocumentRange(result.put());
        int moved = 0;
        result->MoveEndpointByUnit(TextPatternRangeEndpoint_Start, TextUnit_Character,
                                   static_cast<int>(start), &moved);
        result->MoveEndpointByUnit(TextPatternRangeEndpoint_End, TextUnit_Character,
                                   -static_cast<int>(length - end), &moved);
        invoke_on_ui_thread(window.binding.state,
                            [&] { snap.cluster_starts = std::move(clusters); });
        return result;
    }

    AccessibleWindow window;
    ComPtr<IRawElementProviderSimple> provider;
    ComPtr<ITextProvider> text;
};

TEST_F(TextProvider, PropertyTable) {
    on_client_thread([&] {
        auto property = [&](PROPERTYID id) {
            VARIANT value;
            EXPECT_EQ(provider->GetPropertyValue(id, &value), S_OK) << id;
            return value;
        };
        VARIANT value = property(30003);
        EXPECT_EQ(value.vt, VT_I4);
        EXPECT_EQ(value.lVal, 50030);
        value = property(30005);
        ASSERT_EQ(value.vt, VT_BSTR);
        EXPECT_STREQ(value.bstrVal, L"Markdown preview");
        VariantClear(&value);
        for (PROPERTYID id : {30009, 30016, 30017, 30040}) {
            value = property(id);
            EXPECT_EQ(value.vt, VT_BOOL) << id;
            EXPECT_EQ(value.boolVal, VARIANT_TRUE) << id;
        }
        value = property(30008);
        EXPECT_EQ(value.vt, VT_BOOL);
        EXPECT_EQ(value.boolVal, VARIANT_FALSE);      // the focus is elsewhere
        for (PROPERTYID id : {30019, 30000, 12345}) { // is-password and others: empty
            EXPECT_EQ(property(id).vt, VT_EMPTY) << id;
        }
        EXPECT_EQ(provider->GetPropertyValue(30003, nullptr), E_POINTER);
    });

    AccessibilityCallbacks editor = window.fake_callbacks();
    editor.name = L"Source editor";
    editor.document = false;
    window.attach(std::move(editor));
    ComPtr<IRawElementProviderSimple> editor_provider =
        ComPtr<IRawElementProviderSimple>::share(window.binding.provider);
    on_client_thread([&] {
        VARIANT value;
        EXPECT_EQ(editor_provider->GetPropertyValue(30003, &value), S_OK);
        EXPECT_EQ(value.lVal, 50004);
        EXPECT_EQ(editor_provider->GetPropertyValue(30005, &value), S_OK);
        EXPECT_STREQ(value.bstrVal, L"Source editor");
        VariantClear(&value);
    });
}

TEST_F(TextProvider, FacesPatternsAndFixedAnswers) {
    ComPtr<IUnknown> unknown, pattern, other_pattern;
    EXPECT_EQ(text->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(unknown.put())),
              S_OK);
    EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(provider.get()));
    ComPtr<IUnknown> nothing;
    EXPECT_EQ(provider->QueryInterface(__uuidof(ITextRangeProvider),
                                       reinterpret_cast<void**>(nothing.put())),
              E_NOINTERFACE);
    EXPECT_EQ(nothing.get(), nullptr);

    EXPECT_EQ(provider->GetPatternProvider(10014, pattern.put()), S_OK);
    EXPECT_EQ(pattern.get(), static_cast<IUnknown*>(text.get()));
    EXPECT_EQ(provider->GetPatternProvider(10002, other_pattern.put()), S_OK);
    EXPECT_EQ(other_pattern.get(), nullptr);

    ProviderOptions options{};
    EXPECT_EQ(provider->get_ProviderOptions(&options), S_OK);
    EXPECT_EQ(options, ProviderOptions_ServerSideProvider);
    SupportedTextSelection selection{};
    EXPECT_EQ(text->get_SupportedTextSelection(&selection), S_OK);
    EXPECT_EQ(selection, SupportedTextSelection_Single);
    ComPtr<ITextRangeProvider> child = range(0, 1);
    EXPECT_EQ(text->RangeFromChild(nullptr, child.put()), E_INVALIDARG);
    EXPECT_EQ(child.get(), nullptr);
}

TEST_F(TextProvider, SelectionVisibleRangesAndPoints) {
    std::wstring selected, visible;
    POINT screen{5, 6};
    ClientToScreen(window.hwnd, &screen);
    on_client_thread([&] {
        for (bool visible_ranges : {false, true}) {
            SAFEARRAY* array = nullptr;
            HRESULT hr =
                visible_ranges ? text->GetVisibleRanges(&array) : text->GetSelection(&array);
            ASSERT_EQ(hr, S_OK);
            VARTYPE type = 0;
            SafeArrayGetVartype(array, &type);
            EXPECT_EQ(type, VT_UNKNOWN);
            LONG upper = -1;
            SafeArrayGetUBound(array, 1, &upper);
            EXPECT_EQ(upper, 0);
            LONG index = 0;
            ComPtr<IUnknown> element;
            SafeArrayGetElement(array, &index, element.put());
            ComPtr<ITextRangeProvider> range;
            element->QueryInterface(__uuidof(ITextRangeProvider),
                                    reinterpret_cast<void**>(range.put()));
            (visible_ranges ? visible : selected) = text_of(range.get());
            SafeArrayDestroy(array);
        }
        ComPtr<ITextRangeProvider> at_point;
        ASSERT_EQ(text->RangeFromPoint(UiaPoint{screen.x + 0.9, screen.y + 0.2}, at_point.put()),
                  S_OK);
        EXPECT_EQ(at_point->ExpandToEnclosingUnit(TextUnit_Word), S_OK);
        EXPECT_EQ(text_of(at_point.get()), L"wo_rld"); // offset 7 from the fake
    });
    EXPECT_EQ(selected, L"llo, wo"); // anchor 9, caret 2
    EXPECT_EQ(visible, wide(sample.substr(18)));
    ASSERT_EQ(window.data.points.size(), 1u);
    EXPECT_EQ(window.data.points[0].x, 5);
    EXPECT_EQ(window.data.points[0].y, 6);
    for (DWORD thread : window.data.callback_threads) {
        EXPECT_EQ(thread, window.ui_thread);
    }

    AccessibilityCallbacks no_hit_test = window.fake_callbacks();
    no_hit_test.offset_at = nullptr;
    window.attach(std::move(no_hit_test));
    ComPtr<ITextProvider> other;
    window.binding.provider->QueryInterface(__uuidof(ITextProvider),
                                            reinterpret_cast<void**>(other.put()));
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> none;
        EXPECT_EQ(other->RangeFromPoint(UiaPoint{1, 1}, none.put()), E_FAIL);
        EXPECT_EQ(none.get(), nullptr);
    });
}

TEST_F(TextProvider, ExpandToEnclosingUnit) {
    on_client_thread([&] {
        auto expanded = [&](std::uint64_t start, std::uint64_t end, TextUnit unit) {
            ComPtr<ITextRangeProvider> r = range(start, end);
            EXPECT_EQ(r->ExpandToEnclosingUnit(unit), S_OK);
            return text_of(r.get());
        };
        EXPECT_EQ(expanded(9, 9, TextUnit_Word), L"wo_rld");
        EXPECT_EQ(expanded(5, 5, TextUnit_Word), L", ");
        EXPECT_EQ(expanded(16, 20, TextUnit_Word), L"!\n");
        EXPECT_EQ(expanded(26, 26, TextUnit_Character), L"\xD83D\xDE00"); // the last unit
        EXPECT_EQ(expanded(3, 3, TextUnit_Line), L"Hello, wo_rld 42!\n");
        EXPECT_EQ(expanded(20, 20, TextUnit_Paragraph), wide(sample.substr(18)));
        EXPECT_EQ(expanded(20, 21, TextUnit_Document), wide(sample));
        EXPECT_EQ(expanded(20, 21, TextUnit_Page), wide(sample));
    });
    window.data.snapshot = AccessibleSnapshot{};
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> empty;
        text->get_DocumentRange(empty.put());
        EXPECT_EQ(empty->ExpandToEnclosingUnit(TextUnit_Character), S_OK);
        EXPECT_EQ(text_of(empty.get()), L"");
        int moved = 5;
        EXPECT_EQ(empty->Move(TextUnit_Word, 1, &moved), S_OK);
        EXPECT_EQ(moved, 0);
    });
}

TEST_F(TextProvider, MoveAndMoveEndpoint) {
    on_client_thread([&] {
        int moved = 0;
        ComPtr<ITextRangeProvider> caret = range(2, 2);
        EXPECT_EQ(caret->Move(TextUnit_Word, 1, &moved), S_OK);
        EXPECT_EQ(moved, 1);
        ComPtr<ITextRangeProvider> expected = range(5, 5);
        BOOL same = FALSE;
        caret->Compare(expected.get(), &same);
        EXPECT_TRUE(same); // a degenerate range stays degenerate

        ComPtr<ITextRangeProvider> word = range(0, 5);
        EXPECT_EQ(word->Move(TextUnit_Word, 2, &moved), S_OK);
        EXPECT_EQ(moved, 2);
        EXPECT_EQ(text_of(word.get()), L"wo_rld");
        EXPECT_EQ(word->Move(TextUnit_Word, 100, &moved), S_OK);
        EXPECT_EQ(moved, 5); // stops at the last unit
        EXPECT_EQ(text_of(word.get()), L" \xD83D\xDE00");
        EXPECT_EQ(word->Move(TextUnit_Word, -100, &moved), S_OK);
        EXPECT_EQ(moved, -7);
        EXPECT_EQ(text_of(word.get()), L"Hello");
        EXPECT_EQ(word->Move(TextUnit_Word, 0, &moved), S_OK);
        EXPECT_EQ(moved, 0);

        ComPtr<ITextRangeProvider> character = range(23, 24);
        EXPECT_EQ(character->Move(TextUnit_Character, 1, &moved), S_OK);
        EXPECT_EQ(text_of(character.get()), L"\xD83D\xDE00"); // a pair is one unit

        ComPtr<ITextRangeProvider> span = range(7, 13);
        EXPECT_EQ(span->MoveEndpointByUnit(TextPatternRangeEndpoint_End, TextUnit_Word, -3, &moved),
                  S_OK);
        EXPECT_EQ(moved, -3);
        ComPtr<ITextRangeProvider> origin = range(0, 0);
        span->Compare(origin.get(), &same);
        EXPECT_TRUE(same); // moving End before Start moved Start too

        ComPtr<ITextRangeProvider> inside = range(9, 11);
        EXPECT_EQ(
            inside->MoveEndpointByUnit(TextPatternRangeEndpoint_Start, TextUnit_Word, 1, &moved),
            S_OK);
        EXPECT_EQ(moved, 1); // counted from the boundary before offset 9
        EXPECT_EQ(text_of(inside.get()), L"");
        int order = 9;
        inside->CompareEndpoints(TextPatternRangeEndpoint_Start, range(13, 13).get(),
                                 TextPatternRangeEndpoint_Start, &order);
        EXPECT_EQ(order, 0);

        ComPtr<ITextRangeProvider> lines = range(3, 3);
        EXPECT_EQ(lines->MoveEndpointByUnit(TextPatternRangeEndpoint_End, TextUnit_Line, 5, &moved),
                  S_OK);
        EXPECT_EQ(moved, 2);
        EXPECT_EQ(text_of(lines.get()), wide(sample.substr(3)));

        ComPtr<ITextRangeProvider> target = range(14, 16);
        ComPtr<ITextRangeProvider> moving = range(18, 20);
        EXPECT_EQ(moving->MoveEndpointByRange(TextPatternRangeEndpoint_Start, target.get(),
                                              TextPatternRangeEndpoint_Start),
                  S_OK);
        EXPECT_EQ(text_of(moving.get()), L"42!\nsm");
        EXPECT_EQ(moving->MoveEndpointByRange(TextPatternRangeEndpoint_End, target.get(),
                                              TextPatternRangeEndpoint_Start),
                  S_OK);
        EXPECT_EQ(text_of(moving.get()), L"");
        EXPECT_EQ(moving->MoveEndpointByRange(TextPatternRangeEndpoint_End, nullptr,
                                              TextPatternRangeEndpoint_Start),
                  E_INVALIDARG);
    });
}

TEST_F(TextProvider, CaretMovingBackFromInsideAUnitCountsItsOwnStart) {
    on_client_thread([&] {
        auto lands = [&](std::uint64_t caret, TextUnit unit, int count, std::uint64_t at,
                         int moved) {
            ComPtr<ITextRangeProvider> r = range(caret, caret);
            int actual = 0;
            BOOL same = FALSE;
            r->Move(unit, count, &actual);
            r->Compare(range(at, at).get(), &same);
            return same && actual == moved;
        };
        EXPECT_TRUE(lands(9, TextUnit_Word, -1, 7, -1)); // the start of "wo_rld" is one unit
        EXPECT_TRUE(lands(9, TextUnit_Word, -2, 5, -2));
        EXPECT_TRUE(lands(9, TextUnit_Word, -100, 0, -3));
        EXPECT_TRUE(lands(7, TextUnit_Word, -1, 5, -1));
        EXPECT_TRUE(lands(25, TextUnit_Character, -1, 24, -1)); // inside the surrogate pair
    });
}

TEST_F(TextProvider, CompareAcrossStates) {
    AccessibleWindow other;
    other.data.snapshot = sample_snapshot();
    other.attach(other.fake_callbacks());
    ComPtr<ITextProvider> other_text;
    other.binding.provider->QueryInterface(__uuidof(ITextProvider),
                                           reinterpret_cast<void**>(other_text.put()));
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> mine, theirs, clone;
        text->get_DocumentRange(mine.put());
        other_text->get_DocumentRange(theirs.put());
        EXPECT_EQ(mine->Clone(clone.put()), S_OK);
        BOOL same = FALSE;
        EXPECT_EQ(mine->Compare(clone.get(), &same), S_OK);
        EXPECT_TRUE(same);
        EXPECT_EQ(mine->Compare(theirs.get(), &same), S_OK);
        EXPECT_FALSE(same);
        EXPECT_EQ(mine->Compare(nullptr, &same), S_OK);
        EXPECT_FALSE(same);
        EXPECT_EQ(mine->Compare(range(0, 25).get(), &same), S_OK);
        EXPECT_FALSE(same);

        int order = 7;
        EXPECT_EQ(mine->CompareEndpoints(TextPatternRangeEndpoint_Start, theirs.get(),
                                         TextPatternRangeEndpoint_Start, &order),
                  E_INVALIDARG);
        EXPECT_EQ(mine->CompareEndpoints(TextPatternRangeEndpoint_Start, nullptr,
                                         TextPatternRangeEndpoint_Start, &order),
                  E_INVALIDARG);
        EXPECT_EQ(mine->CompareEndpoints(TextPatternRangeEndpoint_Start, clone.get(),
                                         TextPatternRangeEndpoint_End, &order),
                  S_OK);
        EXPECT_EQ(order, -1);
        EXPECT_EQ(mine->CompareEndpoints(TextPatternRangeEndpoint_End, clone.get(),
                                         TextPatternRangeEndpoint_Start, &order),
                  S_OK);
        EXPECT_EQ(order, 1);
    });
}

TEST_F(TextProvider, FindText) {
    on_client_thread([&] {
        auto find = [&](ITextRangeProvider* in, const wchar_t* what, BOOL backward,
                        BOOL ignore_case) -> std::wstring {
            BSTR search = SysAllocString(what);
            ComPtr<ITextRangeProvider> found;
            HRESULT hr = in->FindText(search, backward, ignore_case, found.put());
            SysFreeString(search);
            if (hr != S_OK) {
                return L"<failed>";
            }
            if (!found) {
                return L"<none>";
            }
            return text_of(found.get());
        };
        ComPtr<ITextRangeProvider> all = range(0, 26);
        EXPECT_EQ(find(all.get(), L"HELLO", FALSE, TRUE), L"Hello");
        EXPECT_EQ(find(all.get(), L"HELLO", FALSE, FALSE), L"<none>");
        EXPECT_EQ(find(all.get(), L"", FALSE, FALSE), L"<none>");

        // Where the match lies: compare the found ranges with ranges made by offset.
        auto found_at = [&](ITextRangeProvider* in, const wchar_t* what, BOOL backward) {
            BSTR search = SysAllocString(what);
            ComPtr<ITextRangeProvider> found;
            in->FindText(search, backward, FALSE, found.put());
            SysFreeString(search);
            for (std::uint64_t offset = 0; found && offset <= sample.size(); ++offset) {
                BOOL same = FALSE;
                found->Compare(range(offset, offset + SysStringLen(search)).get(), &same);
                if (same) {
                    return static_cast<int>(offset);
                }
            }
            return -1;
        };
        EXPECT_EQ(found_at(all.get(), L"l", FALSE), 2);
        EXPECT_EQ(found_at(all.get(), L"l", TRUE), 21);
        EXPECT_EQ(found_at(range(7, 26).get(), L"l", FALSE), 11);
        EXPECT_EQ(found_at(range(0, 11).get(), L"ld", FALSE), -1); // must lie inside the range
        EXPECT_EQ(found_at(all.get(), L"\xD83D\xDE00", FALSE), 24);
    });
}

TEST_F(TextProvider, GetTextNeverSplitsASurrogatePair) {
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> all = range(0, 26);
        BSTR text_out = nullptr;
        EXPECT_EQ(all->GetText(-2, &text_out), E_INVALIDARG);
        EXPECT_EQ(text_out, nullptr);
        EXPECT_EQ(text_of(all.get()), wide(sample));
        EXPECT_EQ(text_of(all.get(), 3), L"Hel");
        EXPECT_EQ(text_of(range(23, 26).get(), 2), L" ");
        EXPECT_EQ(text_of(range(23, 26).get(), 3), L" \xD83D\xDE00");
        EXPECT_EQ(text_of(range(24, 26).get(), 1), L"");
        EXPECT_EQ(text_of(range(24, 26).get(), 0), L"");
        // Nothing counted and the next unit a low surrogate: the count must not wrap.
        EXPECT_EQ(text_of(range(25, 26).get(), 0), L"");
        EXPECT_EQ(text_of(range(25, 25).get()), L"");
        EXPECT_EQ(all->GetText(5, nullptr), E_POINTER);
    });
}

TEST_F(TextProvider, RangesFollowTheCurrentTextAndClampToIt) {
    ComPtr<ITextRangeProvider> tail;
    on_client_thread([&] { tail = range(20, 26); });
    window.data.snapshot.text = u"Hi";
    window.data.snapshot.cluster_starts = {0, 1};
    on_client_thread([&] {
        SAFEARRAY* array = nullptr;
        ASSERT_EQ(tail->GetBoundingRectangles(&array), S_OK);
        auto* values = static_cast<double*>(array->pvData); // the fake echoes its offsets
        EXPECT_EQ(std::vector<double>(values, values + 2), (std::vector<double>{2, 2}));
        SafeArrayDestroy(array);
        EXPECT_EQ(tail->Select(), S_OK);
        EXPECT_EQ(tail->ScrollIntoView(FALSE), S_OK);
    });
    using Selection = std::pair<unsigned long long, unsigned long long>;
    EXPECT_EQ(window.data.selections, (std::vector<Selection>{{2, 2}}));
    EXPECT_EQ(window.data.scrolls, std::vector<unsigned long long>{2});
    on_client_thread([&] {
        EXPECT_EQ(text_of(tail.get()), L"");
        BOOL same = FALSE;
        ComPtr<ITextRangeProvider> end;
        text->get_DocumentRange(end.put());
        int moved = 0;
        end->MoveEndpointByUnit(TextPatternRangeEndpoint_Start, TextUnit_Document, 1, &moved);
        tail->Compare(end.get(), &same);
        EXPECT_TRUE(same); // stored as [2, 2]
        // The line list still holds 18 from the old text: no range may land there.
        ComPtr<ITextRangeProvider> line = range(2, 2);
        EXPECT_EQ(line->ExpandToEnclosingUnit(TextUnit_Line), S_OK);
        EXPECT_EQ(text_of(line.get()), L"Hi");
    });
}

TEST_F(TextProvider, WindowOperationsRunOnTheUiThread) {
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> words = range(7, 13);
        VARIANT value;
        EXPECT_EQ(words->GetAttributeValue(40015, &value), S_OK);
        EXPECT_EQ(value.vt, VT_BOOL);
        EXPECT_EQ(value.boolVal, VARIANT_TRUE); // a document without is_read_only
        EXPECT_EQ(words->GetAttributeValue(40001, &value), S_OK);
        EXPECT_EQ(value.vt, VT_UNKNOWN); // the reserved not-supported value
        VariantClear(&value);

        SAFEARRAY* rectangles = nullptr;
        ASSERT_EQ(words->GetBoundingRectangles(&rectangles), S_OK);
        double* values = nullptr;
        SafeArrayAccessData(rectangles, reinterpret_cast<void**>(&values));
        LONG upper = -1;
        SafeArrayGetUBound(rectangles, 1, &upper);
        EXPECT_EQ(upper, 3);
        EXPECT_EQ(std::vector<double>(values, values + 4), (std::vector<double>{7, 13, 3.5, 4}));
        SafeArrayUnaccessData(rectangles);
        SafeArrayDestroy(rectangles);

        ComPtr<IRawElementProviderSimple> element;
        EXPECT_EQ(words->GetEnclosingElement(element.put()), S_OK);
        EXPECT_EQ(element.get(), provider.get());

        EXPECT_EQ(words->Select(), S_OK);
        EXPECT_EQ(range(1, 2)->AddToSelection(), S_OK);
        EXPECT_EQ(words->RemoveFromSelection(), uia::e_invalid_operation);
        EXPECT_EQ(words->ScrollIntoView(TRUE), S_OK);

        SAFEARRAY* children = nullptr;
        ASSERT_EQ(words->GetChildren(&children), S_OK);
        EXPECT_EQ(children->rgsabound[0].cElements, 0u);
        SafeArrayDestroy(children);

        ComPtr<ITextRangeProvider> found = range(0, 1);
        VARIANT anything;
        VariantInit(&anything);
        EXPECT_EQ(words->FindAttribute(40015, anything, FALSE, found.put()), S_OK);
        EXPECT_EQ(found.get(), nullptr);
    });
    using Selection = std::pair<unsigned long long, unsigned long long>;
    EXPECT_EQ(window.data.selections, (std::vector<Selection>{{7, 13}, {1, 2}}));
    EXPECT_EQ(window.data.scrolls, std::vector<unsigned long long>{7});
    for (DWORD thread : window.data.callback_threads) {
        EXPECT_EQ(thread, window.ui_thread);
    }

    AccessibilityCallbacks editor = window.fake_callbacks();
    editor.document = false;
    editor.is_read_only = [] { return false; };
    editor.bounds = nullptr;
    window.attach(std::move(editor));
    ComPtr<ITextProvider> editor_text;
    window.binding.provider->QueryInterface(__uuidof(ITextProvider),
                                            reinterpret_cast<void**>(editor_text.put()));
    window.data.snapshot_throws = true;
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> document;
        EXPECT_EQ(editor_text->get_DocumentRange(document.put()), E_FAIL);
    });
    window.data.snapshot_throws = false;
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> document;
        ASSERT_EQ(editor_text->get_DocumentRange(document.put()), S_OK);
        VARIANT value;
        EXPECT_EQ(document->GetAttributeValue(40015, &value), S_OK);
        EXPECT_EQ(value.boolVal, VARIANT_FALSE);
        SAFEARRAY* rectangles = nullptr;
        EXPECT_EQ(document->GetBoundingRectangles(&rectangles), E_FAIL);
        EXPECT_EQ(rectangles, nullptr);
    });
    detach_accessibility_state(window.binding);
    on_client_thread([&] {
        ComPtr<ITextRangeProvider> document;
        EXPECT_EQ(editor_text->get_DocumentRange(document.put()), uia::e_element_not_available);
    });
}

// Jumps between [0, 0] and [26, 26] pass through start 26, end 0 unless a range's offsets are
// written together; a reader must never see that, nor a window callback offsets past the text.
TEST_F(TextProvider, OneRangeUsedFromTwoClientThreads) {
    ComPtr<ITextRangeProvider> shared, at_start, at_end;
    on_client_thread([&] { shared = range(0, 0), at_start = range(0, 0), at_end = range(26, 26); });
    std::atomic<bool> writing{true};
    int torn = 0;
    on_client_thread([&] {
        std::thread reader([&] {
            for (unsigned i = 0; writing; ++i) { // bounded by the writer's loop
                int order = 0;
                shared->CompareEndpoints(TextPatternRangeEndpoint_Start, shared.get(),
                                         TextPatternRangeEndpoint_End, &order);
                torn += order > 0;
                SAFEARRAY* array = nullptr;
                if (i % 256 == 0 && shared->GetBoundingRectangles(&array) == S_OK) {
                    auto* values = static_cast<double*>(array->pvData);
                    torn += values[0] > values[1] || values[1] > 26;
                    SafeArrayDestroy(array);
                }
            }
        });
        for (int i = 0, moved = 0; i < 20000; ++i) {
            shared->MoveEndpointByRange(TextPatternRangeEndpoint_Start, at_end.get(),
                                        TextPatternRangeEndpoint_Start);
            shared->MoveEndpointByRange(TextPatternRangeEndpoint_End, at_start.get(),
                                        TextPatternRangeEndpoint_Start);
            if (i % 100 == 0) {
                shared->Move(TextUnit_Word, 1, &moved);
                shared->ExpandToEnclosingUnit(TextUnit_Line);
            }
        }
        writing = false;
        reader.join();
    });
    EXPECT_EQ(torn, 0);
}

TEST_F(TextProvider, DetachedProviderAndRangesAnswerNotAvailable) {
    ComPtr<ITextRangeProvider> words, clone;
    ComPtr<IUnknown> pattern;
    on_client_thread([&] { words = range(7, 13); });
    detach_accessibility_state(window.binding);
    on_client_thread([&] {
        EXPECT_EQ(provider->GetPatternProvider(10014, pattern.put()), uia::e_element_not_available);
        SupportedTextSelection selection{};
        EXPECT_EQ(text->get_SupportedTextSelection(&selection), uia::e_element_not_available);
        EXPECT_EQ(words->Clone(clone.put()), uia::e_element_not_available);
        BOOL same = TRUE;
        EXPECT_EQ(words->Compare(words.get(), &same), uia::e_element_not_available);
        VARIANT value;
        EXPECT_EQ(words->GetAttributeValue(40001, &value), uia::e_element_not_available);
    });
    EXPECT_EQ(pattern.get(), nullptr);
    EXPECT_EQ(clone.get(), nullptr);
}

} // namespace
} // namespace pellix
