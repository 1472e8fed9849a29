// The linear stretch pass on tiny hand-made lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "engine/linear_pass.h"
#include "host/settings_fill.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

using testing::ImageBuffer;

// One row of opaque greys; the red channel tells the pixels apart.
ImageBuffer<PixelFloat> row_of(std::initializer_list<float> greys) {
    ImageBuffer<PixelFloat> img(std::int32_t(greys.size()), 1);
    std::int32_t x = 0;
    for (float g : greys) img.at(x++, 0) = PixelFloat{1, g, g, g};
    return img;
}

std::vector<float> reds(const ImageBuffer<PixelFloat>& img) {
    std::vector<float> out;
    for (const auto& p : img.pixels) out.push_back(p.red);
    return out;
}

// Settings for exact chunk lengths: every chunk is streak_length long.
RenderSettings plain(float streak_length = 640.0f) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.length_variation = 0.0f;
    s.streak_length = streak_length;
    return s;
}

// The pass as the frame entry runs it: on normalised settings.
template <class Pixel>
ImageBuffer<Pixel> run(ImageBuffer<Pixel>& in, const RenderSettings& s, const MaskSampler& mask = {}) {
    ImageBuffer<Pixel> out(in.width, in.height, Pixel{});
    linear_stretch_pass<Pixel>(in.view(), out.view(), normalised_settings(s), {{0, 0, in.width, in.height}},
                               mask);
    return out;
}

using Reds = std::vector<float>;

TEST(StreakLength, WorkedValues) {
    EXPECT_EQ(streak_hash(42, 0, 0), 2569154u);
    EXPECT_EQ(chunk_length(2569154u, 0.35f, 640.0f), 606);
    EXPECT_EQ(streak_hash(42, 5, 100), 3683528u);
    EXPECT_EQ(chunk_length(3683528u, 0.35f, 640.0f), 591);
    EXPECT_EQ(streak_hash(42, 100, 5), streak_hash(42, 5, 100));
    EXPECT_EQ(streak_hash(-7, 3, 9), streak_hash(-7, 9, 3));
    EXPECT_EQ(chunk_length(16777215u, 1.0f, 640.0f), 1);  // the shortest
    EXPECT_EQ(chunk_length(0u, 1.0f, 640.0f), 640);
}

TEST(LineSkip, NothingOutsideTheOutputViewIsProcessed) {
    const ImageView none{};
    int polls = 0;
    auto count = [](void* n) { ++*static_cast<int*>(n); };
    linear_stretch_pass<Pixel8>(none, none, plain(), {{0, 0, 65536, 2048}, 1, 1, count, &polls}, {});
    EXPECT_EQ(polls, 2048 / 8 + 1);  // every line skipped, only the polls
    // An empty area does nothing at all, not even a poll.
    linear_stretch_pass<Pixel8>(none, none, plain(), {{5, 5, 5, 100}, 1, 1, count, &polls}, {});
    EXPECT_EQ(polls, 2048 / 8 + 1);
}
TEST(SpanSort, DarkestToBrightestOrReversed) {
    auto in = row_of({0.5f, 0.2f, 0.9f, 0.3f});
    RenderSettings s = plain();
    EXPECT_EQ(reds(run(in, s)), (Reds{0.2f, 0.3f, 0.5f, 0.9f}));
    s.reverse_direction = true;
    EXPECT_EQ(reds(run(in, s)), (Reds{0.9f, 0.5f, 0.3f, 0.2f}));
    s.lower_brightness = 1.0f;  // exchanged thresholds act as 0.08 .. 1
    s.upper_brightness = 0.08f;
    EXPECT_EQ(reds(run(in, s)), (Reds{0.9f, 0.5f, 0.3f, 0.2f}));
}

TEST(SpanSort, ChunksAreCutFromTheSpanStartInBothDirections) {
    auto falling = row_of({0.8f, 0.7f, 0.6f, 0.5f, 0.4f, 0.3f, 0.2f, 0.1f});
    RenderSettings s = plain(3.0f);
    s.lower_brightness = 0.0f;
    EXPECT_EQ(reds(run(falling, s)), (Reds{0.6f, 0.7f, 0.8f, 0.3f, 0.4f, 0.5f, 0.1f, 0.2f}));
    auto rising = row_of({0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f});
    s.reverse_direction = true;
    EXPECT_EQ(reds(run(rising, s)), (Reds{0.3f, 0.2f, 0.1f, 0.6f, 0.5f, 0.4f, 0.8f, 0.7f}));
}

