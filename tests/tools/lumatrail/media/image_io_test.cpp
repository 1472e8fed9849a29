// Image files read and written by the lumatrail program: headers read
// alone, files that lie about their size or are damaged, colour spaces and
// movies. Damaged files are made here byte by byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "offline/test_card.h"
#include "tests/tools/lumatrail/media/png_bytes.h"
#include "tools/lumatrail/media/image_io.h"
#include "tests/support/scratch_folder.h"
#include "tests/tools/lumatrail/tool_failure.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using lumatrail::testing::bytes_of;
using lumatrail::testing::write_bytes;
using ::testing::HasSubstr;
using ::testing::Not;

using testing_png::claiming_size;
using testing_png::put_big_endian;

void put_little_endian(std::string& bytes, std::uint32_t v, int size) {
    for (int k = 0; k < size; ++k) bytes.push_back(char(v >> (8 * k)));
}

std::string png_chunk(const std::string& type, const std::string& data) {
    std::string chunk(4, '\0');
    put_big_endian(chunk, 0, std::uint32_t(data.size()));
    chunk += type + data;
    const std::string crc_of = type + data;
    chunk.append(4, '\0');
    put_big_endian(
        chunk, chunk.size() - 4,
        std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(crc_of.data()), uInt(crc_of.size()))));
    return chunk;
}

