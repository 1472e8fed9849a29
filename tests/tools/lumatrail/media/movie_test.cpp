// Movies read and written through FFmpeg's libraries, checked against the
// pictures they were made from and against what ffprobe says of them. The
// movies are made here by the ffmpeg program from PNG pictures kept beside
// them, and damaged byte by byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/media.h"
#include "tools/lumatrail/media/movie_reader.h"
#include "tools/lumatrail/media/movie_writer.h"
#include "tests/support/scratch_folder.h"
#include "tests/tools/lumatrail/tool_failure.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using lumatrail::testing::bytes_of;
using lumatrail::testing::write_bytes;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// The standard output of a shell command.
std::string output_of(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// Runs the ffmpeg program quietly; true when it succeeded.
bool ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -nostdin -hide_banner -v error -y " + args + " >/dev/null 2>&1").c_str()) ==
           0;
}

bool has_encoder(const std::string& name) {
    static const std::string list = output_of("ffmpeg -hide_banner -encoders 2>/dev/null");
    return list.find(" " + name + " ") != std::string::npos;
}

// Whether this ffmpeg lacks the encoder; if so its name joins those skipped.
bool missing_encoder(const std::string& name, std::string& skipped) {
    if (has_encoder(name)) return false;
    skipped += " " + name;
    return true;
}

// What ffprobe says of a file's first video stream, its packets counted.
std::map<std::string, std::string> ffprobe(const std::string& path, const std::string& stream = "v:0") {
    const std::string text = output_of("ffprobe -v error -select_streams " + stream +
                                       " -count_packets -show_entries "
                                       "stream=codec_name,avg_frame_rate,nb_read_packets,pix_fmt,start_time,"
                                       "duration -of default=noprint_wrappers=1 \"" +
                                       path + "\" 2>/dev/null");
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (const auto eq = line.find('='); eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
    return fields;
}

// Peak signal-to-noise ratio of the colour channels (alpha too when asked),
// in dB over the depth's full value; infinite for equal pictures.
double psnr(const offline::OfflineWorld& a, const offline::OfflineWorld& b, bool with_alpha = false) {
    EXPECT_EQ(a.format, b.format);
    double sum = 0;
    std::size_t count = 0;
    offline::with_world_pixel_type(a.format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        const double full = offline::FULL_VALUE<Pixel>;
        for (std::int32_t y = 0; y < a.world.height; ++y)
            for (std::int32_t x = 0; x < a.world.width; ++x) {
                const Pixel p = *offline::pixel_at<Pixel>(a, x, y), q = *offline::pixel_at<Pixel>(b, x, y);
                auto add = [&](double u, double v) { sum += (u - v) * (u - v) / (full * full), ++count; };
                add(p.red, q.red), add(p.green, q.green), add(p.blue, q.blue);
                if (with_alpha) add(p.alpha, q.alpha);
            }
    });
    return sum == 0 ? INFINITY : 10 * std::log10(double(count) / sum);
}

struct Movies : lumatrail::testing::ScratchFolderTest<> {
    std::string q(const std::string& name) const { return "\"" + at(name) + "\""; }

    // Picture n (from 0) of a numbered set made by ffmpeg (which counts from 1).
    offline::OfflineWorld picture(const std::string& prefix, std::int64_t n,
                                  std::optional<PF_PixelFormat> depth = {}) const {
        char name[64];
        std::snprintf(name, sizeof name, "%s%03d.png", prefix.c_str(), int(n + 1));
        return read_image(at(name), depth);
    }
};

constexpr int PICTURES = 48;  // two seconds at 24 frames a second

// The lossy movies are made at high quality from testsrc2, whose saturated
// colour bars and fine text at 96x64 are a hard case for 4:2:0 and 4:2:2
// chroma: read correctly, every frame measures 31.7 to 34.5 dB against its
// own picture. The same frames read with the wrong colour matrix measure
// about 27 dB, with the wrong range about 25, and against the neighbouring
// picture at most 22.5: 30 dB separates a right frame from all of these.
constexpr double LOSSY_PSNR = 30.0;

