#include "preview/text_provider.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "platform/uia_core.h"

namespace pellix {

namespace {

using State = PreviewAccessibility::State;
using Offset = std::uint64_t;

// The snapshot of the State's window, taken on its UI thread, with its text part always in
// `shared` (moved there when the window filled the plain fields).
HRESULT snapshot(const std::shared_ptr<State>& state, AccessibleSnapshot& out) {
    const HRESULT hr = invoke_on_ui_thread(state, [&state, &out] { out = state->snapshot(); });
    if (SUCCEEDED(hr) && !out.shared) {
        auto text = std::make_shared<AccessibleText>();
        text->text = std::move(out.text);
        text->cluster_starts = std::move(out.cluster_starts);
        text->line_starts = std::move(out.line_starts);
        text->paragraph_starts = std::move(out.paragraph_starts);
        out.shared = std::move(text);
    }
    return hr;
}

const std::u16string& text_of(const AccessibleSnapshot& snap) {
    return snap.shared->text;
}

// ---- Text units ----------------------------------------------------------------------------

bool is_ascii_word_class(char16_t unit) {
    return unit == u'_' || (unit >= u'0' && unit <= u'9') || (unit >= u'A' && unit <= u'Z') ||
           (unit >= u'a' && unit <= u'z');
}

// One flag per unit: "_", or a letter or digit by GetStringTypeW (C1_ALPHA | C1_DIGIT). ASCII
// is classified directly (GetStringTypeW gives the same answer there) and only non-ASCII runs
// are handed to the system, which keeps word moves over megabytes of prose fast.
std::vector<bool> word_classes(const std::u16string& text) {
    std::vector<bool> classes(text.size());
    std::vector<WORD> types;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] < 0x80) {
            classes[i] = is_ascii_word_class(text[i]);
            ++i;
            continue;
        }
        std::size_t run_end = i;
        while (run_end < text.size() && text[run_end] >= 0x80) {
            ++run_end;
        }
        types.assign(run_end - i, 0);
        GetStringTypeW(CT_CTYPE1, reinterpret_cast<LPCWSTR>(text.data() + i),
                       static_cast<int>(run_end - i), types.data());
        for (std::size_t k = i; k < run_end; ++k) {
            classes[k] = (types[k - i] & (C1_ALPHA | C1_DIGIT)) != 0;
        }
        i = run_end;
    }
    return classes;
}

// Offsets at which a word-class run begins or ends: spaces and punctuation form units of
// their own between words.
std::vector<Offset> word_boundaries(const std::u16string& text) {
    std::vector<Offset> boundaries;
    std::vector<bool> classes = word_classes(text);
    for (std::size_t i = 1; i < classes.size(); ++i) {
        if (classes[i] != classes[i - 1]) {
            boundaries.push_back(i);
        }
    }
    return boundaries;
}

// The sorted, duplicate-free unit boundaries of the snapshot text, always holding 0 and the
// text length. Offsets past the end (a window's stale list) are dropped so that no range is
// ever placed outside the text.
std::vector<Offset> build_unit_boundaries(const AccessibleText& snap, int unit) {
    std::vector<Offset> boundaries;
    switch (unit) {
    case TextUnit_Character:
        boundaries = snap.cluster_starts;
        break;
    case TextUnit_Format:
    case TextUnit_Paragraph:
        boundaries = snap.paragraph_starts;
        break;
    case TextUnit_Word:
        boundaries = word_boundaries(snap.text);
        break;
    case TextUnit_Line:
        boundaries = snap.line_starts;
        break;
    default:
        break;
    }
    const Offset length = snap.text.size();
    std::erase_if(boundaries, [length](Offset offset) { return offset > length; });
    // Word boundaries and most windows' lists arrive sorted; sorting millions of them again
    // would dominate a word move over a large text.
    if (!std::is_sorted(boundaries.begin(), boundaries.end())) {
        std::sort(boundaries.begin(), boundaries.end());
    }
    if (boundaries.empty() || boundaries.front() != 0) {
        boundaries.insert(boundaries.begin(), 0);
    }
    if (boundaries.back() != length) {
        boundaries.push_back(length);
    }
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());
    return boundaries;
}

