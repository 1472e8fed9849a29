#include "engine/linear_pass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/effect_math.h"
#include "engine/pixel_depth.h"
#include "engine/span_order.h"
#include "engine/sweep_band.h"

namespace lumatrail {

std::uint32_t streak_hash(std::int32_t seed, std::int32_t line_key, std::int32_t position_key) {
    return hash32(hash32(std::uint32_t(line_key)) ^ hash32(std::uint32_t(position_key)) ^
                  std::uint32_t(seed)) &
           0xFFFFFFu;
}

std::int32_t chunk_length(std::uint32_t r, float length_variation, float base_length) {
    const float length = std::round(((float(r) / -16777215.0f) * length_variation + 1.0f) * base_length);
    return length >= 2.0f ? std::int32_t(length) : 1;  // NaN gives 1 as well
}

namespace {

constexpr float IN_MASK = 0.00001f;  // the smallest mask weight that counts as inside

// lroundf as a 32-bit key; keys beyond the int range (absurd scales) saturate.
std::int32_t round_key(float v) { return to_int32_saturated(std::round(v)); }

// Frame-wide values of one pass.
struct LineFrame {
    bool vertical;
    std::int32_t left, top;
    std::int32_t n;  // positions per line
    std::int32_t lines;
    float along, cross;  // scales along and across the lines
    std::int32_t max_chunk;
    float base_length;    // Q
    float width, height;  // the area, for the sweep band
};

// The per-line buffers, allocated once per frame.
template <class Pixel>
struct LineBuffers {
    std::vector<LineElement<Pixel>> elements;
    std::vector<Pixel> source;
    std::vector<float> mask_weights;
    std::vector<float> blend_weights;
    std::vector<float> keys;
    explicit LineBuffers(std::int32_t n)
        : elements(std::size_t(n), LineElement<Pixel>{Pixel{}, 0.0f, 0}),
          source(std::size_t(n), Pixel{}),
          mask_weights(std::size_t(n), 1.0f),
          blend_weights(std::size_t(n), 1.0f),
          keys(std::size_t(n), 0.0f) {}
};

std::int32_t line_chunk_length(const RenderSettings& s, const LineFrame& f, std::int32_t line,
                               std::int32_t position) {
    const std::uint32_t r =
        streak_hash(s.random_seed, round_key(float(line) / f.cross), round_key(float(position) / f.along));
    return chunk_length(r, s.length_variation, f.base_length);
}

bool in_window(const RenderSettings& s, float key) {
    return s.lower_brightness <= key && key <= s.upper_brightness;
}

template <class Pixel>
void sort_spans(const RenderSettings& s, const LineFrame& f, std::int32_t line, LineBuffers<Pixel>& b) {
    const bool masked = s.mask_mode == SortInsideMask;
    auto qualifies = [&](std::int32_t j) {
        return in_window(s, b.elements[std::size_t(j)].key) &&
               (!masked || b.mask_weights[std::size_t(j)] > IN_MASK);
    };
    std::int32_t w = 0;
    while (w < f.n) {
        if (!qualifies(w)) {
            ++w;
            continue;
        }
        std::int32_t end = w + 1;  // one past the span's last position
        while (end < f.n && qualifies(end)) ++end;
        // Chunks are cut from the span's start whatever the direction.
        for (std::int32_t q = w; q < end;) {
            const std::int32_t e =
                std::int32_t(std::min<std::int64_t>(std::int64_t(q) + line_chunk_length(s, f, line, q), end));
            sort_chunk(b.elements.data() + q, e - q, s.reverse_direction);
            q = e;
        }
        w = end;
    }
}

template <class Pixel>
void stretch_from_mask(const RenderSettings& s, const LineFrame& f, std::int32_t line,
                       LineBuffers<Pixel>& b) {
    using T = PixelTraits<Pixel>;
    std::fill(b.blend_weights.begin(), b.blend_weights.end(), 0.0f);
    const bool can_stretch = s.amount > 0.0f && f.max_chunk >= 2;
    const float feather = s.stretch_tip_feather;
    const std::int32_t step = s.reverse_direction ? -1 : 1;
    std::int32_t reach = 0;
    std::int32_t source = -1;  // none
    float strength = 0.0f;
    for (std::int32_t k = 0; k < f.n; ++k) {
        const std::int32_t p = s.reverse_direction ? f.n - 1 - k : k;
        const float m = b.mask_weights[std::size_t(p)];
        if (m > IN_MASK) {
            const std::int32_t prev = p - step;
            if (prev < 0 || prev >= f.n || b.mask_weights[std::size_t(prev)] <= IN_MASK)
                strength = 0.0f;  // a new mask run begins
            if (in_window(s, b.elements[std::size_t(p)].key) &&
                T::alpha_positive(b.source[std::size_t(p)].alpha)) {
                strength = std::max(m, strength);
                reach = line_chunk_length(s, f, line, p);
                source = p;
            } else {
                source = -1;
            }
        } else if (source >= 0 && can_stretch) {
            const std::int32_t d = std::abs(p - source);
            if (d <= reach) {
                const float a = float(reach);
                const float fw = feather * a;
                float x = 1.0f;
                if (fw > 0.0f) {
                    const float t = std::clamp((float(d) - (a - fw)) / std::max(a - (a - fw), MIN_SOFT_WIDTH),
                                               0.0f, 1.0f);
                    x = 1.0f - smoothstep(t);
                }
                b.blend_weights[std::size_t(p)] = x * strength;
                b.elements[std::size_t(p)].pixel = b.source[std::size_t(source)];
            }
        }
    }
}

// The pixels of one line that exist in a view: positions [begin, end), the
// first of them at `first`, the next `stride` bytes further on. Positions
// outside the range have no pixel in the view.
struct LineRun {
    std::uint8_t* first = nullptr;
    std::int64_t stride = 0;
    std::int32_t begin = 0, end = 0;
};

template <class Pixel>
LineRun line_run(const ImageView& view, const LineFrame& f, std::int32_t i) {
    LineRun run;
    // Across the line: the view's column (vertical) or row (horizontal).
    const std::int64_t across = std::int64_t(i) + (f.vertical ? f.left - std::int64_t(view.origin_x)
                                                              : f.top - std::int64_t(view.origin_y));
    const std::int64_t across_size = f.vertical ? view.width : view.height;
    if (!view.data || across < 0 || across >= across_size) return run;
    // Along the line: position j lies at view index j + offset.
    const std::int64_t offset =
        f.vertical ? f.top - std::int64_t(view.origin_y) : f.left - std::int64_t(view.origin_x);
    const std::int64_t along_size = f.vertical ? view.height : view.width;
    const std::int64_t begin = std::max<std::int64_t>(0, -offset);
    const std::int64_t end = std::min<std::int64_t>(f.n, along_size - offset);
    if (begin >= end) return run;
    const std::int64_t pixel = std::int64_t(sizeof(Pixel));
    run.stride = f.vertical ? view.row_bytes : pixel;
    const std::int64_t column = f.vertical ? across : begin + offset;
    const std::int64_t row = f.vertical ? begin + offset : across;
    run.first = view.data + row * view.row_bytes + column * pixel;
    run.begin = std::int32_t(begin);
    run.end = std::int32_t(end);
    return run;
}

// Columns processed together by the vertical pass.
constexpr std::int32_t STRIP_COLUMNS = 16;

// The part of a view inside columns [x0, x1) and rows [y0, y1) of layer
// coordinates, as a rectangle of the view's own pixels (empty if none).
struct ViewPart {
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

ViewPart view_part(const ImageView& v, std::int64_t x0, std::int64_t x1, std::int64_t y0, std::int64_t y1) {
    if (!v.data) return {};
    ViewPart p;
    p.x0 = std::int32_t(std::max<std::int64_t>(x0, v.origin_x));
    p.x1 = std::int32_t(std::min<std::int64_t>(x1, std::int64_t(v.origin_x) + v.width));
    p.y0 = std::int32_t(std::max<std::int64_t>(y0, v.origin_y));
    p.y1 = std::int32_t(std::min<std::int64_t>(y1, std::int64_t(v.origin_y) + v.height));
    return p.empty() ? ViewPart{} : p;
}

// Copies of the input and output inside a strip of columns, with views onto
// them in the same layer coordinates.
template <class Pixel>
struct ColumnStrips {
    const ImageView &input, &output;
    const LineFrame& f;
    std::vector<Pixel> in_pixels, out_pixels;
    ViewPart in_part, out_part;
    ImageView in, out;