TEST(SpanSort, PixelsOutsideTheWindowSplitSpans) {
    auto in = row_of({0.9f, 0.5f, 0.02f, 0.6f, 0.3f});
    EXPECT_EQ(reds(run(in, plain())), (Reds{0.5f, 0.9f, 0.02f, 0.3f, 0.6f}));
    // Transparent pixels have key 0 and join spans only with a lower threshold of 0.
    auto with_hole = row_of({0.5f, 0.0f, 0.3f});
    with_hole.at(1, 0) = PixelFloat{0, 0.7f, 0.7f, 0.7f};
    EXPECT_EQ(reds(run(with_hole, plain())), (Reds{0.5f, 0.7f, 0.3f}));
    RenderSettings s = plain();
    s.lower_brightness = 0.0f;
    EXPECT_EQ(reds(run(with_hole, s)), (Reds{0.7f, 0.3f, 0.5f}));
}

TEST(SpanSort, NothingMovesWithoutAmountOrChunkLength) {
    auto in = row_of({0.5f, 0.2f, 0.9f, 0.3f});
    RenderSettings s = plain();
    s.amount = 0.0f;
    EXPECT_EQ(run(in, s), in);
    s.show_mask = true;  // still paints the mask: no mask layer is opaque black
    EXPECT_EQ(run(in, s), ImageBuffer<PixelFloat>(4, 1, PixelFloat{1, 0, 0, 0}));
    s = plain(1.4f);  // rounds to 1: max_chunk below 2
    EXPECT_EQ(run(in, s), in);
    auto one_long = row_of({0.5f});
    EXPECT_EQ(run(one_long, plain()), one_long);
}

TEST(SpanSort, PreserveAlphaRescalesMovedAndUnmovedPixels) {
    ImageBuffer<PixelFloat> in(3, 1);
    in.at(0, 0) = PixelFloat{1.0f, 0.9f, 0.9f, 0.9f};
    in.at(1, 0) = PixelFloat{0.5f, 0.1f, 0.1f, 0.1f};    // key 0.2
    in.at(2, 0) = PixelFloat{1e-13f, 0.0f, 0.0f, 0.0f};  // key 0: outside the window, stays
    RenderSettings s = plain();
    s.preserve_input_alpha = true;
    const auto out = run(in, s);
    const PixelFloat expected[3] = {{1.0f, 0.2f, 0.2f, 0.2f}, {0.5f, 0.45f, 0.45f, 0.45f}, {1e-13f, 0, 0, 0}};
    EXPECT_EQ(std::memcmp(out.pixels.data(), expected, sizeof expected), 0);
    in.at(2, 0) = PixelFloat{1e-12f, 0.4f, 0.4f, 0.4f};  // not above 1e-12: colour 0
    EXPECT_EQ(run(in, s).at(2, 0).red, 0.0f);
}

// A mask whose alpha is 1 in columns [from, to) of a one-row layer.
struct RowMask {
    ImageBuffer<PixelFloat> pixels;
    MaskSampler sampler;
    RowMask(std::int32_t width, std::int32_t from, std::int32_t to, float value = 1.0f) : pixels(width, 1) {
        for (std::int32_t x = from; x < to; ++x) pixels.at(x, 0).alpha = value;
        sampler = testing::mask_sampler_of(pixels, float(width), 1.0f);
    }
};

TEST(MaskModes, SortInsideMaskWithoutAMaskIsACopy) {
    auto in = row_of({0.5f, 0.2f, 0.9f, 0.3f});
    RenderSettings s = plain();
    s.mask_mode = SortInsideMask;
    EXPECT_EQ(run(in, s), in);
    const RowMask mask(4, 0, 2);
    EXPECT_EQ(reds(run(in, s, mask.sampler)), (Reds{0.2f, 0.5f, 0.9f, 0.3f}));  // only inside
}

TEST(MaskModes, StretchSmearsTheRunsLastPixelWithAFeatheredTip) {
    auto in = row_of({0.1f, 0.1f, 0.1f, 0.9f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f});
    const RowMask mask(10, 0, 4);
    RenderSettings s = plain(4.0f);  // reach A = 4
    s.mask_mode = StretchFromMask;
    s.mask_threshold = 0.0f;
    s.stretch_tip_feather = 0.5f;  // F = 2
    auto out = reds(run(in, s, mask.sampler));
    const float k = out[4] - 0.1f;  // K, the run's strength (1 up to rounding)
    EXPECT_NEAR(k, 0.8f, 1e-5f);
    EXPECT_EQ(out[5], out[4]);
    EXPECT_NEAR(out[6], 0.1f + 0.5f * k, 1e-6f);
    EXPECT_EQ(out[7], 0.1f);  // t = 1 at distance A
    EXPECT_EQ(out[8], 0.1f);
    EXPECT_EQ((Reds{out[0], out[1], out[2], out[3]}), (Reds{0.1f, 0.1f, 0.1f, 0.9f}));  // inside unchanged

    s.stretch_tip_feather = 0.0f;  // full strength up to and including distance A
    out = reds(run(in, s, mask.sampler));
    EXPECT_EQ(out[7], out[4]);
    EXPECT_EQ(out[8], 0.1f);
}