// The boundaries of `unit`, built once per text value and shared by every later call on it.
std::shared_ptr<const std::vector<Offset>> unit_boundaries(const AccessibleSnapshot& snap,
                                                           int unit) {
    const AccessibleText& text = *snap.shared;
    const auto slot = static_cast<std::size_t>(unit);
    if (slot >= text.unit_boundaries.size()) {
        return std::make_shared<const std::vector<Offset>>(build_unit_boundaries(text, unit));
    }
    std::lock_guard lock(text.mutex);
    if (!text.unit_boundaries[slot]) {
        text.unit_boundaries[slot] =
            std::make_shared<const std::vector<Offset>>(build_unit_boundaries(text, unit));
    }
    return text.unit_boundaries[slot];
}

// Index of the largest boundary <= offset (boundaries start with 0).
std::int64_t index_at_or_before(const std::vector<Offset>& boundaries, Offset offset) {
    auto it = std::upper_bound(boundaries.begin(), boundaries.end(), offset);
    return static_cast<std::int64_t>(it - boundaries.begin()) - 1;
}

// Index of the first boundary >= offset (the last boundary is the text length).
std::int64_t index_at_or_after(const std::vector<Offset>& boundaries, Offset offset) {
    auto it = std::lower_bound(boundaries.begin(), boundaries.end(), offset);
    return static_cast<std::int64_t>(it - boundaries.begin());
}

// ---- Small COM helpers ---------------------------------------------------------------------

// A SAFEARRAY of VT_UNKNOWN holding the given objects; the array takes its own references.
HRESULT make_unknown_array(std::initializer_list<IUnknown*> items, SAFEARRAY** out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(items.size()));
    if (!array) {
        return E_OUTOFMEMORY;
    }
    LONG index = 0;
    for (IUnknown* item : items) {
        HRESULT hr = SafeArrayPutElement(array, &index, item);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        ++index;
    }
    *out = array;
    return S_OK;
}

HRESULT make_double_array(const std::vector<double>& values, SAFEARRAY** out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
    if (!array) {
        return E_OUTOFMEMORY;
    }
    if (!values.empty()) {
        void* data = nullptr;
        HRESULT hr = SafeArrayAccessData(array, &data);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        std::copy(values.begin(), values.end(), static_cast<double*>(data));
        SafeArrayUnaccessData(array);
    }
    *out = array;
    return S_OK;
}

void set_bool(VARIANT* value, bool flag) {
    value->vt = VT_BOOL;
    value->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
}

// A screen coordinate truncated to an integer; values outside the LONG range (or NaN) would
// make the conversion undefined.
LONG truncate_coordinate(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double low = std::numeric_limits<LONG>::min();
    constexpr double high = std::numeric_limits<LONG>::max();
    return static_cast<LONG>(std::clamp(value, low, high));
}

// ---- Range ---------------------------------------------------------------------------------

struct Endpoints {
    Offset start = 0;
    Offset end = 0;
};

// The range limited to a text of `length` units, start never after end.
Endpoints clamped(Endpoints range, Offset length) {
    range.start = std::min(range.start, length);
    range.end = std::min(std::max(range.start, range.end), length);
    return range;
}

Offset endpoint_of(const Endpoints& range, TextPatternRangeEndpoint endpoint) {
    return endpoint == TextPatternRangeEndpoint_End ? range.end : range.start;
}

// Moving one end past the other drags the other along.
void place_endpoint(Endpoints& range, TextPatternRangeEndpoint endpoint, Offset value) {
    if (endpoint == TextPatternRangeEndpoint_End) {
        range.end = value;
        range.start = std::min(range.start, value);
    } else {
        range.start = value;
        range.end = std::max(range.end, value);
    }
}

// A range's two offsets, which clients may use from several threads at once: every operation
// reads them together and writes them together. A slim lock cannot fail, so no COM method can
// leave with an exception; it is never held while a message is sent.
class SharedEndpoints {
public:
    explicit SharedEndpoints(Endpoints value) : value_(value) {}

    Endpoints load() const {
        Hold hold(lock_);
        return value_;
    }

