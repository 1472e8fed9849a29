#include "engine/linear_pass.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Frame-wide values of one pass, and what the frame's settings decide for
// every line alike.
struct LineFrame {
    bool vertical;
    std::int32_t left, top;
    std::int32_t n;  // positions per line
    std::int32_t lines;
    float along, cross;  // scales along and across the lines
    std::int32_t max_chunk;
    float base_length;    // the length chunks and streaks are cut around
    float width, height;  // the area, for the sweep band
    bool samples_mask;    // a mask mode or Show Mask: mask weights at every position
    // Full weight everywhere and nothing of the input kept (no mask, no
    // sweep, full amount, no Preserve Alpha, no Show Mask): every output
    // pixel is the moved pixel as it is, and composing is a plain copy.
    bool moves_only;
};

// The per-line buffers, allocated once per frame.
template <class Pixel>
struct LineBuffers {
    std::vector<Pixel> source;  // the line as read; transparent black where the input has none
    std::vector<Pixel> moved;   // the line sorted or stretched, then composed
    std::vector<float> keys;
    std::vector<float> mask_weights;   // 1 everywhere unless the frame samples the mask
    std::vector<float> blend_weights;  // likewise
    ChunkSortScratch sort_scratch;
    explicit LineBuffers(std::int32_t n)
        : source(std::size_t(n), Pixel{}),
          moved(std::size_t(n), Pixel{}),
          keys(std::size_t(n), 0.0f),
          mask_weights(std::size_t(n), 1.0f),
          blend_weights(std::size_t(n), 1.0f),
          sort_scratch(n) {}
};

std::int32_t line_chunk_length(const RenderSettings& s, const LineFrame& f, std::int32_t line,
                               std::int32_t position) {
    const std::uint32_t r =
        streak_hash(s.random_seed, round_key(float(line) / f.cross), round_key(float(position) / f.along));
    return chunk_length(r, s.length_variation, f.base_length);
}

// Whether a position of a line joins a span: its key inside the brightness
// window, and for Sort Inside Mask its mask weight inside the mask.
struct SpanTest {
    const float* keys;
    const float* weights;
    bool masked;
    float lower, upper;

    bool operator()(std::int32_t position) const {
        return lower <= keys[position] && keys[position] <= upper && (!masked || weights[position] > IN_MASK);
    }

    // The first position in [from, end) whose test gives `wanted`, or end.
    std::int32_t next(std::int32_t from, std::int32_t end, bool wanted) const {
        std::int32_t position = from;
#if defined(__SSE2__)
        // Four positions at a time, the same comparisons lane by lane.
        const __m128 low = _mm_set1_ps(lower), high = _mm_set1_ps(upper), in_mask = _mm_set1_ps(IN_MASK);
        const int unwanted = wanted ? 0 : 0xF;
        for (; position + 4 <= end; position += 4) {
            const __m128 key = _mm_loadu_ps(keys + position);
            __m128 joins = _mm_and_ps(_mm_cmple_ps(low, key), _mm_cmple_ps(key, high));
            if (masked) joins = _mm_and_ps(joins, _mm_cmpgt_ps(_mm_loadu_ps(weights + position), in_mask));
            const int found = _mm_movemask_ps(joins) ^ unwanted;
            if (found != 0) return position + std::countr_zero(unsigned(found));
        }
#endif
        for (; position < end; ++position)
            if ((*this)(position) == wanted) return position;
        return end;
    }
};

