// Movies read and written through FFmpeg's libraries, checked against the
// pictures they were made from and against what ffprobe says of them. The
// movies are made here by the ffmpeg program from PNG pictures kept beside
// them, and damaged byte by byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/movie_reader.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string bytes_of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_bytes(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

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
    offline::with_pixel_type(a.format, [&](auto pixel) {
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

template <class F>
ToolError failure_of(F&& f) {
    try {
        f();
    } catch (const ToolError& e) {
        return e;
    }
    ADD_FAILURE() << "no ToolError";
    return ToolError(0, "");
}

struct Movies : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::path(::testing::TempDir()) /
              ("lumatrail_movies_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string at(const std::string& name) const { return (dir / name).string(); }
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (!has_encoder(c.encoder)) {
            std::printf("skipped %s: this ffmpeg has no %s encoder\n", c.file, c.encoder);
            continue;
        }
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

TEST_F(Movies, ProResWithAlphaIsPremultipliedIntoTheWorld) {
    if (!has_encoder("prores_ks")) GTEST_SKIP() << "this ffmpeg has no prores_ks encoder";
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i \"testsrc2=s=96x64:r=24:d=0.5,format=rgba,geq=r='r(X\\,Y)':g='g(X\\,Y)':"
               "b='b(X\\,Y)':a='X*255/95'\" " +
               q("src%03d.png")));
    ASSERT_TRUE(ffmpeg("-framerate 24 -i " + q("src%03d.png") +
                       " -c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le " + q("alpha.mov")));
    MovieReader reader(at("alpha.mov"), PF_PixelFormat_ARGB32);
    EXPECT_TRUE(reader.info().alpha);
    EXPECT_EQ(reader.info().depth, PF_PixelFormat_ARGB64);
    for (int n = 0; n < 12; ++n) {
        const offline::OfflineWorld frame = reader.read(n), expected = picture("src", n);
        // ProRes keeps alpha losslessly: the ramp comes back exactly.
        for (int x = 0; x < 96; ++x)
            EXPECT_EQ(offline::pixel_at<PF_Pixel>(frame, x, 10)->alpha,
                      offline::pixel_at<PF_Pixel>(expected, x, 10)->alpha);
        // Colours premultiplied here and by the still reader: 10-bit 4:4:4
        // ProRes of 8-bit pictures measures 55 dB; colours left straight
        // (or premultiplied twice) under this alpha ramp fall far below 45.
        EXPECT_GE(psnr(frame, expected, true), 45.0) << n;
    }
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

}  // namespace
}  // namespace lumatrail::tools