// A PNG file as an encoder writes it: every row's filter byte followed by the
// row's bytes, pass after pass when interlaced, with every checksum right (and
// a palette of 256 colours for colour type 3).
// `rows_left_out` drops the last rows, `filter` is the first row's filter;
// `chunks` go before the image data.
std::string png_file(std::uint32_t w, std::uint32_t h, int bit_depth, int colour_type, bool interlaced,
                     int rows_left_out = 0, char filter = 0, const std::string& chunks = {}) {
    const int channels = colour_type == 6 ? 4 : colour_type == 2 ? 3 : colour_type == 4 ? 2 : 1;
    std::string raw;
    auto rows = [&](std::uint32_t width, std::uint32_t count) {
        if (width == 0) return;
        const std::size_t bytes = (std::size_t(width) * std::size_t(channels * bit_depth) + 7) / 8;
        for (std::uint32_t y = 0; y < count; ++y) {
            raw.push_back(raw.empty() ? filter : '\0');
            for (std::size_t x = 0; x < bytes; ++x) raw.push_back(char((x * 7 + y * 13 + raw.size()) & 0xff));
        }
    };
    if (!interlaced) {
        rows(w, h);
    } else {
        const std::uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& p : passes)
            rows(w > p[0] ? (w - p[0] + p[2] - 1) / p[2] : 0, h > p[1] ? (h - p[1] + p[3] - 1) / p[3] : 0);
    }
    if (rows_left_out > 0) {
        const std::size_t row = 1 + (std::size_t(w) * std::size_t(channels * bit_depth) + 7) / 8;
        raw.resize(raw.size() - row * std::size_t(rows_left_out));
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string compressed(size, '\0');
    compress(reinterpret_cast<Bytef*>(compressed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    compressed.resize(size);
    std::string header(13, '\0');
    put_big_endian(header, 0, w);
    put_big_endian(header, 4, h);
    header[8] = char(bit_depth), header[9] = char(colour_type), header[12] = char(interlaced);
    std::string palette;
    for (int i = 0; i < 3 * 256; ++i) palette.push_back(char(i * 5));
    return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) +
           (colour_type == 3 ? png_chunk("PLTE", palette) : "") + chunks + png_chunk("IDAT", compressed) +
           png_chunk("IEND", "");
}

// A 16-bit grey TIFF file of that size holding one strip of 100 bytes.
std::string tiff_claiming(std::uint32_t w, std::uint32_t h) {
    const std::uint32_t entries[][3] = {{256, 4, w}, {257, 4, h}, {258, 3, 16}, {259, 3, 1},   {262, 3, 1},
                                        {273, 4, 0}, {277, 3, 1}, {278, 4, h},  {279, 4, 100}, {284, 3, 1}};
    const std::uint32_t data_at = 8 + 2 + 12 * std::size(entries) + 4;
    std::string tiff("II*\0", 4);
    put_little_endian(tiff, 8, 4);
    put_little_endian(tiff, std::uint32_t(std::size(entries)), 2);
    for (const auto& e : entries) {
        put_little_endian(tiff, e[0], 2);
        put_little_endian(tiff, e[1], 2);
        put_little_endian(tiff, 1, 4);
        put_little_endian(tiff, e[0] == 273 ? data_at : e[2], 4);
    }
    put_little_endian(tiff, 0, 4);
    return tiff + std::string(100, '\0');
}

struct ToolRun {
    int exit_code;
    std::string out, err;
};

// The lumatrail program with these arguments, stdout and stderr apart.
ToolRun run(const std::string& arguments, const fs::path& scratch) {
    const fs::path err = scratch / "stderr.txt";
    const std::string command = std::string(LUMATRAIL_TOOL) + " " + arguments + " 2>" + err.string();
    ToolRun r{-1, {}, {}};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.err = bytes_of(err);
    fs::remove(err);
    return r;
}

struct ImageIo : lumatrail::testing::ScratchFolderTest<> {
    // A real PNG file written by the program, as bytes.
    std::string written_png(PF_PixelFormat depth, std::int32_t w = 4, std::int32_t h = 4) {
        write_image(offline::test_card(w, h, depth), at("written.png"));
        return bytes_of(at("written.png"));
    }
};

TEST_F(ImageIo, HugeClaimsAreProbedFromTheHeaderAndRefusedBeforeAnythingIsAllocated) {
    write_bytes(at("claims20k.png"), claiming_size(written_png(PF_PixelFormat_ARGB32), 20000, 20000));
    write_bytes(at("claims64k.png"), claiming_size(written_png(PF_PixelFormat_ARGB64), 65536, 65536));
    write_bytes(at("claims70k.png"), claiming_size(written_png(PF_PixelFormat_ARGB32), 70000, 8));
    write_bytes(at("claims.tif"), tiff_claiming(65535, 32767));
    const struct {
        const char* file;
        std::int32_t width, height;
        PF_PixelFormat depth;
    } cases[] = {{"claims20k.png", 20000, 20000, PF_PixelFormat_ARGB32},
                 {"claims64k.png", 65536, 65536, PF_PixelFormat_ARGB64},
                 {"claims70k.png", 70000, 8, PF_PixelFormat_ARGB32},
                 {"claims.tif", 65535, 32767, PF_PixelFormat_ARGB64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const ImageInfo info = probe_image(at(c.file));
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.depth, c.depth);
        EXPECT_EQ(info.frames, 1);
        // Within a budget of 256 MB the size alone refuses the file.
        const ToolError e = failure_of([&] { read_image(at(c.file), {}, 0, {}, 256'000'000); });
        EXPECT_EQ(e.exit_code, EXIT_INPUT);
        EXPECT_THAT(e.what(), HasSubstr(at(c.file)));
        EXPECT_THAT(e.what(), HasSubstr(std::to_string(c.width) + "x" + std::to_string(c.height)));
    }
    EXPECT_THAT(failure_of([&] { read_image(at("claims64k.png"), {}, 0, {}, 256'000'000); }).what(),
                HasSubstr("256.0 MB"));
    // Within the machine's own budget the PNG files' few bytes of image data
    // refuse them before their pixels are allocated.
    for (const char* file : {"claims20k.png", "claims64k.png"}) {
        const ToolError e = failure_of([&] { read_image(at(file)); });
        EXPECT_EQ(e.exit_code, EXIT_INPUT) << file;
        EXPECT_THAT(e.what(), HasSubstr(at(file)));
    }
}

// A chunk of big-endian numbers of `size` bytes each.
std::string numbers_chunk(const std::string& type, std::initializer_list<std::uint32_t> values, int size) {
    std::string data;
    for (const std::uint32_t v : values)
        for (int k = size - 1; k >= 0; --k) data.push_back(char(v >> (8 * k)));
    return png_chunk(type, data);
}

// A transparent colour (or palette alphas) for the colour type.
std::string transparency_chunk(int colour_type) {
    if (colour_type == 0) return numbers_chunk("tRNS", {1}, 2);
    if (colour_type == 2) return numbers_chunk("tRNS", {7, 8, 9}, 2);
    std::string alphas;
    for (int i = 0; i < 200; ++i) alphas.push_back(char(i * 37));
    return png_chunk("tRNS", alphas);
}

TEST_F(ImageIo, PngFilesReadIntoTheWorldsTheLibraryReadThemInto) {
    // Every colour type at every depth it takes, interlaced or not, with a
    // transparent colour, and alpha associated in gamma-encoded files as the
    // library associates it (a gAMA chunk without an sRGB chunk).
    const struct {
        std::uint32_t w, h;
        int bits, colour_type;
        bool interlaced;
        std::string chunks;
    } sound[] = {
        {13, 11, 8, 6, true, ""},
        {17, 9, 8, 6, false, numbers_chunk("gAMA", {45455}, 4)},
        {17, 9, 16, 6, true, numbers_chunk("gAMA", {41000}, 4)},
        {17, 9, 8, 4, false, numbers_chunk("gAMA", {100000}, 4)},
        {17, 9, 8, 6, false, png_chunk("sRGB", std::string(1, '\0')) + numbers_chunk("gAMA", {45455}, 4)},
        {3, 2, 16, 2, true, ""},
        {6, 5, 16, 2, false, transparency_chunk(2)},
        {1, 1, 8, 0, true, ""},
        {37, 5, 1, 0, false, ""},
        {37, 5, 1, 0, false, transparency_chunk(0)},
        {9, 17, 4, 0, true, ""},
        {9, 7, 2, 0, false, numbers_chunk("gAMA", {50000}, 4)},
        {5, 3, 16, 4, false, ""},
        {12, 6, 16, 0, true, ""},
        {7, 6, 8, 3, true, ""},
        {23, 6, 8, 3, false, transparency_chunk(3)},
        {11, 3, 4, 3, false, ""},
        {11, 3, 2, 3, true, transparency_chunk(3)},
    };
    for (const auto& s : sound) {
        const std::string what = std::to_string(s.w) + "x" + std::to_string(s.h) + ", " +
                                 std::to_string(s.bits) + " bits, colour type " +
                                 std::to_string(s.colour_type);
        SCOPED_TRACE(what);
        const std::string name = at("sound" + std::to_string(&s - sound) + ".png");
        write_bytes(name, png_file(s.w, s.h, s.bits, s.colour_type, s.interlaced, 0, 0, s.chunks));
        const offline::OfflineWorld world = read_image(name);
        const auto in = OIIO::ImageInput::open(name);
        ASSERT_TRUE(in);
        const OIIO::ImageSpec spec = in->spec();
        const bool sixteen = spec.format == OIIO::TypeDesc::UINT16;
        ASSERT_EQ(world.format, sixteen ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32);
        const int n = spec.nchannels;
        std::vector<std::uint16_t> v(std::size_t(n) * s.w * s.h);
        ASSERT_TRUE(in->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT16, v.data()));
        int differing = 0;
        for (std::uint32_t y = 0; y < s.h; ++y)
            for (std::uint32_t x = 0; x < s.w; ++x) {
                const std::uint16_t* p = v.data() + (std::size_t(y) * s.w + x) * std::size_t(n);
                const std::uint16_t full = 65535, r = p[0], g = n >= 3 ? p[1] : r, b = n >= 3 ? p[2] : r,
                                    a = n == 2   ? p[1]
                                        : n == 4 ? p[3]
                                                 : full;
                const auto px = std::int32_t(x), py = std::int32_t(y);
                // 8-bit values come as v * 257; 16-bit worlds hold 0..32768.
                auto world16 = [](std::uint16_t c) {
                    return std::uint16_t((std::uint32_t(c) * 32768u + 32767u) / 65535u);
                };
                if (sixteen) {
                    const PF_Pixel16& q = *offline::pixel_at<PF_Pixel16>(world, px, py);
                    differing += q.alpha != world16(a) || q.red != world16(r) || q.green != world16(g) ||
                                 q.blue != world16(b);
                } else {
                    const PF_Pixel& q = *offline::pixel_at<PF_Pixel>(world, px, py);
                    differing +=
                        q.alpha * 257 != a || q.red * 257 != r || q.green * 257 != g || q.blue * 257 != b;
                }
            }
        EXPECT_EQ(differing, 0);
    }
}