TEST_F(Movies, LossyCodecsGiveEveryFrameInPresentationOrder) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=2 " + q("src%03d.png")));
    struct Case {
        const char *encoder, *file, *args, *codec;
    };
    const Case cases[] = {
        {"libx264", "h264.mp4", "-c:v libx264 -bf 3 -crf 12 -pix_fmt yuv420p", "h264"},
        {"libx265", "h265.mkv", "-c:v libx265 -x265-params log-level=none:bframes=3 -crf 12 -pix_fmt yuv420p",
         "hevc"},
        {"mjpeg", "mjpeg.avi", "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p", "mjpeg"},
        {"libvpx-vp9", "vp9.mkv", "-c:v libvpx-vp9 -crf 10 -b:v 0 -pix_fmt yuv420p", "vp9"},
        {"prores_ks", "prores.mov", "-c:v prores_ks -profile:v hq -pix_fmt yuv422p10le", "prores"},
    };
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (missing_encoder(c.encoder, skipped)) continue;
        ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " " + c.args + " " + q(c.file)));
        const auto probe = ffprobe(at(c.file));
        const MovieInfo info = probe_movie(at(c.file));
        EXPECT_EQ(info.codec, c.codec);
        EXPECT_EQ(probe.at("codec_name"), c.codec);
        EXPECT_EQ(info.frames, PICTURES);
        EXPECT_EQ(probe.at("nb_read_packets"), std::to_string(PICTURES));
        EXPECT_EQ(to_string(info.rate), "24");
        EXPECT_EQ(probe.at("avg_frame_rate"), "24/1");
        EXPECT_EQ(info.width, 96);
        EXPECT_EQ(info.height, 64);
        EXPECT_EQ(info.depth,
                  std::string(c.codec) == "prores" ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32);
        EXPECT_FALSE(info.alpha);
        EXPECT_FALSE(info.audio);

        // Every frame, the last ones (held back by B-frames) too, is its own
        // picture and not its neighbour.
        MovieReader reader(at(c.file), PF_PixelFormat_ARGB32);
        for (std::int64_t n = 0; n < PICTURES; ++n) {
            const offline::OfflineWorld frame = reader.read(n);
            const double own = psnr(frame, picture("src", n));
            EXPECT_GE(own, LOSSY_PSNR) << "frame " << n;
            if (n > 0) {
                EXPECT_LT(psnr(frame, picture("src", n - 1)), own - 5) << "frame " << n;
            }
            if (n == 20) {
                EXPECT_TRUE(offline::same_pixels(reader.read(n), frame)) << "the same frame again";
            }
        }
        const ToolError past = failure_of([&] { reader.read(PICTURES); });
        EXPECT_EQ(past.exit_code, EXIT_INPUT);
        EXPECT_EQ(past.what(), "\"" + at(c.file) + "\" has no frame 48: it holds 48 frames, counted from 0");
        // An earlier frame starts over.
        EXPECT_GE(psnr(reader.read(3), picture("src", 3)), LOSSY_PSNR);
    }
    if (!skipped.empty()) GTEST_SKIP() << "this ffmpeg has no encoder" << skipped;
}

// Straight RGBA64 values of a movie's frame as the ffmpeg program decodes it.
std::vector<std::uint16_t> raw_rgba64(const std::string& movie, int frame, const std::string& scratch) {
    const std::string args = "-i \"" + movie + "\" -vf \"select=eq(n\\," + std::to_string(frame) +
                             ")\" -frames:v 1 -f rawvideo -pix_fmt rgba64le \"" + scratch + "\"";
    EXPECT_TRUE(ffmpeg(args));
    const std::string bytes = bytes_of(scratch);
    std::vector<std::uint16_t> values(bytes.size() / 2);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::uint16_t(std::uint8_t(bytes[2 * i]) | std::uint8_t(bytes[2 * i + 1]) << 8);
    return values;
}