    ColumnStrips(const ImageView& input_view, const ImageView& output_view, const LineFrame& frame)
        : input(input_view), output(output_view), f(frame) {}

    static ImageView strip_view(std::vector<Pixel>& pixels, const ViewPart& part) {
        if (part.empty()) return {};
        const std::int32_t width = part.x1 - part.x0, height = part.y1 - part.y0;
        pixels.resize(std::size_t(width) * std::size_t(height));
        return {reinterpret_cast<std::uint8_t*>(pixels.data()),    width,   height,
                std::int64_t(width) * std::int64_t(sizeof(Pixel)), part.x0, part.y0};
    }

    // Lines [first, last) are the columns f.left + first .. f.left + last.
    void gather(std::int32_t first, std::int32_t last) {
        const std::int64_t x0 = std::int64_t(f.left) + first, x1 = std::int64_t(f.left) + last;
        const std::int64_t y0 = f.top, y1 = std::int64_t(f.top) + f.n;
        in_part = view_part(input, x0, x1, y0, y1);
        out_part = view_part(output, x0, x1, y0, y1);
        in = strip_view(in_pixels, in_part);
        out = strip_view(out_pixels, out_part);
        const std::size_t row = std::size_t(in.width) * sizeof(Pixel);
        for (std::int32_t y = in_part.y0; y < in_part.y1; ++y)
            std::memcpy(pixel_address<Pixel>(in, in_part.x0, y), pixel_address<Pixel>(input, in_part.x0, y),
                        row);
    }

