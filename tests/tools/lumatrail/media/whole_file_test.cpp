// Stills cut short or damaged are refused in every format the program reads,
// whether or not the library notices; whole ones read as the library reads
// them, bit for bit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/lumatrail/media/noise_world.h"
#include "tools/lumatrail/media/image_io.h"
#include "tests/support/scratch_folder.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using lumatrail::testing::bytes_of;
using lumatrail::testing::write_bytes;
using ::testing::HasSubstr;
using ::testing::Not;
using testing_media::noise_world;

// The noise as the library writes it in RGB with these settings, not through write_image.
void write_directly(const offline::OfflineWorld& noise, const std::string& path,
                    const std::function<void(OIIO::ImageSpec&)>& settings) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    const int w = noise.world.width, h = noise.world.height;
    OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::UINT8);
    settings(spec);
    std::vector<std::uint8_t> rgb;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const PF_Pixel& p = *offline::pixel_at<PF_Pixel>(noise, x, y);
            rgb.insert(rgb.end(), {p.red, p.green, p.blue});
        }
    ASSERT_TRUE(out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, rgb.data()) && out->close());
}

// How many pixels of the world differ from the file as the library reads it
// directly as `type`, each value mapped to the world's (a file without alpha
// is opaque).
template <class Pixel, class Value, class ToWorld>
int pixels_unlike_library(const offline::OfflineWorld& w, const std::string& path, OIIO::TypeDesc type,
                          ToWorld to_world) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) return -1;
    const int channels = in->spec().nchannels;
    std::vector<Value> v(std::size_t(w.world.width) * std::size_t(w.world.height) * std::size_t(channels));
    if (!in->read_image(0, 0, 0, channels, type, v.data())) return -1;
    int differing = 0;
    for (std::int32_t y = 0; y < w.world.height; ++y)
        for (std::int32_t x = 0; x < w.world.width; ++x) {
            const Value* f =
                v.data() + (std::size_t(y) * std::size_t(w.world.width) + std::size_t(x)) * channels;
            const Pixel& p = *offline::pixel_at<Pixel>(w, x, y);
            const auto alpha = channels == 4 ? to_world(f[3]) : decltype(p.alpha)(offline::FULL_VALUE<Pixel>);
            differing += p.red != to_world(f[0]) || p.green != to_world(f[1]) || p.blue != to_world(f[2]) ||
                         p.alpha != alpha;
        }
    return differing;
}

int pixels_unlike_library(const offline::OfflineWorld& w, const std::string& path) {
    const auto same = [](auto v) { return v; };
    switch (w.format) {
    case PF_PixelFormat_ARGB32:
        return pixels_unlike_library<PF_Pixel, std::uint8_t>(w, path, OIIO::TypeDesc::UINT8, same);
    case PF_PixelFormat_ARGB64:
        // 16-bit worlds hold 0..32768, files 0..65535: rounded to the nearest.
        return pixels_unlike_library<PF_Pixel16, std::uint16_t>(
            w, path, OIIO::TypeDesc::UINT16,
            [](std::uint16_t v) { return std::uint16_t((std::uint32_t(v) * 32768u + 32767u) / 65535u); });
    default: return pixels_unlike_library<PF_PixelFloat, float>(w, path, OIIO::TypeDesc::FLOAT, same);
    }
}

struct WholeFiles : lumatrail::testing::ScratchFolderTest<> {};