TEST_F(Movies, LosslessAndDeepMoviesReadBitForBit) {
    // 8-bit FFV1 (bgra): exactly the pictures it was made from.
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=0.5 " + q("src%03d.png")));
    ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " -c:v ffv1 -pix_fmt bgra " + q("ffv1.mkv")));
    MovieReader ffv1(at("ffv1.mkv"));
    EXPECT_EQ(ffv1.info().depth, PF_PixelFormat_ARGB32);
    EXPECT_EQ(ffv1.info().frames, 12);  // counted from the packets: Matroska gives no count
    for (int n = 0; n < 12; ++n) EXPECT_TRUE(offline::same_pixels(ffv1.read(n), picture("src", n))) << n;

    // 16-bit FFV1 with alpha: 16-bit values no 8-bit picture holds, and an
    // alpha ramp; each world is the straight values premultiplied with
    // the rounding the reader states.
    const std::string deep =
        "testsrc2=s=96x64:r=24:d=0.25,format=rgba64le,geq=r='mod(r(X\\,Y)+X*37+Y*11\\,65536)':g='g(X\\,Y)':"
        "b='mod(b(X\\,Y)+X*Y*5\\,65536)':a='X*689+Y*3'";
    ASSERT_TRUE(ffmpeg("-f lavfi -i \"" + deep + "\" -c:v ffv1 -pix_fmt gbrap16le " + q("deep.mkv")));
    MovieReader deep16(at("deep.mkv"));
    EXPECT_EQ(deep16.info().depth, PF_PixelFormat_ARGB64);
    EXPECT_TRUE(deep16.info().alpha);
    MovieReader deep_float(at("deep.mkv"), PF_PixelFormat_ARGB128);
    for (int n : {0, 5}) {
        const auto raw = raw_rgba64(at("deep.mkv"), n, at("raw"));
        ASSERT_EQ(raw.size(), 96u * 64u * 4u);
        const offline::OfflineWorld world = deep16.read(n), floats = deep_float.read(n);
        std::size_t wrong = 0, wrong_float = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 96; ++x) {
                const std::uint16_t* v = &raw[4 * (std::size_t(y) * 96 + std::size_t(x))];
                const std::uint64_t a = v[3], full2 = 65535ull * 65535ull;
                auto pre = [&](std::uint64_t c) {
                    return std::uint16_t((c * a * 32768 + full2 / 2) / full2);
                };
                const PF_Pixel16 p = *offline::pixel_at<PF_Pixel16>(world, x, y);
                const PF_Pixel16 expected = {std::uint16_t((a * 32768 + 32767) / 65535), pre(v[0]), pre(v[1]),
                                             pre(v[2])};
                wrong += p.alpha != expected.alpha || p.red != expected.red || p.green != expected.green ||
                         p.blue != expected.blue;
                const PF_PixelFloat f = *offline::pixel_at<PF_PixelFloat>(floats, x, y);
                wrong_float +=
                    f.alpha != float(double(a) / 65535) || f.red != float(double(v[0] * a) / double(full2));
            }
        EXPECT_EQ(wrong, 0u) << "frame " << n;
        EXPECT_EQ(wrong_float, 0u) << "frame " << n;
    }

    // A 10-bit ramp reaches a 16-bit world without passing through 8 bits:
    // more levels than 8 bits hold.
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i \"color=black:s=512x16:d=0.25,format=yuv444p10le,geq=lum='64+X*1.7':"
               "cb=512:cr=512\" -c:v ffv1 " +
               q("ramp.mkv")));
    MovieReader ramp(at("ramp.mkv"));
    EXPECT_EQ(ramp.info().depth, PF_PixelFormat_ARGB64);
    const offline::OfflineWorld row = ramp.read(0);
    std::set<std::uint16_t> levels;
    for (int x = 0; x < 512; ++x) levels.insert(offline::pixel_at<PF_Pixel16>(row, x, 8)->green);
    EXPECT_GT(levels.size(), 400u);
}

TEST_F(Movies, CodecAlphaIsPremultipliedIntoTheWorld) {
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i \"testsrc2=s=96x64:r=24:d=0.5,format=rgba,geq=r='r(X\\,Y)':g='g(X\\,Y)':"
               "b='b(X\\,Y)':a='X*255/95'\" " +
               q("src%03d.png")));
    // 10-bit 4:4:4 ProRes of 8-bit pictures measures 55 dB, alpha included;
    // VP9 at 4:2:0, its alpha coded lossily apart, 27 to 29 dB. Alpha lost
    // (the ramp read as opaque) measures under 10 dB, and colours left
    // straight under this ramp far below either threshold.
    struct Case {
        const char *encoder, *file, *args;
        double min_psnr;
    };
    const Case cases[] = {
        {"prores_ks", "alpha.mov", "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le", 45.0},
        {"libvpx-vp9", "alpha.webm", "-c:v libvpx-vp9 -crf 10 -b:v 0 -pix_fmt yuva420p", 25.0},
    };
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (missing_encoder(c.encoder, skipped)) continue;
        ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " " + c.args + " " + q(c.file)));
        MovieReader reader(at(c.file), PF_PixelFormat_ARGB32);
        EXPECT_TRUE(reader.info().alpha);
        for (int n = 0; n < 12; ++n) {
            const offline::OfflineWorld frame = reader.read(n), expected = picture("src", n);
            EXPECT_GE(psnr(frame, expected, true), c.min_psnr) << n;
        }
        if (std::string(c.file) != "alpha.mov") continue;
        // ProRes keeps alpha losslessly: the ramp comes back exactly.
        const offline::OfflineWorld frame = reader.read(11), expected = picture("src", 11);
        for (int x = 0; x < 96; ++x)
            EXPECT_EQ(offline::pixel_at<PF_Pixel>(frame, x, 10)->alpha,
                      offline::pixel_at<PF_Pixel>(expected, x, 10)->alpha);
    }
    if (!skipped.empty()) GTEST_SKIP() << "this ffmpeg has no encoder" << skipped;
}