    // The pass writes every pixel of the output strip; each row goes back.
    void scatter() {
        const std::size_t row = std::size_t(out.width) * sizeof(Pixel);
        for (std::int32_t y = out_part.y0; y < out_part.y1; ++y)
            std::memcpy(pixel_address<Pixel>(output, out_part.x0, y),
                        pixel_address<Pixel>(out, out_part.x0, y), row);
    }
};

// Inlined into both of its loops: called from two places, the compiler would
// otherwise keep it out of line and the rows lose about a fifth of their speed.
template <class Pixel>
[[gnu::always_inline]] inline void process_line(const ImageView& input, const ImageView& output,
                                                const RenderSettings& s, const MaskSampler& mask,
                                                const LineFrame& f, std::int32_t i, LineBuffers<Pixel>& b) {
    // Gather: pixels, keys, positions, and the mask weights.
    const LineRun in = line_run<Pixel>(input, f, i);
    for (std::int32_t j = 0; j < f.n; ++j) {
        Pixel p{};
        if (j >= in.begin && j < in.end)
            std::memcpy(&p, in.first + std::int64_t(j - in.begin) * in.stride, sizeof p);
        b.source[std::size_t(j)] = p;
    }
    brightness_keys(b.source.data(), b.keys.data(), f.n);
    for (std::int32_t j = 0; j < f.n; ++j)
        b.elements[std::size_t(j)] = {b.source[std::size_t(j)], b.keys[std::size_t(j)], j};
    if (s.mask_mode != MaskOff || s.show_mask) {
        for (std::int32_t j = 0; j < f.n; ++j) {
            const std::int32_t x = (f.vertical ? i : j) + f.left;
            const std::int32_t y = (f.vertical ? j : i) + f.top;
            const float g = mask_weight_at_pixel(mask, s, x, y);
            b.mask_weights[std::size_t(j)] = g;
            b.blend_weights[std::size_t(j)] = s.mask_mode == SortInsideMask ? g : 1.0f;
        }
    } else {
        std::fill(b.mask_weights.begin(), b.mask_weights.end(), 1.0f);
        std::fill(b.blend_weights.begin(), b.blend_weights.end(), 1.0f);
    }

    if (s.mask_mode == StretchFromMask) {
        stretch_from_mask(s, f, i, b);
    } else if (f.n > 0 && s.amount > 0.0f && f.max_chunk >= 2) {
        sort_spans(s, f, i, b);
    }

    // Compose and write the positions that exist in the output.
    const LineRun out = line_run<Pixel>(output, f, i);
    const bool sweep = s.sweep_mode != SweepOff;
    for (std::int32_t j = out.begin; j < out.end; ++j) {
        const std::size_t at = std::size_t(j);
        Pixel result;
        if (s.show_mask) {
            result = grey<Pixel>(b.mask_weights[at]);
        } else {
            const std::int32_t ox = f.vertical ? i : j;
            const std::int32_t oy = f.vertical ? j : i;
            // The band is 1 everywhere when the sweep is off.
            const float band =
                sweep ? sweep_factor(s, (float(ox) + 0.5f) / f.width, (float(oy) + 0.5f) / f.height) : 1.0f;
            const float w = s.amount * b.blend_weights[at] * band;
            result = (w >= 1.0f && !s.preserve_input_alpha)
                         ? b.elements[at].pixel  // the common full-weight case: the moved pixel as is
                         : blend_pixel(b.source[at], b.elements[at].pixel, w, s.preserve_input_alpha);
        }
        std::memcpy(out.first + std::int64_t(j - out.begin) * out.stride, &result, sizeof result);
    }
}

}  // namespace

template <class Pixel>
void linear_stretch_pass(const ImageView& input, const ImageView& output, const RenderArea& area,
                         const RenderSettings& s, float scale_x, float scale_y, AbortPoll poll,
                         void* poll_data, const MaskSampler& mask) {
    const std::int64_t width = area_width(area), height = area_height(area);
    if (width <= 0 || height <= 0) return;

    LineFrame f;
    f.vertical = s.direction == Vertical;
    f.left = area.left;
    f.top = area.top;
    f.n = std::int32_t(f.vertical ? height : width);
    f.lines = std::int32_t(f.vertical ? width : height);
    f.along = std::max(f.vertical ? scale_y : scale_x, MIN_SCALE);
    f.cross = std::max(f.vertical ? scale_x : scale_y, MIN_SCALE);
    const float scaled = std::round(s.streak_length * f.along);
    f.max_chunk = std::min(round_key(scaled), f.n);
    f.base_length = f.max_chunk >= 2 ? float(f.max_chunk) : 1.0f;
    f.width = float(width);
    f.height = float(height);

    LineBuffers<Pixel> buffers(f.n);
    const std::int32_t view_first = f.vertical ? output.origin_x : output.origin_y;
    const std::int64_t view_end = std::int64_t(view_first) + (f.vertical ? output.width : output.height);
    auto skipped = [&](std::int32_t i) {  // nothing of this line can be written
        const std::int64_t u = std::int64_t(i) + (f.vertical ? f.left : f.top);
        return u < view_first || u >= view_end;
    };
    if (!f.vertical) {
        for (std::int32_t i = 0; i < f.lines; ++i) {
            if (i % 8 == 0) poll_if_present(poll, poll_data);
            if (!skipped(i)) process_line(input, output, s, mask, f, i, buffers);
        }
    } else {
        // Columns a strip at a time: the strip's part of the input is copied
        // row by row into a buffer where its columns lie close together, the
        // lines are processed there, and the result is copied back row by
        // row. Every line sees the same pixels as in the views themselves.
        ColumnStrips<Pixel> strips(input, output, f);
        for (std::int32_t first = 0; first < f.lines; first += STRIP_COLUMNS) {
            const std::int32_t last = std::min(f.lines, first + STRIP_COLUMNS);
            strips.gather(first, last);
            for (std::int32_t i = first; i < last; ++i) {
                if (i % 8 == 0) poll_if_present(poll, poll_data);
                if (!skipped(i)) process_line(strips.in, strips.out, s, mask, f, i, buffers);
            }
            strips.scatter();
        }
    }
    poll_if_present(poll, poll_data);
}

#define LUMATRAIL_INSTANTIATE(Pixel) \
    template void linear_stretch_pass<Pixel>(const ImageView&, const ImageView&, const RenderArea&, \
                                             const RenderSettings&, float, float, AbortPoll, void*, \
                                             const MaskSampler&);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_INSTANTIATE)
#undef LUMATRAIL_INSTANTIATE

}  // namespace lumatrail
