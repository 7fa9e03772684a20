#include "platform/glyph_figures.h"

#include <cctype>
#include <charconv>
#include <optional>

#include "platform/com_ptr.h"

namespace pellix {
namespace {

// Lines per cubic curve: a glyph's curves span a few units of a 16-unit grid, so at the largest
// icon (512 pixels) each line is a few pixels long.
constexpr int curve_steps = 16;

// One element's tag text, from its name to the closing '>'.
struct Tag {
    std::string_view name;
    std::string_view text;
};

// An attribute's value: the text after `name="` where the name starts after white space.
std::optional<std::string_view> attribute(const Tag& tag, std::string_view name) {
    for (std::size_t at = tag.text.find(name); at != std::string_view::npos;
         at = tag.text.find(name, at + 1)) {
        const std::size_t quote = at + name.size() + 1;
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag.text[at - 1])) ||
            tag.text.substr(at + name.size(), 2) != "=\"") {
            continue;
        }
        const std::size_t end = tag.text.find('"', quote + 1);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        return tag.text.substr(quote + 1, end - quote - 1);
    }
    return std::nullopt;
}

std::optional<float> number_of(std::string_view text) {
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> number_attribute(const Tag& tag, std::string_view name) {
    const auto text = attribute(tag, name);
    return text ? number_of(*text) : std::nullopt;
}

// A path's data, read number by number and command by command.
class PathReader {
public:
    explicit PathReader(std::string_view data) : data_(data) {}

    bool read(std::vector<GlyphOutline>& outlines) {
        char command = 0;
        while (skip_separators()) {
            if (std::isalpha(static_cast<unsigned char>(data_[at_]))) {
                command = data_[at_++];
            } else if (command == 0) {
                return false;
            }
            if (!step(command, outlines)) {
                return false;
            }
            // Coordinates that follow a move without a command of their own draw lines.
            if (command == 'M') {
                command = 'L';
            } else if (command == 'm') {
                command = 'l';
            }
        }
        return !outlines.empty();
    }

private:
    bool skip_separators() {
        while (at_ < data_.size() &&
               (std::isspace(static_cast<unsigned char>(data_[at_])) || data_[at_] == ',')) {
            ++at_;
        }
        return at_ < data_.size();
    }

    std::optional<float> number() {
        if (!skip_separators()) {
            return std::nullopt;
        }
        float value = 0;
        const char* begin = data_.data() + at_;
        const auto [end, error] = std::from_chars(begin, data_.data() + data_.size(), value);
        if (error != std::errc{}) {
            return std::nullopt;
        }
        at_ += static_cast<std::size_t>(end - begin);
        return value;
    }

    std::optional<D2D1_POINT_2F> point(bool relative) {
        const auto x = number();
        const auto y = x ? number() : std::nullopt;
        if (!y) {
            return std::nullopt;
        }
        return relative ? D2D1_POINT_2F{current_.x + *x, current_.y + *y} : D2D1_POINT_2F{*x, *y};
    }

    bool line_to(D2D1_POINT_2F end, std::vector<GlyphOutline>& outlines) {
        if (outlines.empty()) {
            return false;
        }
        outlines.back().segments.push_back({.end = end});
        current_ = end;
        last_control_.reset();
        return true;
    }

    bool curve_to(D2D1_POINT_2F control1, D2D1_POINT_2F control2, D2D1_POINT_2F end,
                  std::vector<GlyphOutline>& outlines) {
        if (outlines.empty()) {
            return false;
        }
        outlines.back().segments.push_back(
            {.curve = true, .control1 = control1, .control2 = control2, .end = end});
        current_ = end;
        last_control_ = control2;
        return true;
    }

    // A smooth curve's first control point mirrors the previous curve's last one.
    D2D1_POINT_2F mirrored_control() const {
        if (!last_control_) {
            return current_;
        }
        return {2 * current_.x - last_control_->x, 2 * current_.y - last_control_->y};
    }

    bool step(char command, std::vector<GlyphOutline>& outlines) {
        const bool relative = std::islower(static_cast<unsigned char>(command)) != 0;
        switch (std::toupper(static_cast<unsigned char>(command))) {
        case 'M': {
            const auto to = point(relative);
            if (!to) {
                return false;
            }
            outlines.emplace_back().start = *to;
            current_ = start_ = *to;
            last_control_.reset();
            return true;
        }
        case 'L': {
            const auto to = point(relative);
            return to && line_to(*to, outlines);
        }
        case 'H': {
            const auto x = number();
            return x && line_to({relative ? current_.x + *x : *x, current_.y}, outlines);
        }
        case 'V': {
            const auto y = number();
            return y && line_to({current_.x, relative ? current_.y + *y : *y}, outlines);
        }
        case 'C': {
            const auto control1 = point(relative);
            const auto control2 = control1 ? point(relative) : std::nullopt;
            const auto to = control2 ? point(relative) : std::nullopt;
            return to && curve_to(*control1, *control2, *to, outlines);
        }
        case 'S': {
            const D2D1_POINT_2F control1 = mirrored_control();
            const auto control2 = point(relative);
            const auto to = control2 ? point(relative) : std::nullopt;
            return to && curve_to(control1, *control2, *to, outlines);
        }
        case 'Z':
            if (outlines.empty()) {
                return false;
            }
            outlines.back().closed = true;
            current_ = start_;
            last_control_.reset();
            return true;
        default:
            return false;
        }
    }

    std::string_view data_;
    std::size_t at_ = 0;
    D2D1_POINT_2F current_{};
    D2D1_POINT_2F start_{};
    std::optional<D2D1_POINT_2F> last_control_;
};

bool read_shape(const Tag& tag, float group_width, GlyphShape& shape) {
    if (attribute(tag, "transform") ||
        (attribute(tag, "fill") && *attribute(tag, "fill") != "none")) {
        return false;
    }
    shape.stroke_width = number_attribute(tag, "stroke-width").value_or(group_width);
    if (tag.name == "path") {
        shape.kind = GlyphShape::Kind::path;
        const auto data = attribute(tag, "d");
        return data && PathReader(*data).read(shape.outlines);
    }
    if (tag.name == "rect") {
        const auto x = number_attribute(tag, "x").value_or(0);
        const auto y = number_attribute(tag, "y").value_or(0);
        const auto width = number_attribute(tag, "width");
        const auto height = number_attribute(tag, "height");
        const auto rx = number_attribute(tag, "rx").value_or(0);
        if (!width || !height) {
            return false;
        }
        shape.kind = GlyphShape::Kind::rounded_rectangle;
        shape.rectangle = {.rect = {x, y, x + *width, y + *height}, .radiusX = rx, .radiusY = rx};
        return true;
    }
    if (tag.name == "circle") {
        const auto r = number_attribute(tag, "r");
        if (!r) {
            return false;
        }
        shape.kind = GlyphShape::Kind::ellipse;
        shape.ellipse = {.point = {number_attribute(tag, "cx").value_or(0),
                                   number_attribute(tag, "cy").value_or(0)},
                         .radiusX = *r,
                         .radiusY = *r};
        return true;
    }
    return false;
}

std::optional<Tag> next_tag(std::string_view svg, std::size_t& at) {
    const std::size_t open = svg.find('<', at);
    if (open == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t close = svg.find('>', open);
    if (close == std::string_view::npos) {
        return Tag{};
    }
    at = close + 1;
    const std::string_view text = svg.substr(open + 1, close - open - 1);
    // Closing tags, declarations and comments carry no figure.
    if (!text.empty() && (text.front() == '/' || text.front() == '?' || text.front() == '!')) {
        return Tag{"/", text};
    }
    std::size_t name_end = 0;
    while (name_end < text.size() && !std::isspace(static_cast<unsigned char>(text[name_end])) &&
           text[name_end] != '/') {
        ++name_end;
    }
    return Tag{text.substr(0, name_end), text};
}

// The glyphs have round caps and joins, which not every stroker draws (Wine's draws flat ends and
// nothing at all for a dot such as "h.01"): a circle as wide as the stroke at every end and
// corner gives them on any system, and falls inside the stroke where the stroker draws them.
void fill_round_ends(ID2D1RenderTarget* target, ID2D1Brush* ink, const GlyphShape& shape) {
    const float radius = shape.stroke_width / 2;
    auto dot = [&](D2D1_POINT_2F at) {
        target->FillEllipse({.point = at, .radiusX = radius, .radiusY = radius}, ink);
    };
    for (const GlyphOutline& outline : shape.outlines) {
        dot(outline.start);
        for (const GlyphSegment& segment : outline.segments) {
            dot(segment.end);
        }
    }
}

// A point of a cubic curve, for drawing it as short lines: a stroker that draws curves badly
// (Wine's) still draws lines as the figure says.
D2D1_POINT_2F cubic_point(D2D1_POINT_2F from, const GlyphSegment& curve, float t) {
    const float u = 1 - t;
    const float a = u * u * u;
    const float b = 3 * u * u * t;
    const float c = 3 * u * t * t;
    const float d = t * t * t;
    return {a * from.x + b * curve.control1.x + c * curve.control2.x + d * curve.end.x,
            a * from.y + b * curve.control1.y + c * curve.control2.y + d * curve.end.y};
}

ComPtr<ID2D1Geometry> path_geometry(ID2D1Factory* factory, const GlyphShape& shape) {
    ComPtr<ID2D1PathGeometry> path;
    ComPtr<ID2D1GeometrySink> sink;
    if (FAILED(factory->CreatePathGeometry(path.put())) || FAILED(path->Open(sink.put()))) {
        return nullptr;
    }
    for (const GlyphOutline& outline : shape.outlines) {
        sink->BeginFigure(outline.start, D2D1_FIGURE_BEGIN_HOLLOW);
        D2D1_POINT_2F from = outline.start;
        for (const GlyphSegment& segment : outline.segments) {
            for (int step = 1; segment.curve && step < curve_steps; ++step) {
                sink->AddLine(cubic_point(from, segment, static_cast<float>(step) / curve_steps));
            }
            sink->AddLine(segment.end);
            from = segment.end;
        }
        sink->EndFigure(outline.closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
    }
    if (FAILED(sink->Close())) {
        return nullptr;
    }
    return ComPtr<ID2D1Geometry>::adopt(path.detach());
}

ComPtr<ID2D1Geometry> shape_geometry(ID2D1Factory* factory, const GlyphShape& shape) {
    switch (shape.kind) {
    case GlyphShape::Kind::rounded_rectangle: {
        ComPtr<ID2D1RoundedRectangleGeometry> rectangle;
        if (FAILED(factory->CreateRoundedRectangleGeometry(shape.rectangle, rectangle.put()))) {
            return nullptr;
        }
        return ComPtr<ID2D1Geometry>::adopt(rectangle.detach());
    }
    case GlyphShape::Kind::ellipse: {
        ComPtr<ID2D1EllipseGeometry> ellipse;
        if (FAILED(factory->CreateEllipseGeometry(shape.ellipse, ellipse.put()))) {
            return nullptr;
        }
        return ComPtr<ID2D1Geometry>::adopt(ellipse.detach());
    }
    case GlyphShape::Kind::path:
        break;
    }
    return path_geometry(factory, shape);
}

} // namespace

bool read_glyph_shapes(std::string_view svg, std::vector<GlyphShape>& shapes) {
    shapes.clear();
    float group_width = 1.0f;
    std::size_t at = 0;
    while (const auto tag = next_tag(svg, at)) {
        if (tag->name.empty()) {
            return false;
        }
        if (tag->name == "g") {
            if (attribute(*tag, "transform")) {
                return false;
            }
            group_width = number_attribute(*tag, "stroke-width").value_or(group_width);
            continue;
        }
        if (tag->name == "svg" || tag->name == "/") {
            continue;
        }
        GlyphShape shape;
        if (!read_shape(*tag, group_width, shape)) {
            return false;
        }
        shapes.push_back(std::move(shape));
    }
    return !shapes.empty();
}

HRESULT draw_glyph_shapes(ID2D1Factory* factory, ID2D1RenderTarget* target,
                          const std::vector<GlyphShape>& shapes) {
    const D2D1_STROKE_STYLE_PROPERTIES round{.startCap = D2D1_CAP_STYLE_ROUND,
                                             .endCap = D2D1_CAP_STYLE_ROUND,
                                             .dashCap = D2D1_CAP_STYLE_ROUND,
                                             .lineJoin = D2D1_LINE_JOIN_ROUND,
                                             .miterLimit = 10.0f,
                                             .dashStyle = D2D1_DASH_STYLE_SOLID,
                                             .dashOffset = 0.0f};
    ComPtr<ID2D1StrokeStyle> style;
    HRESULT hr = factory->CreateStrokeStyle(round, nullptr, 0, style.put());
    ComPtr<ID2D1SolidColorBrush> ink;
    if (SUCCEEDED(hr)) {
        hr = target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), ink.put());
    }
    for (std::size_t i = 0; SUCCEEDED(hr) && i < shapes.size(); ++i) {
        const ComPtr<ID2D1Geometry> geometry = shape_geometry(factory, shapes[i]);
        if (!geometry) {
            return E_FAIL;
        }
        target->DrawGeometry(geometry.get(), ink.get(), shapes[i].stroke_width, style.get());
        if (shapes[i].kind == GlyphShape::Kind::path) {
            fill_round_ends(target, ink.get(), shapes[i]);
        }
    }
    return hr;
}

} // namespace pellix