TEST_F(Movies, RatesCountsAndStartTimesAsTheProbeSaysThem) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=0.5 " + q("src%03d.png")));
    const std::string pictures = "-framerate 30000/1001 -i " + q("src%03d.png") + " ";
    const std::string lossless = "-c:v ffv1 -pix_fmt bgra ";
    // Broadcast rates stay exact fractions; a stream that starts late still
    // starts at frame 0; Matroska and MP4 alike.
    ASSERT_TRUE(ffmpeg(pictures + lossless + q("ntsc.mkv")));
    ASSERT_TRUE(ffmpeg(pictures + lossless + "-output_ts_offset 5 " + q("late.mkv")));
    ASSERT_TRUE(
        ffmpeg(pictures + "-c:v mjpeg -q:v 2 -pix_fmt yuvj444p -output_ts_offset 3.2 " + q("late.mov")));
    if (has_encoder("libx264")) {
        ASSERT_TRUE(ffmpeg(pictures + "-c:v libx264 -bf 2 -crf 12 -pix_fmt yuv420p " + q("ntsc.mp4")));
    }
    // Variable rate: frames at irregular times, every third one late.
    ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " -vf \"setpts='(N+floor(N/3))/24/TB'\" " +
                       "-fps_mode passthrough " + lossless + q("variable.mkv")));
    // With audio beside the video.
    ASSERT_TRUE(ffmpeg(pictures + "-f lavfi -i sine=d=0.4 -shortest " + lossless + "-c:a pcm_s16le " +
                       q("audio.mov")));

    for (const char* name : {"ntsc.mkv", "late.mkv", "late.mov", "ntsc.mp4", "variable.mkv", "audio.mov"}) {
        SCOPED_TRACE(name);
        if (!fs::exists(at(name))) continue;
        const auto probe = ffprobe(at(name));
        MovieReader reader(at(name));
        const MovieInfo& info = reader.info();
        EXPECT_EQ(to_string(info.rate),
                  probe.at("avg_frame_rate") == "24/1" ? "24" : probe.at("avg_frame_rate"));
        EXPECT_EQ(to_string(info.rate), std::string(name) == "variable.mkv" ? "24" : "30000/1001");
        EXPECT_EQ(std::to_string(info.frames), probe.at("nb_read_packets"));
        EXPECT_EQ(info.frames, 12);
        EXPECT_EQ(info.audio, std::string(name) == "audio.mov");
        if (std::string(name).starts_with("late")) {
            EXPECT_GT(std::stod(probe.at("start_time")), 3.0);
        }
        // Frame N is the N-th picture, whatever its time.
        for (int n = 0; n < 12; ++n) {
            const offline::OfflineWorld frame = reader.read(n);
            if (info.codec == "ffv1")
                EXPECT_TRUE(offline::same_pixels(frame, picture("src", n))) << n;
            else
                EXPECT_GE(psnr(frame, picture("src", n)), LOSSY_PSNR) << n;
        }
    }
}

// Runs f with the process's standard error going to a file; what it wrote.
template <class F>
std::string stderr_of(const std::string& file, F&& f) {
    std::fflush(stderr);
    const int saved = dup(2);
    std::FILE* sink = std::fopen(file.c_str(), "w");
    dup2(fileno(sink), 2);
    f();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(sink);
    return bytes_of(file);
}

// Reads every frame of a file that may be damaged: either it reads or each
// failure is one ToolError line naming the file.
int read_all_or_fail_cleanly(const std::string& path) {
    int failures = 0;
    auto check = [&](const ToolError& e) {
        ++failures;
        EXPECT_EQ(e.exit_code, EXIT_INPUT) << e.what();
        EXPECT_THAT(e.what(), HasSubstr("\"" + path + "\"")) << e.what();
        EXPECT_THAT(e.what(), Not(HasSubstr("\n"))) << e.what();
    };
    try {
        MovieReader reader(path);
        // A damaged index may claim any number of frames: three failures tell enough.
        for (std::int64_t n = 0; n < reader.info().frames && failures < 3; ++n) {
            try {
                reader.read(n);
            } catch (const ToolError& e) {
                check(e);
            }
        }
    } catch (const ToolError& e) {
        check(e);
    }
    return failures;
}