TEST_F(WholeFiles, EveryStillFormatRefusesAFileCutShortAndReadsAWholeOneAsWritten) {
    const offline::OfflineWorld noise = noise_world(67, 45);
    // Each file, whether its values are the noise's own (8 bits held
    // losslessly), and whether a zeroed last quarter can be told from
    // pixels: compressed data with an end or a check of its own. Zeroes in
    // plain pixel data, or in a lossy WebP stream, are only a darker picture.
    struct Still {
        std::string name;
        bool lossless, zeroes_show;
    };
    std::vector<Still> stills;
    for (const char* format : {"png", "jpg", "tif", "exr", "dpx", "bmp", "tga", "hdr", "webp"}) {
        const std::string name = std::string("noise.") + format;
        if (!can_write(name)) continue;
        write_image(noise, at(name));
        const std::string f = format;
        stills.push_back({name, f == "png" || f == "tif" || f == "dpx" || f == "bmp" || f == "tga",
                          f != "dpx" && f != "bmp" && f != "tga" && f != "webp"});
    }
    // Layouts the program does not write but reads: tiles, plain strips,
    // run-length Targa, progressive JPEG.
    write_directly(noise, at("tiled.tif"), [](OIIO::ImageSpec& s) {
        s.attribute("compression", "zip");
        s.tile_width = s.tile_height = 16;
    });
    write_directly(noise, at("plain.tif"), [](OIIO::ImageSpec& s) { s.attribute("compression", "none"); });
    write_directly(noise, at("rle.tga"), [](OIIO::ImageSpec& s) { s.attribute("compression", "rle"); });
    write_directly(noise, at("progressive.jpg"),
                   [](OIIO::ImageSpec& s) { s.attribute("jpeg:progressive", 1); });
    write_directly(noise, at("ten_bits.dpx"), [](OIIO::ImageSpec& s) {
        s.set_format(OIIO::TypeDesc::UINT16);
        s.attribute("oiio:BitsPerSample", 10);
    });
    stills.push_back({"tiled.tif", true, true});
    stills.push_back({"plain.tif", true, false});
    stills.push_back({"rle.tga", true, true});
    stills.push_back({"progressive.jpg", false, true});
    stills.push_back({"ten_bits.dpx", false, false});

    for (const Still& still : stills) {
        SCOPED_TRACE(still.name);
        const offline::OfflineWorld w = read_image(at(still.name));
        const int differing = pixels_unlike_library(w, at(still.name));
        EXPECT_EQ(differing, 0);
        EXPECT_TRUE(!still.lossless || offline::same_pixels(w, noise)) << "the noise itself";
        EXPECT_TRUE(is_whole_image(at(still.name)));

        const std::string bytes = bytes_of(at(still.name));
        std::string zeroed = bytes;
        std::fill(zeroed.begin() + std::ptrdiff_t(bytes.size() * 3 / 4), zeroed.end(), '\0');
        std::vector<std::pair<std::string, std::string>> damaged = {
            {"half_" + still.name, bytes.substr(0, bytes.size() / 2)},
            {"short_" + still.name, bytes.substr(0, bytes.size() - 1)}};
        if (still.zeroes_show) damaged.emplace_back("zeroed_" + still.name, zeroed);
        // A DPX file that does not give its size: its pixel data is missing.
        if (still.name.ends_with(".dpx")) {
            std::string unsized = bytes.substr(0, bytes.size() - 1);
            std::fill_n(unsized.begin() + 16, 4, '\0');
            damaged.emplace_back("unsized_" + still.name, unsized);
        }
        for (const auto& [name, content] : damaged) {
            write_bytes(at(name), content);
            try {
                read_image(at(name));
                ADD_FAILURE() << name << " was read";
            } catch (const ToolError& e) {
                EXPECT_EQ(e.exit_code, EXIT_INPUT) << name;
                EXPECT_THAT(e.what(), HasSubstr("\"" + at(name) + "\"")) << name;
                EXPECT_THAT(e.what(), Not(HasSubstr("\n"))) << name;
            }
            EXPECT_FALSE(is_whole_image(at(name))) << name;
        }
    }
}

TEST_F(WholeFiles, OnlyAWholeFileIsWhole) {
    write_image(noise_world(16, 16), at("whole.png"));
    write_bytes(at("empty.png"), "");
    write_bytes(at("cut.png"), bytes_of(at("whole.png")).substr(0, 100));
    EXPECT_TRUE(is_whole_image(at("whole.png")));
    EXPECT_FALSE(is_whole_image(at("empty.png")));
    EXPECT_FALSE(is_whole_image(at("cut.png")));
    EXPECT_FALSE(is_whole_image(at("missing.png")));
    EXPECT_FALSE(is_whole_image(dir.string())) << "a folder";
}

}  // namespace
}  // namespace lumatrail::tools
