#include "app/clean_source.h"

#include <string_view>

namespace pellix {

namespace {

constexpr std::size_t max_block_indent = 3;
constexpr std::size_t min_fence_run = 3;
constexpr std::size_t max_blank_run = 2;
constexpr std::u16string_view hard_break = u"  ";

bool is_blank_unit(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

bool only_blanks(std::u16string_view line) {
    for (char16_t unit : line) {
        if (!is_blank_unit(unit)) {
            return false;
        }
    }
    return true;
}

std::size_t leading_spaces(std::u16string_view line) {
    std::size_t count = 0;
    while (count < line.size() && line[count] == u' ') {
        ++count;
    }
    return count;
}

// Indented code: the first non-space unit comes after more than three spaces, or is a tab.
bool is_indented_code(std::u16string_view line) {
    const std::size_t spaces = leading_spaces(line);
    return spaces > max_block_indent || (spaces < line.size() && line[spaces] == u'\t');
}

struct FenceRun {
    char16_t unit = 0; // 0: the line holds no fence run
    std::size_t length = 0;
    std::u16string_view rest;
};

FenceRun fence_run(std::u16string_view line) {
    const std::size_t spaces = leading_spaces(line);
    if (spaces > max_block_indent || spaces >= line.size()) {
        return {};
    }
    const char16_t unit = line[spaces];
    if (unit != u'`' && unit != u'~') {
        return {};
    }
    std::size_t end = spaces;
    while (end < line.size() && line[end] == unit) {
        ++end;
    }
    if (end - spaces < min_fence_run) {
        return {};
    }
    return {unit, end - spaces, line.substr(end)};
}

bool starts_block_quote(std::u16string_view line) {
    const std::size_t spaces = leading_spaces(line);
    return spaces <= max_block_indent && spaces < line.size() && line[spaces] == u'>';
}

// The line without its trailing blanks; a removed run of two or more ending in two spaces leaves
// a hard break behind, unless nothing else is left on the line.
std::u16string_view trimmed(std::u16string_view line, bool& hard) {
    std::size_t end = line.size();
    while (end > 0 && is_blank_unit(line[end - 1])) {
        --end;
    }
    const std::u16string_view removed = line.substr(end);
    hard = end > 0 && removed.size() >= hard_break.size() && removed.ends_with(hard_break);
    return line.substr(0, end);
}

class Cleaner {
public:
    explicit Cleaner(std::u16string& out) : out_(out) {}

    void line(std::u16string_view text, bool has_break) {
        last_unchanged_ = true;
        if (is_indented_code(text) && !(fence_unit_ == 0 && only_blanks(text))) {
            keep(text, has_break);
            return;
        }
        if (const FenceRun run = fence_run(text); run.unit != 0 && fence_line(run)) {
            keep(text, has_break);
            return;
        }
        if (fence_unit_ != 0 || starts_block_quote(text)) {
            keep(text, has_break);
            return;
        }
        last_unchanged_ = false;
        bool hard = false;
        const std::u16string_view kept = trimmed(text, hard);
        if (kept.empty()) {
            blank(has_break);
            return;
        }
        blank_run_ = 0;
        out_.append(kept);
        if (hard) {
            out_.append(hard_break);
        }
        end_line(has_break);
    }

    // Whether the last line went through the trimming rather than being copied as it was.
    bool last_line_cleaned() const { return !last_unchanged_; }

private:
    // Whether a line with a fence run opens or closes a fence (and so is copied as it is).
    bool fence_line(const FenceRun& run) {
        if (fence_unit_ == 0) {
            if (run.unit == u'`' && run.rest.find(u'`') != std::u16string_view::npos) {
                return false;
            }
            fence_unit_ = run.unit;
            fence_length_ = run.length;
            return true;
        }
        if (run.unit == fence_unit_ && run.length >= fence_length_ && only_blanks(run.rest)) {
            fence_unit_ = 0;
            fence_length_ = 0;
            return true;
        }
        return false;
    }

    void keep(std::u16string_view text, bool has_break) {
        blank_run_ = 0;
        out_.append(text);
        end_line(has_break);
    }

    void blank(bool has_break) {
        if (out_.empty() || blank_run_ >= max_blank_run) {
            return;
        }
        ++blank_run_;
        end_line(has_break);
    }

    void end_line(bool has_break) {
        if (has_break) {
            out_.push_back(u'\n');
        }
    }

    std::u16string& out_;
    char16_t fence_unit_ = 0;
    std::size_t fence_length_ = 0;
    std::size_t blank_run_ = 0;
    bool last_unchanged_ = true;
};

bool starts_with_line(std::u16string_view text, std::u16string_view marker) {
    return text.size() > marker.size() && text.starts_with(marker) && text[marker.size()] == u'\n';
}

// The length of the front matter with its closing line and that line's break; 0 when the text
// has none, npos when it opens front matter that never closes.
std::size_t front_matter_length(std::u16string_view text) {
    std::u16string_view marker;
    if (starts_with_line(text, u"---")) {
        marker = u"---";
    } else if (starts_with_line(text, u"+++")) {
        marker = u"+++";
    } else {
        return 0;
    }
    std::size_t start = marker.size() + 1;
    while (start < text.size()) {
        const std::size_t found = text.find(u'\n', start);
        const std::size_t end = found == std::u16string_view::npos ? text.size() : found;
        const std::u16string_view line = text.substr(start, end - start);
        if (line == marker || (marker == u"---" && line == u"...")) {
            return found == std::u16string_view::npos ? text.size() : found + 1;
        }
        start = end + 1;
    }
    return std::u16string_view::npos;
}

} // namespace

std::u16string clean_markdown_source(const std::u16string& text) {
    const std::u16string_view view(text);
    const std::size_t front = front_matter_length(view);
    if (front == std::u16string_view::npos) {
        return text;
    }
    std::u16string out(view.substr(0, front));
    out.reserve(text.size() + 1);
    Cleaner cleaner(out);
    bool any_line = false;
    for (std::size_t start = front; start < view.size();) {
        const std::size_t found = view.find(u'\n', start);
        const bool has_break = found != std::u16string_view::npos;
        const std::size_t end = has_break ? found : view.size();
        cleaner.line(view.substr(start, end - start), has_break);
        any_line = true;
        start = end + 1;
    }
    if (any_line && cleaner.last_line_cleaned()) {
        while (!out.empty() && out.back() == u'\n') {
            out.pop_back();
        }
        if (!out.empty()) {
            out.push_back(u'\n');
        }
    }
    return out;
}

} // namespace pellix