TEST_F(Movies, DamagedFilesAndStillsAreOneLineErrors) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=1 " + q("src%03d.png")));
    ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " -c:v mjpeg " + q("movie.mov")));
    ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " -c:v mjpeg -movflags +faststart " +
                       q("faststart.mov")));
    ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") + " -c:v ffv1 " + q("movie.mkv")));
    const std::string mov = bytes_of(at("movie.mov")), fast = bytes_of(at("faststart.mov"));
    const std::string mkv = bytes_of(at("movie.mkv"));
    write_bytes(at("text.txt"), "not a movie at all\n");
    write_bytes(at("empty.mov"), "");
    // Cut short: the index at the end lost, or the pictures after the index.
    write_bytes(at("no_index.mov"), mov.substr(0, mov.size() / 2));
    write_bytes(at("cut.mov"), fast.substr(0, fast.size() * 2 / 3));
    write_bytes(at("cut.mkv"), mkv.substr(0, mkv.size() * 2 / 3));
    // A byte changed in each box of the index: its size, and a byte inside.
    std::vector<std::string> damaged;
    for (const char* box : {"moov", "trak", "mdia", "minf", "stbl", "stsd", "stts", "stsc", "stsz", "stco"}) {
        const std::size_t at_box = fast.find(box);
        ASSERT_NE(at_box, std::string::npos) << box;
        for (const std::size_t offset : {at_box - 1, at_box + 12}) {
            std::string bytes = fast;
            bytes[offset] = char(bytes[offset] ^ 0x5a);
            damaged.push_back(at(std::string(box) + std::to_string(offset - at_box + 1) + ".mov"));
            write_bytes(damaged.back(), bytes);
        }
    }

    const std::string printed = stderr_of(at("stderr.txt"), [&] {
        for (const char* name : {"src001.png", "src%03d.png", "text.txt", "empty.mov", "missing.mov"}) {
            SCOPED_TRACE(name);
            EXPECT_FALSE(is_movie_file(at(name)));
            const ToolError e = failure_of([&] { probe_movie(at(name)); });
            EXPECT_EQ(e.exit_code, EXIT_INPUT);
            EXPECT_THAT(e.what(), HasSubstr("cannot read \"" + at(name) + "\": "));
        }
        EXPECT_THAT(failure_of([&] { MovieReader(at("src001.png")); }).what(),
                    HasSubstr("a picture, not a movie"));
        EXPECT_THAT(failure_of([&] { probe_movie(at("missing.mov")); }).what(),
                    HasSubstr("no such file or directory"));
        EXPECT_TRUE(is_movie_file(at("movie.mov")));

        EXPECT_EQ(read_all_or_fail_cleanly(at("no_index.mov")), 1);
        EXPECT_GT(read_all_or_fail_cleanly(at("cut.mov")), 0);  // the index still claims 24 frames
        EXPECT_EQ(read_all_or_fail_cleanly(at("cut.mkv")), 0);  // counted from what is left
        EXPECT_LT(probe_movie(at("cut.mkv")).frames, 24);
        int failed = 0;
        for (const std::string& path : damaged) failed += read_all_or_fail_cleanly(path) > 0;
        EXPECT_GT(failed, 0);
    });
    EXPECT_EQ(printed, "") << "the libraries printed";
}

// An H.264 movie whose sync-sample or timing table claims a huge number of
// entries, or whose table's size or name is damaged: it is a movie by its
// first bytes, so it goes to the movie reader, which reads what it can or
// says in one line naming the file why it cannot (a huge count: the
// libraries refuse the header), and never to the picture library, whose own
// movie reader aborts the process on the damaged sizes and names (in the
// scaler: "Assertion desc failed").
TEST_F(Movies, MovieWithADamagedIndexIsStillAMovie) {
    if (!has_encoder("libx264")) GTEST_SKIP() << "this ffmpeg has no encoder libx264";
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i testsrc=size=64x48:rate=24 -frames:v 12 -c:v libx264 -bf 0 "
               "-pix_fmt yuv420p " +
               q("clean.mp4")));
    const std::string clean = bytes_of(at("clean.mp4"));
    const std::string printed = stderr_of(at("stderr.txt"), [&] {
        // The entry count's high byte (after version and flags): refused.
        // The box's size or a letter of its name: read as far as it goes.
        for (const auto& [box, offset] :
             {std::pair{"stss", 8}, {"stts", 8}, {"stss", -4}, {"stts", -1}, {"stts", 0}}) {
            SCOPED_TRACE(std::string(box) + std::to_string(offset));
            const std::size_t at_box = clean.find(box);
            ASSERT_NE(at_box, std::string::npos);
            std::string bytes = clean;
            bytes[at_box + offset] = char(0x7f);
            const std::string path = at(std::string(box) + std::to_string(offset) + ".mp4");
            write_bytes(path, bytes);
            EXPECT_TRUE(is_movie_file(path));
            EXPECT_EQ(input_kind(path), MediaKind::Movie);
            if (offset != 8) {
                read_all_or_fail_cleanly(path);
                continue;
            }
            const ToolError e = failure_of([&] { probe_movie(path); });
            EXPECT_EQ(e.exit_code, EXIT_INPUT);
            EXPECT_THAT(e.what(), HasSubstr("cannot read \"" + path + "\": "));
            EXPECT_THAT(e.what(), Not(HasSubstr("\n")));
            if (std::string_view(box) == "stts") {
                EXPECT_THAT(e.what(), HasSubstr("its index is damaged"));
            }
        }
    });
    EXPECT_EQ(printed, "") << "the libraries printed";
}

