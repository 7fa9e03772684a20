#include "editor/fence_state.h"

namespace pellix {
namespace {

constexpr std::uint64_t fence_indent_limit = 3;
constexpr std::uint64_t fence_run_minimum = 3;

bool closes_trailing(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n';
}

} // namespace

LineCursor::LineCursor(const SourceDocument& document, std::uint64_t line_start,
                       std::uint64_t length)
    : document_(&document), line_start_(line_start), length_(length) {}

LineCursor::LineCursor(const SourceDocument& document, std::uint64_t line_start,
                       std::uint64_t length, std::u16string_view lent, std::uint64_t lent_start)
    : document_(&document), line_start_(line_start), length_(length), view_(lent),
      view_start_(lent_start) {}

LineCursor::LineCursor(std::u16string_view line)
    : document_(nullptr), line_start_(0), length_(line.size()), view_(line) {}

char16_t LineCursor::at(std::uint64_t index) {
    const std::uint64_t absolute = line_start_ + index;
    if (absolute < view_start_ || absolute - view_start_ >= view_.size()) {
        const std::uint64_t aligned = index - index % window_units;
        window_ = document_->text(line_start_ + aligned, window_units);
        view_ = window_;
        view_start_ = line_start_ + aligned;
    }
    return view_[absolute - view_start_];
}

FenceState fence_state_after(FenceState before, LineCursor& line) {
    const std::uint64_t length = line.length();
    std::uint64_t i = 0;
    while (i < length && i <= fence_indent_limit && line.at(i) == u' ') {
        ++i;
    }
    if (i == length || i > fence_indent_limit) {
        return before;
    }
    const char16_t marker = line.at(i);
    if (marker != u'`' && marker != u'~') {
        return before;
    }
    const std::uint64_t run_start = i;
    while (i < length && line.at(i) == marker) {
        ++i;
    }
    const std::uint64_t run = i - run_start;
    if (run < fence_run_minimum) {
        return before;
    }
    if (before.inside()) {
        if (marker != before.marker || run < before.length) {
            return before;
        }
        for (; i < length; ++i) {
            if (!closes_trailing(line.at(i))) {
                return before;
            }
        }
        return FenceState{};
    }
    if (marker == u'`') {
        for (; i < length; ++i) {
            if (line.at(i) == u'`') {
                return before;
            }
        }
    }
    return FenceState{marker, run};
}

} // namespace pellix