TEST_F(ImageIo, DamagedPngFilesAreRefusedInOneLineNamingTheFile) {
    const std::string png = written_png(PF_PixelFormat_ARGB32, 64, 48);
    std::string flipped = png;
    flipped[png.size() / 2] ^= 0x55;
    std::string header_checksum = png;
    header_checksum[32] ^= 0x01;  // the last byte of the IHDR chunk's CRC
    std::string no_palette = png_file(8, 4, 8, 3, false);
    no_palette.replace(no_palette.find("PLTE") - 4, 12 + 3 * 256, png_chunk("PLTE", ""));
    const struct {
        const char *name, *says;
        std::string bytes;
    } damaged[] = {
        {"in_signature.png", "not a whole PNG file: its header is damaged or the file is cut short",
         png.substr(0, 6)},
        {"after_signature.png", "cut short", png.substr(0, 12)},
        {"in_header.png", "cut short in its IHDR chunk", png.substr(0, 20)},
        {"in_data.png", "cut short in its IDAT chunk", png.substr(0, png.size() / 2)},
        {"no_end.png", "cut short after its IDAT chunk", png.substr(0, png.size() - 12)},
        {"last_byte.png", "cut short in its IEND chunk", png.substr(0, png.size() - 1)},
        {"flipped.png", "damaged: its image data cannot be inflated", flipped},
        {"header_checksum.png", "damaged: its IHDR chunk fails its checksum", header_checksum},
        {"empty_palette.png", "damaged: its palette is not valid", no_palette},
        // Checksums right, the image data wrong.
        {"rows_missing.png", "damaged: its image data ends before the last row",
         png_file(20, 10, 8, 2, false, 3)},
        {"rows_missing_interlaced.png", "damaged: its image data ends before the last row",
         png_file(20, 10, 8, 2, true, 1)},
        {"bad_filter.png", "damaged: a row of its image data has an unknown filter",
         png_file(20, 10, 8, 2, false, 0, 7)},
        {"bad_header.png", "damaged: its header gives an unknown bit depth or colour type",
         png_file(20, 10, 3, 2, false)},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.name);
        write_bytes(at(d.name), d.bytes);
        const ToolError e = failure_of([&] { read_image(at(d.name)); });
        EXPECT_EQ(e.exit_code, EXIT_INPUT);
        EXPECT_THAT(e.what(), HasSubstr(at(d.name) + "\""));
        EXPECT_THAT(e.what(), HasSubstr(d.says));
        EXPECT_THAT(e.what(), Not(HasSubstr("\n")));
    }
    EXPECT_EQ(failure_of([&] { probe_image(at("in_header.png")); }).exit_code, EXIT_INPUT);
    EXPECT_EQ(probe_image(at("in_data.png")).width, 64) << "the header alone is whole";

    // The program says so once, with nothing from the libraries around it,
    // and no leak turns its exit code into 1 under the leak checker.
    const ToolRun r = run("render " + at("in_data.png") + " -o " + at("out.png"), dir);
    EXPECT_EQ(r.exit_code, EXIT_INPUT) << r.err;
    EXPECT_THAT(r.err, HasSubstr(at("in_data.png")));
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_FALSE(fs::exists(at("out.png")));
    // libpng says nothing of its own about a palette it refuses.
    const ToolRun palette = run("render " + at("empty_palette.png") + " -o " + at("out.png"), dir);
    EXPECT_EQ(palette.exit_code, EXIT_INPUT) << palette.err;
    EXPECT_EQ(palette.err, "lumatrail: cannot read \"" + at("empty_palette.png") +
                               "\": the file is damaged: its palette is not valid\n");
}