// Writes the worlds as a movie through a writer, as the render job does.
std::vector<std::string> write_movie(const std::string& path, const MovieSettings& settings,
                                     const std::vector<offline::OfflineWorld>& frames) {
    const std::vector<std::string> warnings = check_movie_settings(path, settings);
    MovieWriter writer(path, path, settings);
    for (const offline::OfflineWorld& frame : frames) writer.write(frame);
    writer.finish();
    return warnings;
}

TEST_F(Movies, WrittenMoviesAreWhatFfprobeSays) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=0.5 " + q("src%03d.png")));
    struct Case {
        const char *file, *codec, *encoder;
        PF_PixelFormat depth;
        const char *codec_name, *pix_fmt, *rate;
    };
    const Case cases[] = {
        {"default.mov", "", "prores_ks", PF_PixelFormat_ARGB64, "prores", "yuv422p10le", "30000/1001"},
        {"default.mp4", "", "libx264", PF_PixelFormat_ARGB32, "h264", "yuv420p", "30000/1001"},
        {"deep.mp4", "", "libx264", PF_PixelFormat_ARGB64, "h264", "yuv420p10le", "24/1"},
        {"float.m4v", "", "libx264", PF_PixelFormat_ARGB128, "h264", "yuv420p10le", "24/1"},
        {"default.mkv", "", "ffv1", PF_PixelFormat_ARGB32, "ffv1", "bgra", "30000/1001"},
        {"deep.mkv", "", "ffv1", PF_PixelFormat_ARGB64, "ffv1", "gbrap16le", "24/1"},
        {"default.webm", "", "libvpx-vp9", PF_PixelFormat_ARGB32, "vp9", "yuv420p", "24/1"},
        {"deep.webm", "", "libvpx-vp9", PF_PixelFormat_ARGB64, "vp9", "yuv420p10le", "30000/1001"},
        {"default.avi", "", "mjpeg", PF_PixelFormat_ARGB32, "mjpeg", "yuvj420p", "30000/1001"},
        {"h265.mp4", "h265", "libx265", PF_PixelFormat_ARGB64, "hevc", "yuv420p10le", "30000/1001"},
        // Written at 10 bits; ffprobe names the format the ProRes decoder gives for 4444, 12 bits.
        {"alpha.mov", "prores4444", "prores_ks", PF_PixelFormat_ARGB32, "prores", "yuva444p12le", "24/1"},
    };
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (missing_encoder(c.encoder, skipped)) continue;
        MovieSettings settings;
        settings.width = 96, settings.height = 64, settings.depth = c.depth, settings.codec = c.codec;
        settings.rate = std::string(c.rate) == "24/1" ? FrameRate{24, 1} : FrameRate{30000, 1001};
        // H.265's default (crf 28) is made for larger pictures than these.
        if (std::string(c.codec) == "h265") settings.quality = 90;
        std::vector<offline::OfflineWorld> frames;
        for (int n = 0; n < 12; ++n) frames.push_back(picture("src", n, c.depth));
        {
#if defined(__SANITIZE_ADDRESS__)
            // libx265's 10-bit encoder keeps 1168 bytes of its own after it is
            // closed: the leak checker passes over what this thread allocates
            // while writing that one movie.
            std::optional<__lsan::ScopedDisabler> x265;
            if (std::string(c.encoder) == "libx265") x265.emplace();
#endif
            EXPECT_EQ(write_movie(at(c.file), settings, frames), std::vector<std::string>{});
        }
        const auto probe = ffprobe(at(c.file));
        EXPECT_EQ(probe.at("codec_name"), c.codec_name);
        EXPECT_EQ(probe.at("pix_fmt"), c.pix_fmt);
        EXPECT_EQ(probe.at("avg_frame_rate"), c.rate);
        EXPECT_EQ(probe.at("nb_read_packets"), "12");
        // Read back at the depth written, every frame its own picture (the
        // lossless one exactly).
        MovieReader reader(at(c.file), c.depth);
        EXPECT_EQ(reader.info().frames, 12);
        EXPECT_EQ(to_string(reader.info().rate) + (reader.info().rate.den == 1 ? "/1" : ""), c.rate);
        for (int n = 0; n < 12; ++n) {
            if (std::string(c.codec_name) == "ffv1")
                EXPECT_TRUE(offline::same_pixels(reader.read(n), frames[n])) << n;
            else
                EXPECT_GE(psnr(reader.read(n), frames[n]), LOSSY_PSNR) << n;
        }
    }
    if (!skipped.empty()) GTEST_SKIP() << "this ffmpeg has no encoder" << skipped;
}

