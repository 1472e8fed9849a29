// Every golden frame, rendered through the entry point, must have exactly the
// digest the committed table holds. A difference names the frames; `make
// golden` regenerates the table and writes contact sheets of what changed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "host/host_contract.h"
#include "offline/test_card.h"
#include "tests/golden/golden_frames.h"
#include "tests/support/sha256.h"

namespace lumatrail::golden {
namespace {

const std::filesystem::path TABLE = LUMATRAIL_GOLDEN_TABLE;

std::string digest_of(std::string_view text) {
    return testing::sha256_hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(digest_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block's tail; 1000 bytes span many blocks.
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest_of(std::string(1000, 'a')),
              "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

TEST(GoldenTable, NamesEveryFrameOfTheSetOnce) {
    const auto table = read_digest_table(TABLE);
    const auto frames = golden_frames();
    EXPECT_GE(frames.size(), 300u);
    std::set<std::string> names;
    for (const GoldenFrame& f : frames) {
        EXPECT_TRUE(names.insert(f.name).second) << "two frames named " << f.name;
        EXPECT_TRUE(table.count(f.name)) << f.name << " has no digest; run make golden";
    }
    for (const auto& [name, digest] : table)
        EXPECT_TRUE(names.count(name)) << "the table names a frame no longer in the set: " << name;
}

TEST(GoldenTable, RefusesMalformedLines) {
    const std::filesystem::path bad = std::filesystem::temp_directory_path() / "lumatrail_bad_digests.txt";
    { std::ofstream(bad) << "# comment\nframe-a 1234\n"; }
    EXPECT_THAT([&] { read_digest_table(bad); },
                ::testing::ThrowsMessage<std::runtime_error>(::testing::HasSubstr(":2: expected")));
    std::filesystem::remove(bad);
}

TEST(PhotoPicture, FloatHoldsValuesBeyondTheUnitRangeAndTransparentPixels) {
    const offline::OfflineWorld photo =
        offline::test_photo(PHOTO_WIDTH, PHOTO_HEIGHT, PF_PixelFormat_ARGB128);
    float lowest = 0, highest = 0;
    int transparent = 0;
    for (std::int32_t y = 0; y < PHOTO_HEIGHT; ++y)
        for (std::int32_t x = 0; x < PHOTO_WIDTH; ++x) {
            const PF_PixelFloat p = *offline::pixel_at<PF_PixelFloat>(photo, x, y);
            lowest = std::min({lowest, p.red, p.green, p.blue});
            highest = std::max({highest, p.red, p.green, p.blue});
            transparent += p.alpha == 0.0f;
        }
    EXPECT_LT(lowest, 0.0f);
    EXPECT_GT(highest, 1.0f);
    EXPECT_GT(transparent, 0);
}

// One test per picture and depth, so that the set renders on every core.
struct GroupName {
    Picture picture;
    PF_PixelFormat format;
};

void PrintTo(const GroupName& g, std::ostream* os) {
    *os << (g.picture == Picture::TestCard ? "test card" : "photo") << " in pixel format " << g.format;
}

class GoldenFrames : public ::testing::TestWithParam<GroupName> {};

TEST_P(GoldenFrames, MatchTheirDigests) {
    const auto table = read_digest_table(TABLE);
    std::vector<std::string> differing;
    int rendered = 0;
    for (const GoldenFrame& frame : golden_frames()) {
        if (frame.picture != GetParam().picture || frame.format != GetParam().format) continue;
        const RenderedFrame r = render_golden_frame(EffectMain, frame);
        ++rendered;
        const auto expected = table.find(frame.name);
        const std::string actual = testing::sha256_hex(r.pixels);
        if (expected == table.end() || expected->second != actual) differing.push_back(frame.name);
    }
    EXPECT_GT(rendered, 40);
    EXPECT_THAT(differing, ::testing::IsEmpty())
        << "these frames differ from the golden digest table; if the change of look is intended, "
           "run `make golden`, look at the contact sheets it writes, and say in the commit message "
           "which look changed and why";
}

INSTANTIATE_TEST_SUITE_P(EveryPictureAndDepth, GoldenFrames,
                         ::testing::Values(GroupName{Picture::TestCard, PF_PixelFormat_ARGB32},
                                           GroupName{Picture::TestCard, PF_PixelFormat_ARGB64},
                                           GroupName{Picture::TestCard, PF_PixelFormat_ARGB128},
                                           GroupName{Picture::Photo, PF_PixelFormat_ARGB32},
                                           GroupName{Picture::Photo, PF_PixelFormat_ARGB64},
                                           GroupName{Picture::Photo, PF_PixelFormat_ARGB128}),
                         [](const ::testing::TestParamInfo<GroupName>& info) {
                             const char* depth = info.param.format == PF_PixelFormat_ARGB32   ? "8bit"
                                                 : info.param.format == PF_PixelFormat_ARGB64 ? "16bit"
                                                                                              : "float";
                             return std::string(info.param.picture == Picture::TestCard ? "Card_"
                                                                                        : "Photo_") +
                                    depth;
                         });

}  // namespace
}  // namespace lumatrail::golden