TEST(MaskModes, StretchLeavesTheRunInTheTraversalDirection) {
    auto in = row_of({0.1f, 0.1f, 0.1f, 0.1f, 0.7f, 0.8f, 0.1f, 0.1f, 0.1f, 0.1f});
    const RowMask mask(10, 4, 6);
    RenderSettings s = plain(2.0f);
    s.mask_mode = StretchFromMask;
    s.mask_threshold = 0.0f;
    s.stretch_tip_feather = 0.0f;
    auto out = reds(run(in, s, mask.sampler));
    EXPECT_NEAR(out[6], 0.8f, 1e-5f);  // the run's last pixel, to the right
    EXPECT_NEAR(out[7], 0.8f, 1e-5f);
    EXPECT_EQ(out[8], 0.1f);
    EXPECT_EQ(out[3], 0.1f);
    s.reverse_direction = true;
    out = reds(run(in, s, mask.sampler));
    EXPECT_NEAR(out[3], 0.7f, 1e-5f);  // now the run ends at its left side
    EXPECT_NEAR(out[2], 0.7f, 1e-5f);
    EXPECT_EQ(out[6], 0.1f);
}

TEST(MaskModes, TransparentLastPixelCastsNoStreak) {
    auto in = row_of({0.5f, 0.5f, 0.5f, 0.1f, 0.1f, 0.1f});
    in.at(2, 0) = PixelFloat{0, 0, 0, 0};
    const RowMask mask(6, 0, 3);
    RenderSettings s = plain(3.0f);
    s.mask_mode = StretchFromMask;
    s.mask_threshold = 0.0f;
    s.lower_brightness = 0.0f;  // its key 0 is inside the window, but it has no alpha
    EXPECT_EQ(run(in, s, mask.sampler), in);
    // Nor does one whose alpha is NaN, which is not above 0 either: the
    // streak would smear NaN. The output keeps its bits, NaN included.
    in.at(2, 0) = PixelFloat{std::numeric_limits<float>::quiet_NaN(), 1, 1, 1};
    EXPECT_EQ(run(in, s, mask.sampler), in);
}

TEST(MaskModes, FullThresholdKeepsOnlyAFullMask) {
    auto in = row_of({0.5f, 0.2f, 0.9f, 0.3f});
    RenderSettings s = plain();
    s.mask_mode = SortInsideMask;
    s.mask_threshold = 1.0f;
    const RowMask almost(4, 0, 4, 0.999f);
    EXPECT_EQ(run(in, s, almost.sampler), in);
    s.show_mask = true;
    s.mask_mode = MaskOff;  // the mask is painted even though it does not limit the sort
    s.mask_threshold = 0.5f;
    const RowMask mask(4, 0, 4, 0.75f);
    const auto painted = run(in, s, mask.sampler);
    EXPECT_EQ(painted.at(1, 0).alpha, 1.0f);
    EXPECT_NEAR(painted.at(1, 0).red, 0.5f, 1e-6f);  // (0.75 - 0.5) / 0.5
}

TEST(LineSkip, OnlyLinesInsideTheOutputViewAreWritten) {
    auto in = testing::convert<PixelFloat>(testing::test_picture(5, 6));
    RenderSettings s = plain();
    ImageBuffer<PixelFloat> whole = run(in, s);
    ImageBuffer<PixelFloat> out(5, 2);
    linear_stretch_pass<PixelFloat>(in.view(), out.view(0, 2), s, {{0, 0, 5, 6}}, {});
    for (std::int32_t x = 0; x < 5; ++x) {
        EXPECT_EQ(std::memcmp(&out.at(x, 0), &whole.at(x, 2), sizeof(PixelFloat)), 0);
        EXPECT_EQ(std::memcmp(&out.at(x, 1), &whole.at(x, 3), sizeof(PixelFloat)), 0);
    }
    int polls = 0;
    linear_stretch_pass<PixelFloat>(in.view(), ImageView{}, s,
                                    {{0, 0, 5, 6}, 1, 1, [](void* n) { ++*static_cast<int*>(n); }, &polls},
                                    {});
    EXPECT_EQ(polls, 2);  // line 0 and the end
}

TEST(Depths, SamePictureSortsToTheSamePermutation) {
    testing::ImageBuffer<Pixel8> picture(97, 13);
    for (std::int32_t y = 0; y < 13; ++y)
        for (std::int32_t x = 0; x < 97; ++x) {
            const auto v = std::uint8_t((x * 37 + y * 53) % 256);
            picture.at(x, y) = Pixel8{255, v, v, v};
        }
    RenderSettings s = DEFAULT_SETTINGS;  // default seed and variation
    s.streak_length = 20.0f;
    for (bool vertical : {false, true}) {
        s.direction = vertical ? Vertical : Horizontal;
        auto in8 = picture;
        auto in16 = testing::convert<Pixel16>(picture);
        auto inf = testing::convert<PixelFloat>(picture);
        const auto out8 = run(in8, s);
        EXPECT_FALSE(out8 == in8);
        EXPECT_EQ(run(in16, s), testing::convert<Pixel16>(out8));
        EXPECT_EQ(run(inf, s), testing::convert<PixelFloat>(out8));
    }
}

}  // namespace
}  // namespace lumatrail