// Sorts the chunks of every span of the line from the source into the moved
// pixels, and copies the source's pixels between the spans.
template <class Pixel>
void sort_spans(const RenderSettings& s, const LineFrame& f, std::int32_t line, LineBuffers<Pixel>& b) {
    const SpanTest joins{b.keys.data(), b.mask_weights.data(), s.mask_mode == SortInsideMask,
                         s.lower_brightness, s.upper_brightness};
    const Pixel* source = b.source.data();
    Pixel* moved = b.moved.data();
    std::int32_t kept = 0;  // the first position not yet in the moved pixels
    for (std::int32_t begin = joins.next(0, f.n, true); begin < f.n;) {
        const std::int32_t end = joins.next(begin + 1, f.n, false);  // one past the span's last
        std::copy(source + kept, source + begin, moved + kept);
        // Chunks are cut from the span's start whatever the direction.
        for (std::int32_t q = begin; q < end;) {
            const std::int32_t e =
                std::int32_t(std::min<std::int64_t>(std::int64_t(q) + line_chunk_length(s, f, line, q), end));
            sort_chunk(source + q, b.keys.data() + q, e - q, s.reverse_direction, moved + q, b.sort_scratch);
            q = e;
        }
        kept = end;
        begin = joins.next(end, f.n, true);
    }
    std::copy(source + kept, source + f.n, moved + kept);
}

// The weight of a streak's pixel at `distance` from its source, for a streak
// of `reach` positions: 1, fading out over the feathered tip.
float streak_weight(float feather, std::int32_t distance, std::int32_t reach) {
    const float length = float(reach);
    const float tip_width = feather * length;
    if (!(tip_width > 0.0f)) return 1.0f;
    // Before the tip the clamp below gives 0 (or -0) and the weight is 1
    // exactly; the division is left for the tip.
    if (float(distance) - (length - tip_width) <= 0.0f) return 1.0f;
    const float into_tip = std::clamp(
        (float(distance) - (length - tip_width)) / std::max(length - (length - tip_width), MIN_SOFT_WIDTH),
        0.0f, 1.0f);
    return 1.0f - smoothstep(into_tip);
}