TEST_F(ImageIo, InputsThatCannotBeReadSayWhyInTheProgramsWords) {
    // Headers the library's readers refuse with words of their own ("Illegal
    // cmap_type value 55"): said as the format and what is wrong.
    write_image(offline::test_card(8, 6, PF_PixelFormat_ARGB32), at("card.tga"));
    write_image(offline::test_card(8, 6, PF_PixelFormat_ARGB128), at("card.hdr"));
    write_image(offline::test_card(8, 6, PF_PixelFormat_ARGB32), at("card.tif"));
    std::string tga = bytes_of(at("card.tga")), hdr = bytes_of(at("card.hdr")),
                tif = bytes_of(at("card.tif"));
    tga[1] = 55;                           // the colour map type
    hdr.replace(hdr.find("-Y"), 2, "-Q");  // the resolution line
    tif[2] = 43;                           // the version after the byte order
    write_bytes(at("bad.tga"), tga);
    write_bytes(at("bad.hdr"), hdr);
    write_bytes(at("bad.tif"), tif);
    write_bytes(at("empty.exr"), "");
    fs::create_directory(at("folder.png"));
    const struct {
        std::string name, says;
    } cases[] = {
        {"bad.tga", "it is not a whole TGA file: its header is damaged or the file is cut short"},
        {"bad.hdr", "it is not a whole HDR (Radiance) file: its header is damaged or the file is cut short"},
        {"bad.tif", "it is not a whole TIFF file: its header is damaged or the file is cut short"},
        {"empty.exr", "the file is empty"},
        {"folder.png", "it is a folder, not a picture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolError e = failure_of([&] { probe_image(at(c.name)); });
        EXPECT_EQ(e.exit_code, EXIT_INPUT);
        EXPECT_EQ(std::string(e.what()), "cannot read \"" + at(c.name) + "\": " + c.says);
    }
    // The program says so on one line, with nothing from the libraries.
    const ToolRun r = run("render " + at("bad.tga") + " -o " + at("out.png"), dir);
    EXPECT_EQ(r.exit_code, EXIT_INPUT);
    EXPECT_EQ(r.err, "lumatrail: cannot read \"" + at("bad.tga") + "\": " + cases[0].says + "\n");

    // A Matroska movie is a movie like any other, in and out.
    const ToolRun made = run("render --size 32x18 --fps 24 --frames 0-2 --quiet -o " + at("in.mkv"), dir);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const ToolRun read = run("render " + at("in.mkv") + " --quiet -o " + at("f.####.png"), dir);
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_TRUE(fs::exists(at("f.0002.png")));

    // A file the system will not open says what the system said; root reads
    // it whatever its mode, so there is nothing to see then.
    write_image(offline::test_card(8, 6, PF_PixelFormat_ARGB32), at("locked.png"));
    fs::permissions(at("locked.png"), fs::perms::none);
    if (std::FILE* f = std::fopen(at("locked.png").c_str(), "rb")) {
        std::fclose(f);
        GTEST_SKIP() << "this user (root) reads a file of mode 000";
    }
    const ToolError locked = failure_of([&] { probe_image(at("locked.png")); });
    EXPECT_EQ(locked.exit_code, EXIT_INPUT);
    EXPECT_EQ(std::string(locked.what()),
              "cannot read \"" + at("locked.png") + "\": the system could not open it (Permission denied)");
}

TEST_F(ImageIo, AMovieIsNeverReadAsAPicture) {
    // The picture library's own movie reader can abort the process; a movie
    // reaching the picture reader is refused instead, whatever reads it.
    ASSERT_EQ(
        std::system(("ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=24 -frames:v 3 -c:v libx264 -y " +
                     at("clip.mp4"))
                        .c_str()),
        0);
    for (const ToolError& e : {failure_of([&] { probe_image(at("clip.mp4")); }),
                               failure_of([&] { read_image(at("clip.mp4")); })}) {
        EXPECT_EQ(e.exit_code, EXIT_INPUT);
        EXPECT_THAT(e.what(), HasSubstr("is a movie, not a picture"));
    }
    EXPECT_FALSE(is_whole_image(at("clip.mp4")));
}

TEST_F(ImageIo, ColourSpacesConvertAsTheLibraryConverts) {
    const std::vector<std::string> names = known_colorspaces();
    const std::string linear = linear_colorspace();
    EXPECT_THAT(names, ::testing::Contains("sRGB"));
    EXPECT_THAT(names, ::testing::Contains(linear));
    for (const std::string& name : names) EXPECT_NO_THROW(check_colorspace(name)) << name;

    // Every 8-bit level, opaque, then a row with alpha.
    offline::OfflineWorld card = offline::make_world(PF_PixelFormat_ARGB32, 256, 3);
    for (std::int32_t x = 0; x < 256; ++x) {
        const auto v = std::uint8_t(x), u = std::uint8_t(255 - x);
        *offline::pixel_at<PF_Pixel>(card, x, 0) = {255, v, u, std::uint8_t(x * 7)};
        *offline::pixel_at<PF_Pixel>(card, x, 1) = {255, u, std::uint8_t(x / 2), v};
        *offline::pixel_at<PF_Pixel>(card, x, 2) = {v, std::uint8_t(v / 2), std::uint8_t(v / 3), v};
    }
    write_image(card, at("srgb.png"));

    OIIO::ImageBuf source(at("srgb.png"));
    ASSERT_TRUE(source.read(0, 0, true, OIIO::TypeDesc::FLOAT));
    const OIIO::ImageBuf expected = OIIO::ImageBufAlgo::colorconvert(source, "sRGB", linear);
    const offline::OfflineWorld lin = read_image(at("srgb.png"), PF_PixelFormat_ARGB128, 0, "sRGB");
    int differing = 0;
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 256; ++x) {
            float e[4];
            expected.getpixel(x, y, e, 4);
            const PF_PixelFloat& p = *offline::pixel_at<PF_PixelFloat>(lin, x, y);
            differing += p.red != e[0] || p.green != e[1] || p.blue != e[2] || p.alpha != e[3];
        }
    EXPECT_EQ(differing, 0);
    EXPECT_LT(offline::pixel_at<PF_PixelFloat>(lin, 128, 0)->red, 0.25f)
        << "mid grey is dark in linear light";

    // Back to sRGB: what the library writes from its own conversion, and for
    // the opaque rows the very bytes read.
    write_image(lin, at("back.png"), "sRGB");
    {
        const OIIO::ImageBuf converted = OIIO::ImageBufAlgo::colorconvert(expected, linear, "sRGB");
        ASSERT_TRUE(converted.write(at("direct.png"), OIIO::TypeDesc::UINT8));
    }
    OIIO::ImageBuf back(at("back.png")), direct(at("direct.png"));
    EXPECT_TRUE(OIIO::ImageBufAlgo::compare(back, direct, 0.0f, 0.0f).nfail == 0);
    const offline::OfflineWorld again = read_image(at("back.png"));
    int changed = 0;
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 256; ++x) {
            const PF_Pixel &a = *offline::pixel_at<PF_Pixel>(again, x, y),
                           &b = *offline::pixel_at<PF_Pixel>(card, x, y);
            changed += a.red != b.red || a.green != b.green || a.blue != b.blue || a.alpha != b.alpha;
        }
    EXPECT_EQ(changed, 0);

    // Unknown names are a usage error, wherever they come, and nothing is written.
    for (const auto& call :
         std::vector<std::function<void()>>{[&] { check_colorspace("no-such-space"); },
                                            [&] { read_image(at("srgb.png"), {}, 0, "no-such-space"); },
                                            [&] { write_image(card, at("never.png"), "no-such-space"); }}) {
        const ToolError e = failure_of(call);
        EXPECT_EQ(e.exit_code, EXIT_USAGE);
        EXPECT_THAT(e.what(), HasSubstr("\"no-such-space\""));
        EXPECT_THAT(e.what(), HasSubstr("lumatrail colorspaces"));
    }
    EXPECT_FALSE(fs::exists(at("never.png")));
}

}  // namespace
}  // namespace lumatrail::tools