// Premultiplied worlds of every alpha, each colour at most its alpha.
std::vector<offline::OfflineWorld> random_worlds(PF_PixelFormat depth, int count) {
    std::mt19937 random(7);
    std::vector<offline::OfflineWorld> worlds;
    for (int n = 0; n < count; ++n) {
        offline::OfflineWorld w = offline::make_world(depth, 64, 48);
        offline::with_world_pixel_type(depth, [&](auto pixel) {
            using Pixel = decltype(pixel);
            using Value = decltype(Pixel::alpha);
            const auto full = std::uint32_t(offline::FULL_VALUE<Pixel>);
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x) {
                    const std::uint32_t a = y < 8 ? full : random() % (full + 1);  // some rows opaque
                    auto c = [&] { return Value(random() % (a + 1)); };
                    *offline::pixel_at<Pixel>(w, x, y) = {Value(a), c(), c(), c()};
                }
        });
        worlds.push_back(std::move(w));
    }
    return worlds;
}

TEST_F(Movies, Ffv1MoviesRoundTripBitForBitWithAlpha) {
    for (const PF_PixelFormat depth : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64}) {
        SCOPED_TRACE(depth);
        MovieSettings settings;
        settings.width = 64, settings.height = 48, settings.depth = depth;
        const auto worlds = random_worlds(depth, 3);
        write_movie(at("alpha.mkv"), settings, worlds);
        MovieReader reader(at("alpha.mkv"));
        EXPECT_TRUE(reader.info().alpha);
        EXPECT_EQ(reader.info().depth, depth);
        for (int n = 0; n < 3; ++n) EXPECT_TRUE(offline::same_pixels(reader.read(n), worlds[n])) << n;
    }
}

TEST_F(Movies, SettingsAreCheckedBeforeAnythingIsRendered) {
    MovieSettings s;
    s.width = 96, s.height = 64;
    auto usage = [&](const std::string& path, const MovieSettings& settings) {
        const ToolError e = failure_of([&] { check_movie_settings(at(path), settings); });
        EXPECT_EQ(e.exit_code, EXIT_USAGE) << e.what();
        return std::string(e.what());
    };
    for (const char* name : {"a.mov", "b.MP4", "c.m4v", "d.Mkv", "e.webm", "f.avi"})
        EXPECT_TRUE(is_movie_output(name));
    for (const char* name : {"a.png", "b.gif", "mov", "c.mov.tif"}) EXPECT_FALSE(is_movie_output(name));
    EXPECT_THAT(usage("out.gif", s), HasSubstr(".mov, .mp4, .m4v, .mkv, .webm or .avi"));
    s.codec = "theora";
    EXPECT_THAT(usage("out.mkv", s), HasSubstr("unknown codec \"theora\": .mkv takes "));
    s.codec = "prores";
    const std::string webm = usage("out.webm", s);
    EXPECT_THAT(webm, HasSubstr(".webm cannot hold prores: it takes vp9"));
    EXPECT_THAT(webm, Not(HasSubstr("h264")));
    // The QuickTime muxer claims VP9 but refuses it when the file is started.
    s.codec = "vp9";
    EXPECT_THAT(usage("out.mov", s), AllOf(HasSubstr(".mov cannot hold vp9"), Not(HasSubstr("vp9,"))));
    s.codec = "h264";
    for (const int q : {0, 101}) {
        s.quality = q;
        EXPECT_THAT(usage("out.mp4", s), HasSubstr("--quality takes 1 to 100"));
    }
    s.quality = 80;
    EXPECT_EQ(check_movie_settings(at("out.mp4"), s), std::vector<std::string>{});
    s.width = 95;
    EXPECT_THAT(usage("out.mp4", s),
                HasSubstr("even width, not 95x64: render an even size, or use ffv1 in .mkv"));
    s.width = 96, s.height = 63;
    EXPECT_THAT(usage("out.mov", s), HasSubstr("even height"));
    s.codec = "";
    EXPECT_EQ(check_movie_settings(at("odd.mkv"), s).size(), 1u);  // any size; the quality is ignored
    EXPECT_THAT(check_movie_settings(at("odd.mkv"), s)[0],
                HasSubstr("--quality is ignored: ffv1 is lossless"));
    s.height = 64, s.quality.reset(), s.depth = PF_PixelFormat_ARGB64;
    const auto deep_jpeg = check_movie_settings(at("deep.avi"), s);
    ASSERT_EQ(deep_jpeg.size(), 1u);
    EXPECT_EQ(deep_jpeg[0],
              "mjpeg in this build writes 8 bits a channel: the 16-bit render is written at 8 bits");
    if (has_encoder("dnxhd")) {
        s.codec = "dnxhr";
        EXPECT_THAT(usage("small.mov", s), HasSubstr("dnxhr takes 256x120 and larger, not 96x64"));
    }
    s.codec = "", s.width = 0;
    EXPECT_THAT(usage("empty.mkv", s), HasSubstr("sizes from 1 to 65536"));
}