namespace lumatrail {
namespace {

// Columns go through the pass a strip at a time; what each column sees must
// not depend on how the views lie in memory or where the strips fall: a
// bottom-up input, an output view that covers part of the area (cutting
// strips in the middle) and an input that covers part of it, in columns and
// in rows, against the same pass through plain views.
TEST(VerticalStrips, ViewLayoutAndPartialViewsDoNotChangeTheColumns) {
    auto picture = testing::convert<Pixel16>(testing::test_picture(37, 29));
    RenderSettings s = DEFAULT_SETTINGS;
    s.direction = Vertical;
    s.streak_length = 9.0f;
    const RenderSettings n = normalised_settings(s);
    const RenderArea area{3, 2, 40, 31};  // the picture's pixels at layer (3, 2)

    ImageBuffer<Pixel16> plain(37, 29);
    linear_stretch_pass<Pixel16>(picture.view(3, 2), plain.view(3, 2), n, {area}, {});

    // The same input stored bottom-up.
    ImageBuffer<Pixel16> flipped(37, 29);
    for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 37; ++x) flipped.at(x, 28 - y) = picture.at(x, y);
    ImageView bottom_up = flipped.view(3, 2);
    bottom_up.data += std::int64_t(28) * bottom_up.row_bytes;
    bottom_up.row_bytes = -bottom_up.row_bytes;
    ImageBuffer<Pixel16> from_flipped(37, 29);
    linear_stretch_pass<Pixel16>(bottom_up, from_flipped.view(3, 2), n, {area}, {});
    EXPECT_EQ(from_flipped, plain);

    // An output of 21 columns from layer column 10: strips cut at 10 + 16 k.
    ImageBuffer<Pixel16> part(21, 29);
    linear_stretch_pass<Pixel16>(picture.view(3, 2), part.view(10, 2), n, {area}, {});
    for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 21; ++x)
            ASSERT_EQ(std::memcmp(&part.at(x, y), &plain.at(x + 7, y), sizeof(Pixel16)), 0) << x << "," << y;

    // An input covering columns from layer 20 on: columns before it read
    // as transparent, exactly as a copy of the input with those columns cleared.
    ImageBuffer<Pixel16> right_part(20, 29);
    for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 20; ++x) right_part.at(x, y) = picture.at(x + 17, y);
    ImageBuffer<Pixel16> cleared = picture;
    for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 17; ++x) cleared.at(x, y) = Pixel16{};
    ImageBuffer<Pixel16> from_part(37, 29), from_cleared(37, 29);
    linear_stretch_pass<Pixel16>(right_part.view(20, 2), from_part.view(3, 2), n, {area}, {});
    linear_stretch_pass<Pixel16>(cleared.view(3, 2), from_cleared.view(3, 2), n, {area}, {});
    EXPECT_EQ(from_part, from_cleared);
    EXPECT_FALSE(from_part == plain);

    // Rows too: an input from layer row 12 on reads as the picture with the
    // rows above cleared, and an output of rows 8 .. 19 holds those rows of
    // the full output.
    ImageBuffer<Pixel16> lower_part(37, 19), rows_cleared = picture;
    for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 37; ++x) {
            if (y >= 10) lower_part.at(x, y - 10) = picture.at(x, y);
            if (y < 10) rows_cleared.at(x, y) = Pixel16{};
        }
    ImageBuffer<Pixel16> from_lower(37, 29), from_rows_cleared(37, 29), middle_rows(37, 12);
    linear_stretch_pass<Pixel16>(lower_part.view(3, 12), from_lower.view(3, 2), n, {area}, {});
    linear_stretch_pass<Pixel16>(rows_cleared.view(3, 2), from_rows_cleared.view(3, 2), n, {area}, {});
    EXPECT_EQ(from_lower, from_rows_cleared);
    EXPECT_FALSE(from_lower == plain);
    linear_stretch_pass<Pixel16>(picture.view(3, 2), middle_rows.view(3, 8), n, {area}, {});
    for (std::int32_t y = 0; y < 12; ++y)
        for (std::int32_t x = 0; x < 37; ++x)
            ASSERT_EQ(std::memcmp(&middle_rows.at(x, y), &plain.at(x, y + 6), sizeof(Pixel16)), 0)
                << x << "," << y;
}

}  // namespace
}  // namespace lumatrail