// Smears the last qualifying pixel of every mask run over the positions after
// the run (before it with Reverse Direction) into the moved pixels, with the
// streak's weights as blend weights; 0 elsewhere. The settings and buffers
// are read into locals first: an 8-bit pixel store may alias anything and
// would have them read again at every position.
template <class Pixel>
void stretch_from_mask(const RenderSettings& s, const LineFrame& f, std::int32_t line,
                       LineBuffers<Pixel>& b) {
    using T = PixelTraits<Pixel>;
    const float* mask = b.mask_weights.data();
    const float* keys = b.keys.data();
    const Pixel* pixels = b.source.data();
    Pixel* moved = b.moved.data();
    float* blend = b.blend_weights.data();
    const std::int32_t count = f.n;
    const bool reverse = s.reverse_direction, can_stretch = s.amount > 0.0f && f.max_chunk >= 2;
    const float lower = s.lower_brightness, upper = s.upper_brightness, feather = s.stretch_tip_feather;
    std::fill(blend, blend + count, 0.0f);
    const std::int32_t step = reverse ? -1 : 1;
    std::int32_t reach = -1;   // the source's streak length, hashed when first needed
    std::int32_t source = -1;  // none
    float strength = 0.0f;
    for (std::int32_t walked = 0; walked < count; ++walked) {
        const std::int32_t position = reverse ? count - 1 - walked : walked;
        const float weight = mask[position];
        if (weight > IN_MASK) {
            const std::int32_t previous = position - step;
            if (previous < 0 || previous >= count || mask[previous] <= IN_MASK)
                strength = 0.0f;  // a new mask run begins
            if (lower <= keys[position] && keys[position] <= upper &&
                T::alpha_positive(pixels[position].alpha)) {
                strength = std::max(weight, strength);
                reach = -1;
                source = position;
            } else {
                source = -1;
            }
        } else if (source >= 0 && can_stretch) {
            if (reach < 0) reach = line_chunk_length(s, f, line, source);
            const std::int32_t distance = std::abs(position - source);
            if (distance <= reach) {
                blend[position] = streak_weight(feather, distance, reach) * strength;
                moved[position] = pixels[source];
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
        copy_rows(in, input, in_part);
    }

    // The pass writes every pixel of the output strip; each row goes back.
    void scatter() { copy_rows(output, out, out_part); }

    // Copies the rows of a part from one view to another. A full strip's row
    // has a fixed size, which the compiler copies inline instead of calling
    // memcpy once for every row.
    static void copy_rows(const ImageView& to, const ImageView& from, const ViewPart& part) {
        constexpr std::size_t FULL_ROW = std::size_t(STRIP_COLUMNS) * sizeof(Pixel);
        const std::size_t row = std::size_t(part.x1 - part.x0) * sizeof(Pixel);
        for (std::int32_t y = part.y0; y < part.y1; ++y) {
            std::uint8_t* target = pixel_address<Pixel>(to, part.x0, y);
            const std::uint8_t* origin = pixel_address<Pixel>(from, part.x0, y);
            if (row == FULL_ROW)
                std::memcpy(target, origin, FULL_ROW);
            else
                std::memcpy(target, origin, row);
        }
    }
};

// Reads line i of a view into `pixels`: the positions the view has, and
// transparent black for the rest.
template <class Pixel>
void read_line(const ImageView& view, const LineFrame& f, std::int32_t i, Pixel* pixels) {
    const LineRun run = line_run<Pixel>(view, f, i);
    std::fill(pixels, pixels + run.begin, Pixel{});
    if (run.begin < run.end && run.stride == std::int64_t(sizeof(Pixel))) {
        std::memcpy(pixels + run.begin, run.first, std::size_t(run.end - run.begin) * sizeof(Pixel));
    } else {
        const std::uint8_t* at = run.first;
        for (std::int32_t position = run.begin; position < run.end; ++position, at += run.stride)
            std::memcpy(pixels + position, at, sizeof(Pixel));
    }
    std::fill(pixels + run.end, pixels + f.n, Pixel{});
}

// Writes the positions of a line that exist in a view from `pixels`.
template <class Pixel>
void write_line(const LineRun& run, const Pixel* pixels) {
    if (run.begin < run.end && run.stride == std::int64_t(sizeof(Pixel))) {
        std::memcpy(run.first, pixels + run.begin, std::size_t(run.end - run.begin) * sizeof(Pixel));
        return;
    }
    std::uint8_t* at = run.first;
    for (std::int32_t position = run.begin; position < run.end; ++position, at += run.stride)
        std::memcpy(at, pixels + position, sizeof(Pixel));
}

// The mask weight of every position of line i, and the blend weight it gives
// (itself for Sort Inside Mask, else 1).
template <class Pixel>
void read_mask_weights(const RenderSettings& s, const MaskSampler& mask, const LineFrame& f, std::int32_t i,
                       LineBuffers<Pixel>& b) {
    const std::int32_t x = (f.vertical ? i : 0) + f.left, y = (f.vertical ? 0 : i) + f.top;
    mask_weights_along_line(mask, s, x, y, f.n, f.vertical, b.mask_weights.data());
    if (s.mask_mode == SortInsideMask)
        std::copy(b.mask_weights.begin(), b.mask_weights.end(), b.blend_weights.begin());
    else
        std::fill(b.blend_weights.begin(), b.blend_weights.end(), 1.0f);
}

// The output of positions [begin, end) of line i in place of their moved
// pixels: the moved pixel blended over the source by amount, blend weight and
// sweep band, or the grey picture of the mask with Show Mask. Settings and
// buffers in locals, as in stretch_from_mask.
template <class Pixel>
void compose(const RenderSettings& s, const LineFrame& f, std::int32_t i, std::int32_t begin,
             std::int32_t end, LineBuffers<Pixel>& b) {
    Pixel* moved = b.moved.data();
    if (s.show_mask) {
        const float* mask = b.mask_weights.data();
        for (std::int32_t position = begin; position < end; ++position)
            moved[position] = grey<Pixel>(mask[position]);
        return;
    }
    const Pixel* source = b.source.data();
    const float* blend = b.blend_weights.data();
    const float amount = s.amount, width = f.width, height = f.height;
    const bool preserve = s.preserve_input_alpha, sweep = s.sweep_mode != SweepOff, vertical = f.vertical;
    for (std::int32_t position = begin; position < end; ++position) {
        const std::int32_t ox = vertical ? i : position;
        const std::int32_t oy = vertical ? position : i;
        // The band is 1 everywhere when the sweep is off.
        const float band =
            sweep ? sweep_factor(s, (float(ox) + 0.5f) / width, (float(oy) + 0.5f) / height) : 1.0f;
        const float weight = amount * blend[position] * band;
        if (!(weight >= 1.0f) || preserve)  // else the moved pixel as it is
            moved[position] = blend_pixel(source[position], moved[position], weight, preserve);
    }
}

// Inlined into both of its loops: called from two places, the compiler would
// otherwise keep it out of line and the rows lose about a fifth of their speed.
template <class Pixel>
[[gnu::always_inline]] inline void process_line(const ImageView& input, const ImageView& output,
                                                const RenderSettings& s, const MaskSampler& mask,
                                                const LineFrame& f, std::int32_t i, LineBuffers<Pixel>& b) {
    read_line(input, f, i, b.source.data());
    brightness_keys(b.source.data(), b.keys.data(), f.n);
    if (f.samples_mask) read_mask_weights(s, mask, f, i, b);

    // Positions that neither sort nor stretch keep their pixel.
    if (s.mask_mode == StretchFromMask) {
        std::copy(b.source.begin(), b.source.end(), b.moved.begin());
        stretch_from_mask(s, f, i, b);
    } else if (f.n > 0 && s.amount > 0.0f && f.max_chunk >= 2) {
        sort_spans(s, f, i, b);
    } else {
        std::copy(b.source.begin(), b.source.end(), b.moved.begin());
    }

    const LineRun out = line_run<Pixel>(output, f, i);
    if (!f.moves_only) compose(s, f, i, out.begin, out.end, b);
    write_line(out, b.moved.data());
}

}  // namespace

template <class Pixel>
void linear_stretch_pass(const ImageView& input, const ImageView& output, const RenderSettings& s,
                         const FrameContext& frame, const MaskSampler& mask) {
    const RenderArea& area = frame.area;
    const std::int64_t width = area_width(area), height = area_height(area);
    if (width <= 0 || height <= 0) return;

    LineFrame f;
    f.vertical = s.direction == Vertical;
    f.left = area.left;
    f.top = area.top;
    f.n = std::int32_t(f.vertical ? height : width);
    f.lines = std::int32_t(f.vertical ? width : height);
    f.along = std::max(f.vertical ? frame.scale_y : frame.scale_x, MIN_SCALE);
    f.cross = std::max(f.vertical ? frame.scale_x : frame.scale_y, MIN_SCALE);
    const float scaled = std::round(s.streak_length * f.along);
    f.max_chunk = std::min(round_key(scaled), f.n);
    f.base_length = f.max_chunk >= 2 ? float(f.max_chunk) : 1.0f;
    f.width = float(width);
    f.height = float(height);
    f.samples_mask = s.mask_mode != MaskOff || s.show_mask;
    f.moves_only = !f.samples_mask && s.sweep_mode == SweepOff && s.amount >= 1.0f && !s.preserve_input_alpha;

    LineBuffers<Pixel> buffers(f.n);
    const std::int32_t view_first = f.vertical ? output.origin_x : output.origin_y;
    const std::int64_t view_end = std::int64_t(view_first) + (f.vertical ? output.width : output.height);
    auto skipped = [&](std::int32_t i) {  // nothing of this line can be written
        const std::int64_t u = std::int64_t(i) + (f.vertical ? f.left : f.top);
        return u < view_first || u >= view_end;
    };
    if (!f.vertical) {
        for (std::int32_t i = 0; i < f.lines; ++i) {
            if (i % 8 == 0) poll_if_present(frame);
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
                if (i % 8 == 0) poll_if_present(frame);
                if (!skipped(i)) process_line(strips.in, strips.out, s, mask, f, i, buffers);
            }
            strips.scatter();
        }
    }
    poll_if_present(frame);
}

#define LUMATRAIL_INSTANTIATE(Pixel) \
    template void linear_stretch_pass<Pixel>(const ImageView&, const ImageView&, const RenderSettings&, \
                                             const FrameContext&, const MaskSampler&);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_INSTANTIATE)
#undef LUMATRAIL_INSTANTIATE

}  // namespace lumatrail