    // Runs `change` on the offsets under the lock and answers what it answers.
    template <class Change> auto update(Change&& change) {
        Hold hold(lock_);
        return change(value_);
    }

private:
    class Hold {
    public:
        explicit Hold(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
        ~Hold() { ReleaseSRWLockExclusive(&lock_); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        SRWLOCK& lock_;
    };

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    Endpoints value_;
};

class Range final : public ITextRangeProvider {
public:
    Range(std::shared_ptr<State> state, Endpoints endpoints)
        : state_(std::move(state)), endpoints_(endpoints) {}

    // A new range with one reference for the caller, or E_OUTOFMEMORY.
    static HRESULT create(const std::shared_ptr<State>& state, Endpoints endpoints,
                          ITextRangeProvider** out) {
        *out = new (std::nothrow) Range(state, endpoints);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    // The Range behind a client's interface pointer, or null for any other implementation.
    // All ranges share one vtable, so its address identifies them without asking the object
    // anything (a foreign object's QueryInterface could not answer for us).
    static Range* from(ITextRangeProvider* other) {
        if (other == nullptr) {
            return nullptr;
        }
        static const Range probe(nullptr, {});
        auto vtable_of = [](const ITextRangeProvider* object) {
            return *reinterpret_cast<void* const*>(object);
        };
        return vtable_of(other) == vtable_of(&probe) ? static_cast<Range*>(other) : nullptr;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(ITextRangeProvider)) {
            *out = static_cast<ITextRangeProvider*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG remaining = --references_;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    // ITextRangeProvider
    HRESULT STDMETHODCALLTYPE Clone(ITextRangeProvider** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (detached()) {
            return uia::e_element_not_available;
        }
        return create(state_, endpoints_.load(), out);
    }

    HRESULT STDMETHODCALLTYPE Compare(ITextRangeProvider* other, BOOL* out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = FALSE;
        if (detached()) {
            return uia::e_element_not_available;
        }
        Range* range = from(other);
        if (range && range->state_ == state_) {
            auto [mine, theirs] = endpoints_with(range);
            *out = mine.start == theirs.start && mine.end == theirs.end;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CompareEndpoints(TextPatternRangeEndpoint endpoint,
                                               ITextRangeProvider* target,
                                               TextPatternRangeEndpoint target_endpoint,
                                               int* out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = 0;
        if (detached()) {
            return uia::e_element_not_available;
        }
        Range* range = from(target);
        if (!range || range->state_ != state_) {
            return E_INVALIDARG;
        }
        auto [mine, theirs] = endpoints_with(range);
        Offset left = endpoint_of(mine, endpoint);
        Offset right = endpoint_of(theirs, target_endpoint);
        *out = left < right ? -1 : (left > right ? 1 : 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ExpandToEnclosingUnit(TextUnit unit) override {
        AccessibleSnapshot snap;
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        const auto shared_boundaries = unit_boundaries(snap, unit);
        const std::vector<Offset>& boundaries = *shared_boundaries;
        const Offset length = text_of(snap).size();
        endpoints_.update([&](Endpoints& range) {
            range = clamped(range, length);
            auto next = std::upper_bound(boundaries.begin(), boundaries.end(), range.start);
            if (next != boundaries.end()) {
                range = {*(next - 1), *next};
            } else {
                range = {boundaries.size() >= 2 ? boundaries[boundaries.size() - 2] : 0, length};
            }
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE FindAttribute(TEXTATTRIBUTEID, VARIANT, BOOL,
                                            ITextRangeProvider** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        return detached() ? uia::e_element_not_available : S_OK;
    }

    HRESULT STDMETHODCALLTYPE FindText(BSTR text, BOOL backward, BOOL ignore_case,
                                       ITextRangeProvider** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        AccessibleSnapshot snap;
        Endpoints range;
        HRESULT hr = clamped_snapshot(snap, range);
        if (FAILED(hr)) {
            return hr;
        }
        const UINT search_length = SysStringLen(text);
        if (search_length == 0 || range.end == range.start) {
            return S_OK;
        }
        int found = FindStringOrdinal(backward ? FIND_FROMEND : FIND_FROMSTART,
                                      reinterpret_cast<LPCWSTR>(text_of(snap).data() + range.start),
                                      static_cast<int>(range.end - range.start), text,
                                      static_cast<int>(search_length), ignore_case);
        if (found < 0) {
            return S_OK;
        }
        Offset match = range.start + static_cast<Offset>(found);
        return create(state_, {match, match + search_length}, out);
    }

    HRESULT STDMETHODCALLTYPE GetAttributeValue(TEXTATTRIBUTEID attribute, VARIANT* out) override {
        if (!out) {
            return E_POINTER;
        }
        VariantInit(out);
        if (detached()) {
            return uia::e_element_not_available;
        }
        if (attribute != uia::is_read_only_attribute_id) {
            IUnknown* not_supported = nullptr;
            HRESULT hr = uia::get_reserved_not_supported_value(&not_supported);
            if (FAILED(hr)) {
                return hr;
            }
            out->vt = VT_UNKNOWN;
            out->punkVal = not_supported;
            return S_OK;
        }
        bool read_only = false;
        HRESULT hr = invoke_on_ui_thread(state_, [this, &read_only] {
            read_only = state_->is_read_only ? state_->is_read_only() : state_->document;
        });
        if (SUCCEEDED(hr)) {
            set_bool(out, read_only);
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetBoundingRectangles(SAFEARRAY** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        std::vector<double> rectangles;
        HRESULT hr = invoke_on_ui_thread(
            state_, [state = state_.get(), range = endpoints_.load(), &rectangles] {
                Endpoints current = clamped_to_current_text(*state, range);
                rectangles = state->bounds(current.start, current.end);
            });
        if (FAILED(hr)) {
            return hr;
        }
        return make_double_array(rectangles, out);
    }

    HRESULT STDMETHODCALLTYPE GetEnclosingElement(IRawElementProviderSimple** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        return invoke_on_ui_thread(state_, [state = state_.get(), out] {
            if (state->provider) {
                state->provider->AddRef();
                *out = state->provider;
            }
        });
    }

    HRESULT STDMETHODCALLTYPE GetText(int max_length, BSTR* out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (max_length < -1) {
            return E_INVALIDARG;
        }
        AccessibleSnapshot snap;
        Endpoints range;
        HRESULT hr = clamped_snapshot(snap, range);
        if (FAILED(hr)) {
            return hr;
        }
        Offset count = range.end - range.start;
        if (max_length != -1) {
            count = std::min<Offset>(count, static_cast<Offset>(max_length));
        }
        // Never end inside a surrogate pair. A count already at 0 stays there: decrementing it
        // would wrap and read far past the text.
        const Offset after = range.start + count;
        if (count > 0 && after < text_of(snap).size() && text_of(snap)[after] >= 0xDC00 &&
            text_of(snap)[after] <= 0xDFFF) {
            --count;
        }
        *out =
            SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text_of(snap).data() + range.start),
                              static_cast<UINT>(count));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE Move(TextUnit unit, int count, int* out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = 0;
        if (count == 0) {
            return S_OK;
        }
        AccessibleSnapshot snap;
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        const auto shared_boundaries = unit_boundaries(snap, unit);
        const std::vector<Offset>& boundaries = *shared_boundaries;
        const Offset length = text_of(snap).size();
        *out = endpoints_.update([&](Endpoints& range) {
            range = clamped(range, length);
            return boundaries.size() < 2 ? 0 : move_by_units(range, boundaries, count);
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE MoveEndpointByUnit(TextPatternRangeEndpoint endpoint, TextUnit unit,
                                                 int count, int* out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = 0;
        if (count == 0) {
            return S_OK;
        }
        AccessibleSnapshot snap;
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        const auto shared_boundaries = unit_boundaries(snap, unit);
        const std::vector<Offset>& boundaries = *shared_boundaries;
        const Offset length = text_of(snap).size();
        *out = endpoints_.update([&](Endpoints& range) {
            range = clamped(range, length);
            const Offset position = endpoint_of(range, endpoint);
            std::int64_t i = index_at_or_after(boundaries, position);
            if (count > 0 && position < boundaries[i]) {
                --i; // a forward move counts from the boundary before the endpoint
            }
            const std::int64_t last = static_cast<std::int64_t>(boundaries.size()) - 1;
            std::int64_t j = std::clamp<std::int64_t>(i + count, 0, last);
            place_endpoint(range, endpoint, boundaries[j]);
            return static_cast<int>(j - i);
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE
    MoveEndpointByRange(TextPatternRangeEndpoint endpoint, ITextRangeProvider* target,
                        TextPatternRangeEndpoint target_endpoint) override {
        if (detached()) {
            return uia::e_element_not_available;
        }
        Range* range = from(target);
        if (!range || range->state_ != state_) {
            return E_INVALIDARG;
        }
        // Another range is read before this one is locked, so two ranges' locks are never held
        // together; a range moved to its own endpoint reads it under its one lock.
        const Offset value =
            range == this ? 0 : endpoint_of(range->endpoints_.load(), target_endpoint);
        endpoints_.update([&](Endpoints& own) {
            place_endpoint(own, endpoint,
                           range == this ? endpoint_of(own, target_endpoint) : value);
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Select() override {
        return invoke_on_ui_thread(state_, [state = state_.get(), range = endpoints_.load()] {
            Endpoints current = clamped_to_current_text(*state, range);
            state->select(current.start, current.end);
        });
    }

    HRESULT STDMETHODCALLTYPE AddToSelection() override { return Select(); }

    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override { return uia::e_invalid_operation; }

    HRESULT STDMETHODCALLTYPE ScrollIntoView(BOOL) override {
        return invoke_on_ui_thread(state_, [state = state_.get(), range = endpoints_.load()] {
            state->scroll_into_view(clamped_to_current_text(*state, range).start);
        });
    }

    HRESULT STDMETHODCALLTYPE GetChildren(SAFEARRAY** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (detached()) {
            return uia::e_element_not_available;
        }
        return make_unknown_array({}, out);
    }

private:
    ~Range() = default;

    bool detached() const { return state_->live.load() == 0; }

    // This range's and another's offsets; a range compared with itself is read once.
    std::pair<Endpoints, Endpoints> endpoints_with(Range* other) const {
        Endpoints mine = endpoints_.load();
        return {mine, other == this ? mine : other->endpoints_.load()};
    }

    // Offsets that a window callback may rely on: clamped to the text as it is now, on the UI
    // thread, since a client's range may predate an edit.
    static Endpoints clamped_to_current_text(const State& state, Endpoints range) {
        const AccessibleSnapshot snap = state.snapshot();
        return clamped(range, snap.shared ? snap.shared->text.size() : snap.text.size());
    }

    // A degenerate range moves the insertion point: from inside a unit, the way back to that
    // unit's own start is the first unit counted. Any other range becomes exactly one unit,
    // starting from the start of the unit it begins in, uncounted.
    static int move_by_units(Endpoints& range, const std::vector<Offset>& boundaries, int count) {
        const bool degenerate = range.start == range.end;
        const std::int64_t last =
            static_cast<std::int64_t>(boundaries.size()) - (degenerate ? 1 : 2);
        std::int64_t i = std::min(index_at_or_before(boundaries, range.start), last);
        if (degenerate && count < 0 && boundaries[i] != range.start) {
            ++i;
        }
        std::int64_t j = std::clamp<std::int64_t>(i + count, 0, last);
        range.start = boundaries[j];
        range.end = degenerate ? boundaries[j] : boundaries[j + 1];
        return static_cast<int>(j - i);
    }

    // A fresh snapshot, with this range clamped to its text and stored so; `range` receives the
    // clamped offsets.
    HRESULT clamped_snapshot(AccessibleSnapshot& snap, Endpoints& range) {
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        const Offset length = text_of(snap).size();
        range = endpoints_.update([length](Endpoints& own) { return own = clamped(own, length); });
        return S_OK;
    }

    std::atomic<ULONG> references_{1};
    std::shared_ptr<State> state_;
    SharedEndpoints endpoints_;
};

// ---- Provider ------------------------------------------------------------------------------

class Provider final : public IRawElementProviderSimple, public ITextProvider {
public:
    explicit Provider(std::shared_ptr<State> state) : state_(std::move(state)) {}

    // IUnknown (both faces)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple)) {
            *out = static_cast<IRawElementProviderSimple*>(this);
        } else if (iid == __uuidof(ITextProvider)) {
            *out = static_cast<ITextProvider*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG remaining = --references_;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    // IRawElementProviderSimple
    // Answered also once detached: it states what kind of provider this is, which UI
    // Automation asks while it wraps or releases any provider. Every other method of a
    // detached provider or range answers UIA_E_ELEMENTNOTAVAILABLE.
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = ProviderOptions_ServerSideProvider;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (detached()) {
            return uia::e_element_not_available;
        }
        if (pattern == uia::text_pattern_id) {
            *out = static_cast<ITextProvider*>(this);
            AddRef();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
        if (!out) {
            return E_POINTER;
        }
        VariantInit(out);
        if (detached()) {
            return uia::e_element_not_available;
        }
        switch (property) {
        case uia::control_type_property_id:
            out->vt = VT_I4;
            out->lVal =
                state_->document ? uia::document_control_type_id : uia::edit_control_type_id;
            return S_OK;
        case uia::name_property_id:
            out->bstrVal =
                SysAllocStringLen(state_->name.data(), static_cast<UINT>(state_->name.size()));
            if (!out->bstrVal) {
                return E_OUTOFMEMORY;
            }
            out->vt = VT_BSTR;
            return S_OK;
        case uia::has_keyboard_focus_property_id: {
            bool focused = false;
            HRESULT hr = invoke_on_ui_thread(
                state_, [state = state_.get(), &focused] { focused = GetFocus() == state->hwnd; });
            if (SUCCEEDED(hr)) {
                set_bool(out, focused);
            }
            return hr;
        }
        case uia::is_keyboard_focusable_property_id:
        case uia::is_control_element_property_id:
        case uia::is_content_element_property_id:
        case uia::is_text_pattern_available_property_id:
            set_bool(out, true);
            return S_OK;
        default:
            return S_OK;
        }
    }

    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (detached()) {
            return uia::e_element_not_available;
        }
        return uia::host_provider_from_hwnd(state_->hwnd, out);
    }

    // ITextProvider
    HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        AccessibleSnapshot snap;
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        return single_range_array(std::min(snap.anchor, snap.caret),
                                  std::max(snap.anchor, snap.caret), out);
    }

    HRESULT STDMETHODCALLTYPE GetVisibleRanges(SAFEARRAY** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        AccessibleSnapshot snap;
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        return single_range_array(snap.first_visible, snap.visible_end, out);
    }

    HRESULT STDMETHODCALLTYPE RangeFromChild(IRawElementProviderSimple*,
                                             ITextRangeProvider** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        return detached() ? uia::e_element_not_available : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE RangeFromPoint(UiaPoint point, ITextRangeProvider** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        Offset offset = 0;
        HRESULT hr = invoke_on_ui_thread(state_, [state = state_.get(), point, &offset] {
            POINT client{truncate_coordinate(point.x), truncate_coordinate(point.y)};
            ScreenToClient(state->hwnd, &client);
            offset = state->offset_at(client);
        });
        if (FAILED(hr)) {
            return hr;
        }
        return Range::create(state_, {offset, offset}, out);
    }

    HRESULT STDMETHODCALLTYPE get_DocumentRange(ITextRangeProvider** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        AccessibleSnapshot snap;
        HRESULT hr = snapshot(state_, snap);
        if (FAILED(hr)) {
            return hr;
        }
        return Range::create(state_, {0, text_of(snap).size()}, out);
    }

    HRESULT STDMETHODCALLTYPE get_SupportedTextSelection(SupportedTextSelection* out) override {
        if (!out) {
            return E_POINTER;
        }
        if (detached()) {
            *out = SupportedTextSelection_None;
            return uia::e_element_not_available;
        }
        *out = SupportedTextSelection_Single;
        return S_OK;
    }

private:
    ~Provider() = default;

    bool detached() const { return state_->live.load() == 0; }

    HRESULT single_range_array(Offset start, Offset end, SAFEARRAY** out) {
        ITextRangeProvider* range = nullptr;
        HRESULT hr = Range::create(state_, {start, end}, &range);
        if (FAILED(hr)) {
            return hr;
        }
        hr = make_unknown_array({range}, out);
        range->Release();
        return hr;
    }

    std::atomic<ULONG> references_{1};
    std::shared_ptr<State> state_;
};

} // namespace

IRawElementProviderSimple* create_text_provider(std::shared_ptr<State> state) {
    return new Provider(std::move(state));
}

} // namespace pellix