TEST_F(Movies, AudioIsCopiedForItsSpanWhereTheContainerHoldsIt) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=0.5 " + q("src%03d.png")));
    const std::string av = "-f lavfi -i testsrc2=s=96x64:r=24:d=3 -f lavfi -i sine=d=3 -c:v mjpeg ";
    ASSERT_TRUE(ffmpeg(av + "-c:a aac " + q("aac.mov")));
    ASSERT_TRUE(ffmpeg(av + "-c:a pcm_s16le " + q("pcm.mov")));
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=s=96x64:r=24:d=1 -c:v mjpeg " + q("silent.mov")));
    std::vector<offline::OfflineWorld> frames;
    for (int n = 0; n < 12; ++n) frames.push_back(picture("src", n));
    MovieSettings s;
    s.width = 96, s.height = 64, s.codec = "mjpeg";
    s.audio_start = 1.0, s.audio_end = 2.5;

    s.audio_from = at("aac.mov");
    EXPECT_EQ(write_movie(at("aac.mp4"), s, frames), std::vector<std::string>{});
    const auto audio = ffprobe(at("aac.mp4"), "a:0");
    EXPECT_EQ(audio.at("codec_name"), "aac");
    // The span's packets, within one packet (1024 samples at 44.1 kHz) at each end.
    EXPECT_NEAR(std::stod(audio.at("duration")), 1.5, 0.05);
    EXPECT_EQ(ffprobe(at("aac.mp4")).at("nb_read_packets"), "12");

    s.audio_from = at("pcm.mov");
    const auto left_out = write_movie(at("pcm.mp4"), s, frames);
    ASSERT_EQ(left_out.size(), 1u);
    EXPECT_EQ(left_out[0],
              "the audio of \"" + at("pcm.mov") + "\" (pcm_s16le) is left out: .mp4 cannot hold it");
    EXPECT_EQ(ffprobe(at("pcm.mp4"), "a:0").count("codec_name"), 0u);
    EXPECT_EQ(write_movie(at("pcm.mkv"), s, frames), std::vector<std::string>{});
    EXPECT_EQ(ffprobe(at("pcm.mkv"), "a:0").at("codec_name"), "pcm_s16le");
    // Matroska gives no stream duration; the file's is the audio's, the longer.
    EXPECT_NEAR(
        std::stod(output_of("ffprobe -v error -show_entries format=duration -of csv=p=0 " + q("pcm.mkv"))),
        1.5, 0.05);

    s.audio_from = at("silent.mov");
    EXPECT_EQ(check_movie_settings(at("x.mp4"), s),
              std::vector<std::string>{"\"" + at("silent.mov") + "\" has no audio to copy"});
    s.audio_from = at("missing.mov");
    EXPECT_EQ(failure_of([&] { check_movie_settings(at("x.mp4"), s); }).exit_code, EXIT_INPUT);
}

TEST_F(Movies, AFailedWriteSaysWhy) {
    MovieSettings s;
    s.width = 64, s.height = 48, s.depth = PF_PixelFormat_ARGB64;
    const ToolError missing = failure_of([&] { MovieWriter(at("no/such/folder.mkv"), "shown.mkv", s); });
    EXPECT_EQ(missing.exit_code, EXIT_OUTPUT);
    EXPECT_STREQ(missing.what(), "cannot write \"shown.mkv\": no such file or directory");

    // A file size limit in a child process, whose signal is ignored so that
    // writes fail with EFBIG instead: 3 incompressible 16-bit frames are
    // about 70 KB.
    const auto worlds = random_worlds(PF_PixelFormat_ARGB64, 3);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        int code = 1;
        try {
            MovieWriter writer(at("big.mkv.partial"), "big.mkv", s);
            for (const auto& w : worlds) writer.write(w);
            writer.finish();
        } catch (const ToolError& e) {
            code = e.exit_code == EXIT_OUTPUT &&
                           std::string(e.what()) == "cannot write \"big.mkv\": file too large"
                       ? 0
                       : 2;
            if (code) std::fprintf(stderr, "%d %s\n", e.exit_code, e.what());
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no failure, 2: another failure";
    EXPECT_TRUE(fs::exists(at("big.mkv.partial")));  // the writer never deletes
}

}  // namespace
}  // namespace lumatrail::tools
