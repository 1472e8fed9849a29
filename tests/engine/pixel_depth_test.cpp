// Views and the per-depth pixel operations, on tiny hand-made pixels.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/image_view.h"
#include "engine/pixel_depth.h"

namespace lumatrail {
namespace {

template <class P>
bool same_bits(const P& a, const P& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

#define EXPECT_PIXEL(a, b) EXPECT_TRUE(same_bits(a, b))

template <class Pixel>
struct Depth : ::testing::Test {};
using Depths = ::testing::Types<Pixel8, Pixel16, PixelFloat>;
TYPED_TEST_SUITE(Depth, Depths);

TYPED_TEST(Depth, ViewReadsAndWritesOnlyExistingPixels) {
    using P = TypeParam;
    std::vector<P> buf(3 * 2);
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = P{1, 2, 3, typename PixelTraits<P>::Channel(i + 1)};
    const ImageView view{reinterpret_cast<std::uint8_t*>(buf.data()), 3, 2, 3 * sizeof(P), 10, 20};
    EXPECT_PIXEL(read_pixel_or_zero<P>(view, 12, 21), buf[5]);
    EXPECT_PIXEL(read_pixel_or_zero<P>(view, 10, 20), buf[0]);
    const std::vector<P> before = buf;
    for (auto [x, y] : {std::pair{9, 20}, {10, 19}, {13, 20}, {10, 22}, {-2147483647 - 1, 20}}) {
        EXPECT_PIXEL(read_pixel_or_zero<P>(view, x, y), P{});
        write_pixel_if_inside(view, x, y, P{9, 9, 9, 9});
    }
    EXPECT_EQ(std::memcmp(buf.data(), before.data(), buf.size() * sizeof(P)), 0);
    write_pixel_if_inside(view, 11, 21, P{9, 9, 9, 9});
    EXPECT_PIXEL(buf[4], (P{9, 9, 9, 9}));

    const ImageView empty{nullptr, 3, 2, 3 * sizeof(P), 0, 0};
    EXPECT_PIXEL(read_pixel_or_zero<P>(empty, 1, 1), P{});
    write_pixel_if_inside(empty, 1, 1, P{9, 9, 9, 9});  // dropped, no crash
}

TYPED_TEST(Depth, NegativeRowBytesAddressesRowsDownwardInMemory) {
    using P = TypeParam;
    std::vector<P> buf(2 * 3);
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i].alpha = typename PixelTraits<P>::Channel(i + 1);
    // Row 0 is the last row in memory.
    const ImageView view{reinterpret_cast<std::uint8_t*>(&buf[4]), 2, 3, -std::int64_t(2 * sizeof(P)), 0, 0};
    EXPECT_PIXEL(read_pixel_or_zero<P>(view, 1, 0), buf[5]);
    EXPECT_PIXEL(read_pixel_or_zero<P>(view, 0, 2), buf[0]);
    EXPECT_PIXEL(read_pixel_or_zero<P>(view, 0, 3), P{});
}

TYPED_TEST(Depth, BrightnessKeyMeansTheSameAtEveryDepth) {
    using P = TypeParam;
    const auto full = PixelTraits<P>::store(PIXEL_MAX<P>);
    EXPECT_EQ(brightness_key(P{full, full, full, full}), 1.0f);
    EXPECT_EQ(brightness_key(P{0, full, full, full}), 0.0f);  // transparent
    EXPECT_EQ(brightness_key(P{full, 0, 0, 0}), 0.0f);
}

TEST(BrightnessKey, IntegerGreysAndNonFiniteResults) {
    EXPECT_EQ(brightness_key(Pixel8{255, 128, 128, 128}), 128.0f / 255.0f);
    EXPECT_EQ(brightness_key(Pixel16{32768, 16384, 16384, 16384}), 0.5f);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(brightness_key(PixelFloat{1, inf, 0, 0}), 0.0f);
    EXPECT_EQ(brightness_key(PixelFloat{1, nan, 0, 0}), 0.0f);
    EXPECT_EQ(brightness_key(PixelFloat{inf, 1, 1, 1}), 0.0f);
    EXPECT_EQ(brightness_key(PixelFloat{1e-38f, 3e38f, 3e38f, 0}), 0.0f);  // overflows
    EXPECT_EQ(brightness_key(PixelFloat{-1, 1, 1, 1}), 0.0f);
    EXPECT_EQ(brightness_key(PixelFloat{0.5f, 2, 2, 2}), 4.0f);  // keys above 1 stay
}

TEST(Quantize, LimitsRoundsHalfUpAndStoresNaNAsZero) {
    EXPECT_EQ(PixelTraits<Pixel8>::store(127.5f), 128);
    EXPECT_EQ(PixelTraits<Pixel8>::store(127.49f), 127);
    EXPECT_EQ(PixelTraits<Pixel8>::store(300.0f), 255);
    EXPECT_EQ(PixelTraits<Pixel8>::store(-3.0f), 0);
    EXPECT_EQ(PixelTraits<Pixel16>::store(40000.0f), 32768);
    EXPECT_EQ(PixelTraits<Pixel8>::store(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(PixelTraits<Pixel16>::store(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(SaturatingConversion, TruncatesInsideTheRangeAndSaturatesOutside) {
    EXPECT_EQ(to_int32_saturated(41.99f), 41);
    EXPECT_EQ(to_int32_saturated(-1.5f), -1);
    EXPECT_EQ(to_int32_saturated(-2147483648.0f), INT32_MIN);
    EXPECT_EQ(to_int32_saturated(2147483648.0f), INT32_MAX);
    EXPECT_EQ(to_int32_saturated(-3e9f), INT32_MIN);
    EXPECT_EQ(to_int32_saturated(std::numeric_limits<float>::infinity()), INT32_MAX);
    EXPECT_EQ(to_int32_saturated(std::numeric_limits<float>::quiet_NaN()), 0);
}

// The inline floor and ceil give what the maths library's do, saturated,
// at every kind of value: halves, integers, the range's edges, and beyond.
TEST(SaturatingConversion, FloorAndCeilWithoutTheLibraryMatchIt) {
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {0.0f,
                            -0.0f,
                            0.5f,
                            -0.5f,
                            1.0f,
                            -1.0f,
                            2.5f,
                            -2.5f,
                            1e-30f,
                            -1e-30f,
                            8388607.5f,
                            -8388607.5f,
                            16777217.0f,
                            2147483520.0f,
                            -2147483520.0f,
                            2147483648.0f,
                            -2147483648.0f,
                            -2147483904.0f,
                            3e9f,
                            -3e9f,
                            inf,
                            -inf,
                            std::numeric_limits<float>::quiet_NaN()};
    for (const float v : values) {
        EXPECT_EQ(floor_to_int32_saturated(v), to_int32_saturated(std::floor(v))) << v;
        EXPECT_EQ(ceil_to_int32_saturated(v), to_int32_saturated(std::ceil(v))) << v;
    }
    for (float v = -70000.0f; v < 70000.0f; v += 0.37f) {
        ASSERT_EQ(floor_to_int32_saturated(v), to_int32_saturated(std::floor(v))) << v;
        ASSERT_EQ(ceil_to_int32_saturated(v), to_int32_saturated(std::ceil(v))) << v;
    }
}

TEST(BlendPixel, CopiesAtTheEndsAndMixesInBetween) {
    const Pixel16 o{40000, 40000, 1, 2}, p{33000, 3, 40000, 5};
    EXPECT_PIXEL(blend_pixel(o, p, 0.0f, false), o);  // copied: 40000 stays
    EXPECT_PIXEL(blend_pixel(o, p, -1.0f, true), o);
    EXPECT_PIXEL(blend_pixel(o, p, 1.0f, false), p);
    EXPECT_PIXEL(blend_pixel(o, p, 7.0f, false), p);
    // Through quantize, 40000 is limited to 32768.
    EXPECT_PIXEL(blend_pixel(o, o, 0.5f, false), (Pixel16{32768, 32768, 1, 2}));

    EXPECT_PIXEL(blend_pixel(Pixel8{0, 0, 0, 0}, Pixel8{255, 255, 255, 255}, 0.5f, false),
                 (Pixel8{128, 128, 128, 128}));
    EXPECT_PIXEL(blend_pixel(Pixel16{0, 0, 0, 0}, Pixel16{32768, 32768, 32768, 32768}, 0.5f, false),
                 (Pixel16{16384, 16384, 16384, 16384}));
    EXPECT_PIXEL(blend_pixel(PixelFloat{0, 0, 0, 0}, PixelFloat{1, 3, -1, 0.5f}, 0.25f, false),
                 (PixelFloat{0.25f, 0.75f, -0.25f, 0.125f}));
}

TEST(BlendPixel, PreserveTakesSourceAlphaAndRescalesColour) {
    // f = 128 / 255: red 255 -> 128, green 100 -> 50.196 -> 50.
    EXPECT_PIXEL(blend_pixel(Pixel8{128, 0, 0, 0}, Pixel8{255, 255, 100, 0}, 1.0f, true),
                 (Pixel8{128, 128, 50, 0}));
    // A replacement without alpha gives black with the source's alpha.
    EXPECT_PIXEL(blend_pixel(Pixel8{77, 1, 2, 3}, Pixel8{0, 200, 200, 200}, 1.0f, true),
                 (Pixel8{77, 0, 0, 0}));
    EXPECT_PIXEL(blend_pixel(Pixel16{40000, 1, 2, 3}, Pixel16{0, 9, 9, 9}, 1.0f, true),
                 (Pixel16{40000, 0, 0, 0}));
    EXPECT_PIXEL(blend_pixel(PixelFloat{0.5f, 0, 0, 0}, PixelFloat{1e-12f, 5, 5, 5}, 1.0f, true),
                 (PixelFloat{0.5f, 0, 0, 0}));
    EXPECT_PIXEL(blend_pixel(PixelFloat{0.5f, 0, 0, 0}, PixelFloat{0.25f, 1, 2, 4}, 1.0f, true),
                 (PixelFloat{0.5f, 2, 4, 8}));  // float products are not limited
    // Halfway with preserve: alpha stays the source's, colour mixes toward P'.
    EXPECT_PIXEL(blend_pixel(Pixel8{128, 0, 0, 0}, Pixel8{255, 255, 100, 0}, 0.5f, true),
                 (Pixel8{128, 64, 25, 0}));
}

// Non-finite operands take the branch the tests are written with: "w ≤ 0"
// and "w ≥ 1" both fail for a NaN weight, which then mixes (NaN in float,
// stored as 0 at the integer depths), and "alpha > 1e-12" fails for a NaN
// replacement alpha, whose colour then scales by 0.
TEST(BlendPixel, NonFiniteOperandsFollowTheWrittenTests) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::uint32_t nan_bits = std::bit_cast<std::uint32_t>(nan);
    const PixelFloat mixed = blend_pixel(PixelFloat{0.5f, 1, 2, 3}, PixelFloat{1, 4, 5, 6}, nan, false);
    for (const float channel : {mixed.alpha, mixed.red, mixed.green, mixed.blue})
        EXPECT_EQ(std::bit_cast<std::uint32_t>(channel), nan_bits);
    EXPECT_PIXEL(blend_pixel(Pixel8{9, 8, 7, 6}, Pixel8{255, 1, 2, 3}, nan, false), (Pixel8{0, 0, 0, 0}));
    EXPECT_PIXEL(blend_pixel(Pixel16{9, 8, 7, 6}, Pixel16{32768, 1, 2, 3}, nan, true), (Pixel16{0, 0, 0, 0}));
    EXPECT_PIXEL(blend_pixel(PixelFloat{0.5f, 0, 0, 0}, PixelFloat{nan, 5, 5, 5}, 1.0f, true),
                 (PixelFloat{0.5f, 0, 0, 0}));
    EXPECT_PIXEL(blend_pixel(PixelFloat{0.5f, 0, 0, 0}, PixelFloat{inf, 5, 5, 5}, 1.0f, true),
                 (PixelFloat{0.5f, 0, 0, 0}));  // 0.5 / inf scales by +0
    // Without preserve a NaN alpha is copied at w ≥ 1 and kept where w ≤ 0.
    const PixelFloat hole{nan, 1, 1, 1};
    EXPECT_PIXEL(blend_pixel(PixelFloat{1, 0, 0, 0}, hole, 1.0f, false), hole);
    EXPECT_PIXEL(blend_pixel(hole, PixelFloat{1, 0, 0, 0}, 0.0f, false), hole);
}

TEST(Grey, OpaqueAtFullValue) {
    EXPECT_PIXEL(grey<Pixel8>(0.5f), (Pixel8{255, 128, 128, 128}));
    EXPECT_PIXEL(grey<Pixel16>(0.5f), (Pixel16{32768, 16384, 16384, 16384}));
    EXPECT_PIXEL(grey<PixelFloat>(0.5f), (PixelFloat{1, 0.5f, 0.5f, 0.5f}));
    EXPECT_PIXEL(grey<Pixel8>(1.0f), (Pixel8{255, 255, 255, 255}));
    EXPECT_PIXEL(grey<Pixel16>(1.0f), (Pixel16{32768, 32768, 32768, 32768}));
}

TEST(Stamp, AlphaFromTheColourPerDepth) {
    // 8-bit: alpha / 255; colour 51 at full coverage over nothing.
    EXPECT_PIXEL(stamp(Pixel8{0, 0, 0, 0}, Pixel8{51, 10, 20, 30}, 1.0f), (Pixel8{51, 10, 20, 30}));
    // Over opaque white at half coverage of an opaque colour: a = 0.5.
    EXPECT_PIXEL(stamp(Pixel8{255, 255, 255, 255}, Pixel8{255, 0, 100, 255}, 0.5f),
                 (Pixel8{255, 128, 178, 255}));
    // 16-bit: alpha * 2^-15, clamped to 1 above 32768.
    EXPECT_PIXEL(stamp(Pixel16{0, 0, 0, 0}, Pixel16{40000, 40000, 0, 0}, 1.0f),
                 (Pixel16{32768, 32768, 0, 0}));
    EXPECT_PIXEL(stamp(Pixel16{32768, 32768, 0, 0}, Pixel16{16384, 0, 16384, 0}, 1.0f),
                 (Pixel16{32768, 16384, 16384, 0}));
    // Float: the colour's alpha clamped to 0..1; values are stored unlimited.
    EXPECT_PIXEL(stamp(PixelFloat{0, 0, 0, 0}, PixelFloat{2, 3, 0, 0}, 1.0f), (PixelFloat{1, 3, 0, 0}));
    EXPECT_PIXEL(stamp(PixelFloat{0.5f, 1, 1, 1}, PixelFloat{-1, 2, 0, 0}, 0.5f),
                 (PixelFloat{0.5f, 2, 1, 1}));
    // Integer results of 0 or less store 0.
    EXPECT_PIXEL(stamp(Pixel8{0, 0, 0, 0}, Pixel8{0, 0, 0, 0}, -1.0f), (Pixel8{0, 0, 0, 0}));
}

}  // namespace
}  // namespace lumatrail

namespace lumatrail {
namespace {

// The 8-bit stamp's vector path against the channel-by-channel form, bit for
// bit: every destination value in every channel, with colours and coverages
// that reach both limits, a NaN coverage and the smallest ones.
TEST(Stamp, VectorPathMatchesTheChannelByChannelForm) {
    const float coverages[] = {0.0f,  1.0f,  0.5f,  1e-30f,  0.999999f, 0.3333333f, 0.00392f,
                               0.75f, 0.01f, 0.62f, 0.0625f, -0.0f,     2.0f,       std::nanf("")};
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    int compared = 0;
    for (int v = 0; v < 256; ++v)
        for (int trial = 0; trial < 24; ++trial) {
            const std::uint32_t r = next();
            const Pixel8 colour{std::uint8_t(trial == 0 ? 255 : r), std::uint8_t(r >> 8),
                                std::uint8_t(r >> 16), std::uint8_t(r >> 24)};
            const std::uint32_t q = next();
            const Pixel8 d{std::uint8_t(v), std::uint8_t(q), std::uint8_t(v ^ (q >> 8)),
                           std::uint8_t(255 - v)};
            for (const float k : coverages) {
                const Pixel8 vector = stamp(d, colour, k);
                const Pixel8 scalar = stamp_by_channel(d, colour, k);
                ASSERT_EQ(std::memcmp(&vector, &scalar, sizeof vector), 0)
                    << "d " << v << " colour " << int(colour.alpha) << "," << int(colour.red) << " k " << k;
                ++compared;
            }
        }
    EXPECT_EQ(compared, 256 * 24 * 14);
}

}  // namespace
}  // namespace lumatrail

namespace lumatrail {
namespace {

// The keys of a run of pixels, four at a time where the machine can, against
// brightness_key pixel by pixel, bit for bit, at every depth: every 8-bit
// alpha with every grey, and random pixels, in runs whose length is not a
// multiple of four.
TEST(BrightnessKeys, RunsMatchThePixelByPixelKey) {
    std::vector<Pixel8> pixels;
    for (int a = 0; a < 256; ++a)
        for (int v = 0; v < 256; v += 5)
            pixels.push_back(
                Pixel8{std::uint8_t(a), std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v ^ a)});
    std::uint32_t seed = 99;
    for (int i = 0; i < 100003; ++i) {
        seed = seed * 1664525u + 1013904223u;
        pixels.push_back(Pixel8{std::uint8_t(seed), std::uint8_t(seed >> 8), std::uint8_t(seed >> 16),
                                std::uint8_t(seed >> 24)});
    }
    std::vector<float> keys(pixels.size());
    brightness_keys(pixels.data(), keys.data(), std::int32_t(pixels.size()));
    for (std::size_t i = 0; i < pixels.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(keys[i]),
                  std::bit_cast<std::uint32_t>(brightness_key(pixels[i])))
            << "pixel " << i;
    // 16 bits: every channel value, 0 and above full value among them.
    std::vector<Pixel16> deep;
    for (int i = 0; i < 100003; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto channel = [&](int shift) { return std::uint16_t(i % 7 == 0 ? 0 : seed >> shift); };
        deep.push_back(Pixel16{channel(0), channel(5), channel(11), channel(16)});
    }
    std::vector<float> deep_keys(deep.size());
    brightness_keys(deep.data(), deep_keys.data(), std::int32_t(deep.size()));
    for (std::size_t i = 0; i < deep.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(deep_keys[i]),
                  std::bit_cast<std::uint32_t>(brightness_key(deep[i])))
            << "16-bit pixel " << i;
    // Float: chosen awkward values, then random bit patterns (NaN, infinities,
    // denormals, negatives, quotients that overflow).
    std::vector<PixelFloat> floats = {
        {0, 1, 1, 1},   {1e-13f, 1, 1, 1},    {2, 1, 0.5f, 0},           {1, std::nanf(""), 0, 0},
        {-1, 1, 1, 1},  {HUGE_VALF, 1, 1, 1}, {1e-38f, 3e38f, 3e38f, 0}, {-0.0f, 1, 1, 1},
        {0.5f, 2, 2, 2}};
    for (int i = 0; i < 100003; ++i) {
        PixelFloat p;
        for (float* channel : {&p.alpha, &p.red, &p.green, &p.blue}) {
            seed = seed * 1664525u + 1013904223u;
            *channel = i % 2 == 0 ? std::bit_cast<float>(seed) : float(seed >> 8) / 16777216.0f;
        }
        floats.push_back(p);
    }
    std::vector<float> float_keys(floats.size());
    brightness_keys(floats.data(), float_keys.data(), std::int32_t(floats.size()));
    for (std::size_t i = 0; i < floats.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(float_keys[i]),
                  std::bit_cast<std::uint32_t>(brightness_key(floats[i])))
            << "float pixel " << i;
}

}  // namespace
}  // namespace lumatrail
