// The lumatrail program end to end: run the built binary, read its files back,
// and compare them with frames rendered directly through EffectMain.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "host/parameters.h"
#include "offline/offline_frame.h"
#include "offline/test_card.h"
#include "tests/support/effect_host.h"
#include "tests/tools/lumatrail/media/png_bytes.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/media/image_io.h"
#include "offline/param_values.h"
#include "tests/support/scratch_folder.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using lumatrail::testing::bytes_of;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

struct ToolRun {
    int exit_code;
    std::string output;  // stdout and stderr
};

// Runs a shell command line; its exit code (128 + the signal when killed) and
// what it printed on stdout and stderr (or on stdout alone, stderr going to
// the file `stderr_to`).
ToolRun run_shell(const std::string& command_line, const std::string& stderr_to = "&1") {
    const std::string command = command_line + " 2>" + stderr_to;
    ToolRun r{-1, {}};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// The lumatrail program with these arguments.
ToolRun run(const std::string& arguments) { return run_shell(std::string(LUMATRAIL_TOOL) + " " + arguments); }

// A scratch folder per test, and a host with the effect's parameters that
// renders the frames the program's files are compared with.
struct LumatrailCli : testing::ScratchFolderTest<testing::EffectHostTest> {
    // An opaque picture (straight and premultiplied alpha agree) written as a
    // 16-bit PNG input.
    std::string opaque_input(std::int32_t w = 64, std::int32_t h = 40) {
        offline::OfflineWorld card = offline::test_card(w, h, PF_PixelFormat_ARGB64);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                PF_Pixel16& p = *offline::pixel_at<PF_Pixel16>(card, x, y);
                p = {32768, std::uint16_t(x * 500 % 32768), p.green, std::uint16_t((y * 811) % 32768)};
            }
        const std::string path = at("input.png");
        write_image(card, path);
        return path;
    }

    offline::OfflineWorld direct(const offline::OfflineWorld& input, const offline::HostTime& time) {
        offline::OfflineLayer layer{input, {}, {}, {}};
        offline::FrameRequest r;
        r.input = &layer;
        r.time = time;
        offline::FrameResult res = offline::request_frame(host, EffectMain, r);
        EXPECT_EQ(res.render, 0);
        return std::move(res.output);
    }
};

TEST_F(LumatrailCli, EveryLosslessFormatHoldsExactlyTheRenderedPixels) {
    const std::string input = opaque_input();
    const std::string settings = "--set direction=radial-out --set streak-length-px=30";
    offline::apply_setting(host, "direction=radial-out");
    offline::apply_setting(host, "streak-length-px=30");
    const struct {
        const char* file;
        const char* depth;
        PF_PixelFormat format;
    } cases[] = {
        {"out8.png", "8", PF_PixelFormat_ARGB32},   {"out16.png", "16", PF_PixelFormat_ARGB64},
        {"out8.tif", "8", PF_PixelFormat_ARGB32},   {"out16.tif", "16", PF_PixelFormat_ARGB64},
        {"outf.tif", "32", PF_PixelFormat_ARGB128}, {"outf.exr", "32", PF_PixelFormat_ARGB128},
        {"out8.ppm", "8", PF_PixelFormat_ARGB32},   {"out16.dpx", "16", PF_PixelFormat_ARGB64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const ToolRun r =
            run("render " + input + " --depth " + c.depth + " " + settings + " -o " + at(c.file));
        ASSERT_EQ(r.exit_code, 0) << r.output;
        const offline::OfflineWorld expected = direct(read_image(input, c.format), {});
        EXPECT_TRUE(offline::same_pixels(read_image(at(c.file)), expected));
    }
}

TEST_F(LumatrailCli, KeyframedSequenceFollowsThePreset) {
    const std::string input = opaque_input(48, 32);
    std::ofstream(at("look.json")) << R"json({"Sweep Mode": "Build Up", "sweep-position": [[0, 0], [1, 100]],
                                         "Render Mode": "Particles", "Particle Count": 300, "Launch Speed (px/sec)": 30})json";
    const ToolRun r = run("render " + input + " --preset " + at("look.json") +
                          " --fps 4 --frames 0-4 -j 2 -o " + at("seq.%03d.tif"));
    ASSERT_EQ(r.exit_code, 0) << r.output;
    offline::apply_setting(host, "sweep-mode=build-up");
    offline::set_param_keys(host, PARAM_SWEEP_POSITION, {{0, 0}, {1, 100}});
    offline::apply_setting(host, "render-mode=particles");
    offline::apply_setting(host, "particle-count=300");
    offline::apply_setting(host, "launch-speed-px-sec=30");
    const offline::OfflineWorld picture = read_image(input);
    for (int f = 0; f <= 4; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "seq.%03d.tif", f);
        const offline::OfflineWorld expected = direct(picture, {f * 1000, 1000, 4000});
        EXPECT_TRUE(offline::same_pixels(read_image(at(name)), expected)) << name;
    }
    EXPECT_FALSE(bytes_of(at("seq.001.tif")) == bytes_of(at("seq.002.tif")));
}

TEST_F(LumatrailCli, InputSequencesAndHalfResolution) {
    // Three different input frames, rendered frame by frame from the pattern.
    std::vector<offline::OfflineWorld> inputs;
    for (int f = 1; f <= 3; ++f) {
        inputs.push_back(offline::test_card(40 + 8 * f, 30, PF_PixelFormat_ARGB64));
        char name[32];
        std::snprintf(name, sizeof name, "in.%02d.tif", f);
        write_image(inputs.back(), at(name));
    }
    const ToolRun r = run("render " + at("in.##.tif") + " --fps 24 --frames 1-3 -o " + at("out.##.tif"));
    ASSERT_EQ(r.exit_code, 0) << r.output;
    for (int f = 1; f <= 3; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "out.%02d.tif", f);
        const offline::OfflineWorld expected = direct(inputs[std::size_t(f - 1)], {f * 1000, 1000, 24000});
        EXPECT_TRUE(offline::same_pixels(read_image(at(name)), expected)) << name;
    }
    // Half resolution renders the host's half-size picture: 64x36 becomes 32x18.
    ASSERT_EQ(run("render --size 64x36 --downsample 2 -o " + at("half.png")).exit_code, 0);
    const offline::OfflineWorld half = read_image(at("half.png"));
    EXPECT_EQ(half.world.width, 32);
    EXPECT_EQ(half.world.height, 18);
    ASSERT_EQ(run("render --size 64x36 --downsample 2,1 -o " + at("half_x.png")).exit_code, 0);
    EXPECT_EQ(read_image(at("half_x.png")).world.height, 36);
}

TEST_F(LumatrailCli, JobsAndShardsDoNotChangeTheFiles) {
    fs::create_directories(dir / "one");
    fs::create_directories(dir / "four");
    const std::string common =
        "render --size 96x54 --set render-mode=force-lines --set random-force=300 --fps 10 --frames 3-12 ";
    ASSERT_EQ(run(common + "-j 1 -o " + at("one/f.####.png")).exit_code, 0);
    ASSERT_EQ(run(common + "-j 4 -o " + at("four/f.####.png")).exit_code, 0);
    std::set<std::string> seen;
    for (int k = 1; k <= 3; ++k) {
        const fs::path shard = dir / ("shard" + std::to_string(k));
        fs::create_directories(shard);
        ASSERT_EQ(run(common + "--shard " + std::to_string(k) + "/3 -o " + (shard / "f.####.png").string())
                      .exit_code,
                  0);
        for (const auto& e : fs::directory_iterator(shard)) {
            EXPECT_TRUE(seen.insert(e.path().filename().string()).second) << "rendered twice: " << e.path();
            EXPECT_EQ(bytes_of(e.path()), bytes_of(dir / "one" / e.path().filename()));
        }
    }
    EXPECT_EQ(seen.size(), 10u);
    for (int f = 3; f <= 12; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "f.%04d.png", f);
        EXPECT_EQ(bytes_of(dir / "one" / name), bytes_of(dir / "four" / name)) << name;
        EXPECT_TRUE(seen.count(name)) << name;
    }
}

TEST_F(LumatrailCli, BadInputsSayWhatIsWrongWithDistinctCodes) {
    const auto preset = [&](const std::string& name) { return "the preset \"" + at(name) + "\""; };
    const struct {
        std::string args;
        int code;
        std::string message;
    } cases[] = {
        {"render -o " + at("x.png") + " --set streak-lenght=4", 2, "did you mean \"Streak Length (px)\""},
        {"render -o " + at("x.png") + " --set amount=140", 2, "from 0 to 100"},
        {"render -o " + at("x.png") + " --frames 1-3", 2, "need --fps"},
        {"render -o " + at("x.png") + " --fps 24 --frames 1-3", 2, "output pattern"},
        {"render -o " + at("x.png") + " --bogus", 2, "unknown option"},
        {"render " + at("missing.png") + " -o " + at("x.png"), 3, "no such file"},
        {"render -o " + at("nofolder/x.png"), 4, "does not exist"},
        {"render -o " + at("x.unknownext"), 4, "no image format"},
        {"render -o " + at("x.png") + " --preset " + at("broken.json"), 2, "not valid JSON"},
        {"render -o " + at("x.png") + " --preset " + at("wrong.json"), 2, "accepts values from 1 to 32768"},
        {"render -o " + at("x.png") + " --preset " + at("missing.json"), 3,
         preset("missing.json") + " does not exist"},
        {"render -o " + at("x.png") + " --preset " + at("folder.json"), 3,
         preset("folder.json") + " is a folder, not a file"},
        {"render -o " + at("x.png") + " --preset " + at("huge.json"), 2,
         preset("huge.json") + " holds a number too large: 1e999"},
        {"render -o " + at("x.png") + " --preset " + at("deep.json"), 2, preset("deep.json") + " nests"},
        {"render -o " + at("x.png") + " --preset " + at("deeper.json"), 2, preset("deeper.json") + " nests"},
        {"render -o " + at("x.png") + " --preset " + at("long.json"), 2, "true/false, not [0,1,2,"},
        {"frobnicate", 2, "unknown command"},
        {"help frobnicate", 2, "there is no command \"frobnicate\" to help with"},
        {"params --kdenlive --shotcut-ui", 2, "params prints one file at a time"},
        // Values the command line checks, in the tool's words rather than the parser's.
        {"render -o " + at("x.png") + " -j 0", 2, "--jobs takes a whole number from 1 to 1024, not \"0\""},
        {"render -o " + at("x.png") + " --quality 1.5", 2, "--quality takes a whole number from 1 to 100"},
        {"render -o " + at("x.png") + " --depth 12", 2, "--depth takes 8, 16 or 32"},
        {"render -o " + at("x.png") + " --card tv", 2, "--card takes test or photo, not \"tv\""},
        {"render -o " + at("x.png") + " --time soon", 2, "--time takes a number of seconds"},
        {"render -o " + at("x.png") + " --time nan", 2, "--time takes a number of seconds"},
        {"render -o " + at("x.png") + " --frame x", 2, "--frame takes a whole frame number"},
        {"render -o " + at("x.png") + " --fps 24 --frame 1 --frames 1-2", 2,
         "--frame and --frames cannot be given together"},
        {"render -o " + at("x.png") + " --progress --quiet", 2,
         "--progress and --quiet cannot be given together"},
        {"render -o " + at("x.png") + " --quiet=maybe", 2,
         "--quiet takes no value (or true or false), not \"maybe\""},
        // A preset that cannot be saved: the system's reason, and nothing rendered or left behind.
        {"render -o " + at("x.png") + " --save-preset " + at("nofolder/p.json"), 4,
         "cannot write \"" + at("nofolder/p.json") + "\": no such file or directory"},
        {"render -o " + at("x.png") + " --save-preset " + at("folder.json"), 4,
         "cannot write \"" + at("folder.json") + "\": is a directory"},
        {"--plugin " + at("none.so") + " about", 3, "cannot load"},
        {"demo --out-dir " + at("broken.json"), 4,
         "cannot use \"" + at("broken.json") + "\" as the demo's folder"},
        {"demo --out-dir /proc/lumatrail-demo", 4, "as the demo's folder"},
    };
    std::ofstream(at("broken.json")) << "{\"Amount (%)\": ";
    std::ofstream(at("wrong.json")) << R"json({"Streak Length (px)": [[0, 10], [1, 0]]})json";
    fs::create_directories(at("folder.json"));
    std::ofstream(at("huge.json")) << R"json({"drag": [[0, 1], [1, 1e999]]})json";
    // Lists nested far deeper than any preset needs, and a value far longer
    // than a message can quote.
    std::ofstream(at("deep.json")) << "{\"drag\": " << std::string(5000, '[') << 1 << std::string(5000, ']')
                                   << "}";
    std::ofstream(at("deeper.json")) << "{\"drag\": " << std::string(100000, '[') << std::string(100000, ']')
                                     << "}";
    {
        std::ofstream long_value(at("long.json"));
        long_value << "{\"drag\": [[0, [0";
        for (int i = 1; i < 5000; ++i) long_value << "," << i;
        long_value << "]]]}";
    }
    for (const auto& c : cases) {
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.exit_code, c.code) << c.args << "\n" << r.output;
        EXPECT_THAT(r.output, HasSubstr(c.message)) << c.args;
        // One message in the program's own words, of a readable length.
        EXPECT_THAT(r.output, Not(HasSubstr("exception"))) << c.args;
        EXPECT_LT(r.output.size(), 400u) << c.args << "\n" << r.output;
        EXPECT_FALSE(fs::exists(at("x.png"))) << c.args;
        for (const std::string_view raw :
             {"Value ", "not in range", "excludes", "Could not convert", "allowed"})
            EXPECT_THAT(r.output, Not(HasSubstr(std::string(raw)))) << c.args;
    }
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().string().find("partial"), std::string::npos) << e.path();
    // One line, then where to look.
    const ToolRun jobs = run("render -o " + at("x.png") + " -j abc");
    EXPECT_EQ(jobs.exit_code, 2);
    EXPECT_EQ(jobs.output,
              "lumatrail: --jobs takes a whole number from 1 to 1024, not \"abc\"\n(see lumatrail --help)\n");
    const ToolRun help = run("--help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_THAT(help.output, HasSubstr("Examples:"));
}

TEST_F(LumatrailCli, CancelLeavesOnlyCompleteFiles) {
    // Interrupted after a moment: the frames in flight stop through the abort
    // callback and no partial file remains.
    const ToolRun r =
        run_shell("timeout --preserve-status --signal=INT 2 " + std::string(LUMATRAIL_TOOL) +
                  " render --size 1280x720 --set render-mode=particles --set particle-count=12000"
                  " --fps 24 --frames 0-200 -j 2 -o " +
                  at("c.####.png"));
    EXPECT_EQ(r.exit_code, 130) << r.output;
    EXPECT_THAT(r.output, HasSubstr("cancelled"));
    std::size_t complete = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        EXPECT_EQ(e.path().string().find("partial"), std::string::npos) << e.path();
        EXPECT_NO_THROW(read_image(e.path().string())) << e.path();
        ++complete;
    }
    EXPECT_LT(complete, 201u);
}

TEST_F(LumatrailCli, PresetRoundTrips) {
    std::ofstream(at("a.json")) << R"json({"direction": "radial-in", "Show Mask": true,
                                      "Sweep Position (%)": [[0, 10], [2.5, 100]], "drag": 1.5})json";
    ASSERT_EQ(
        run("render --preset " + at("a.json") + " --set amount=40 --save-preset " + at("b.json")).exit_code,
        0);
    ASSERT_EQ(run("render --preset " + at("b.json") + " --save-preset " + at("c.json")).exit_code, 0);
    const std::string b = bytes_of(at("b.json"));
    EXPECT_EQ(b, bytes_of(at("c.json")));
    EXPECT_THAT(b, HasSubstr("\"Direction\": \"Radial In\""));
    EXPECT_THAT(b, HasSubstr("\"Show Mask\": true"));
    EXPECT_THAT(b, HasSubstr("\"Amount (%)\": 40.0"));
    EXPECT_THAT(b, HasSubstr("2.5"));
}

TEST_F(LumatrailCli, HelpByCommandAndTheCookbooksPresetsByName) {
    for (const char* command : {"render", "demo", "params", "presets", "help"}) {
        SCOPED_TRACE(command);
        const ToolRun asked = run(std::string("help ") + command);
        EXPECT_EQ(asked.exit_code, 0);
        EXPECT_THAT(asked.output, HasSubstr(std::string("lumatrail ") + command));
        EXPECT_EQ(asked.output, run(std::string(command) + " --help").output);
    }
    EXPECT_THAT(run("help render").output, AllOf(HasSubstr("--preset"), Not(HasSubstr("--out-dir"))));
    EXPECT_THAT(run("help demo").output, AllOf(HasSubstr("--out-dir"), Not(HasSubstr("--preset"))));

    // `presets` lists every preset of the cookbook, one line each, with its caption.
    std::set<std::string> cookbook;
    for (const auto& e : fs::directory_iterator(LUMATRAIL_COOKBOOK))
        if (e.path().extension() == ".json") cookbook.insert(e.path().stem().string());
    const ToolRun listed = run("presets");
    ASSERT_EQ(listed.exit_code, 0);
    std::set<std::string> names;
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);) names.insert(line.substr(0, line.find(' ')));
    EXPECT_EQ(names, cookbook);
    EXPECT_EQ(std::size_t(std::count(listed.output.begin(), listed.output.end(), '\n')), cookbook.size());
    EXPECT_THAT(listed.output, HasSubstr("wind-slanted streaks"));

    // A built-in preset renders as its file does; a file of that name wins over it.
    const std::string card = " --card photo --size 96x54 -o ";
    const std::string in_scratch = "cd " + dir.string() + " && " + LUMATRAIL_TOOL + " render ";
    ASSERT_EQ(run("render --preset " + std::string(LUMATRAIL_COOKBOOK) + "/rain.json" + card + at("file.png"))
                  .exit_code,
              0);
    ASSERT_EQ(run_shell(in_scratch + "--preset rain" + card + "builtin.png").exit_code, 0);
    EXPECT_EQ(bytes_of(at("builtin.png")), bytes_of(at("file.png")));
    std::ofstream(at("rain")) << R"json({"Direction": "Radial Out"})json";
    ASSERT_EQ(run_shell(in_scratch + "--preset rain" + card + "own.png").exit_code, 0);
    EXPECT_NE(bytes_of(at("own.png")), bytes_of(at("file.png")));
    const ToolRun unknown = run("render --preset rian -o " + at("x.png"));
    EXPECT_EQ(unknown.exit_code, 3);
    EXPECT_THAT(unknown.output, HasSubstr("the preset \"rian\" does not exist, nor is it a built-in preset"));
}

// A run with stdout and stderr apart, and how long it took from outside.
struct SplitRun {
    int exit_code;
    std::string out, err;
    double elapsed_ms;
};

SplitRun run_split(const std::string& arguments, const fs::path& scratch) {
    const fs::path err_file = scratch / "stderr.txt";
    const auto start = std::chrono::steady_clock::now();
    const ToolRun r = run_shell(std::string(LUMATRAIL_TOOL) + " " + arguments, err_file.string());
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    SplitRun split{r.exit_code, r.output, bytes_of(err_file), elapsed};
    fs::remove(err_file);
    return split;
}

// The --stats report read back: every line must be one of its kinds, with
// durations in ms or s, never negative.
struct StatsReport {
    struct Frame {
        std::optional<int> number;  // none: "still"
        double read, render, write;
    };
    std::vector<Frame> frames;
    std::optional<double> shared_read;
    double read = -1, render = -1, write = -1, wall = -1, module_load = -1;
    int jobs = 0;
    std::optional<double> startup;  // none: "unknown"
    bool note = false;
    int totals = 0, module_lines = 0, startup_lines = 0;
};

// Reads a line from the front: literal text, numbers and durations; any
// mismatch fails the whole line.
struct LineReader {
    std::string_view rest;
    bool ok = true;
    bool literal(std::string_view text) {
        ok = ok && rest.substr(0, text.size()) == text;
        if (ok) rest.remove_prefix(text.size());
        return ok;
    }
    double number() {  // digits, optionally a point and digits; never a sign
        double v = -1;
        if (!ok || rest.empty() || rest[0] < '0' || rest[0] > '9') return ok = false, v;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), v);
        ok = ec == std::errc();
        rest.remove_prefix(std::size_t(end - rest.data()));
        return v;
    }
    int whole_number() {
        int v = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), v);
        ok = ok && ec == std::errc();
        rest.remove_prefix(std::size_t(end - rest.data()));
        return v;
    }
    double milliseconds() {  // "12.3 ms" as printed for frames
        const double v = number();
        literal(" ms");
        return v;
    }
    double duration() {  // "12.3 ms" or "1.23 s", in ms
        const double v = number();
        if (ok && rest.substr(0, 3) == " ms") return literal(" ms"), v;
        literal(" s");
        return v * 1000.0;
    }
    bool done() const { return ok && rest.empty(); }
};

StatsReport parse_stats(const std::string& text) {
    StatsReport s;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (LineReader r{line}; r.literal("frame ") || LineReader{line}.literal("still: ")) {
            StatsReport::Frame f{};
            if (r.ok) {
                f.number = r.whole_number();
                r.literal(": ");
            } else {
                r = LineReader{line};
                r.literal("still: ");
            }
            r.literal("read ");
            f.read = r.milliseconds();
            r.literal(", render ");
            f.render = r.milliseconds();
            r.literal(", write ");
            f.write = r.milliseconds();
            EXPECT_TRUE(r.done()) << "not a frame line: \"" << line << "\"";
            s.frames.push_back(f);
        } else if (LineReader r{line}; r.literal("shared: read ")) {
            s.shared_read = r.duration();
            r.literal(" (files read once for every frame)");
            EXPECT_TRUE(r.done()) << "not a shared line: \"" << line << "\"";
        } else if (LineReader r{line}; r.literal("total: read ")) {
            ++s.totals;
            s.read = r.duration();
            r.literal(", render ");
            s.render = r.duration();
            r.literal(", write ");
            s.write = r.duration();
            r.literal("; wall ");
            s.wall = r.duration();
            r.literal(" on ");
            s.jobs = r.whole_number();
            r.literal(s.jobs == 1 ? " job" : " jobs");
            EXPECT_TRUE(r.done()) << "not a total line: \"" << line << "\"";
        } else if (LineReader r{line}; r.literal("module load: ")) {
            ++s.module_lines;
            s.module_load = r.duration();
            EXPECT_TRUE(r.done()) << "not a module line: \"" << line << "\"";
        } else if (line == "start-up: unknown") {
            ++s.startup_lines;
        } else if (LineReader r{line}; r.literal("start-up: ")) {
            ++s.startup_lines;
            s.startup = r.duration();
            EXPECT_TRUE(r.done()) << "not a start-up line: \"" << line << "\"";
        } else if (line.rfind("note: ", 0) == 0 &&
                   line.find("may exceed the wall time") != std::string::npos) {
            s.note = true;
        } else {
            ADD_FAILURE() << "not a line of the report: \"" << line << "\"";
        }
    }
    return s;
}

// What holds for every report: one total, module and start-up line; totals
// that add up the frames (to the rounding of what is printed); and times
// that fit in the run as measured from outside.
void expect_consistent(const StatsReport& s, const SplitRun& run) {
    ASSERT_EQ(s.totals, 1) << run.err;
    EXPECT_EQ(s.module_lines, 1) << run.err;
    EXPECT_EQ(s.startup_lines, 1) << run.err;
    double read = s.shared_read.value_or(0.0), render = 0.0, write = 0.0;
    for (const StatsReport::Frame& f : s.frames) {
        read += f.read, render += f.render, write += f.write;
        // Every frame is rendered within the render's wall time.
        EXPECT_LE(f.read + f.render + f.write, s.wall + 0.2) << run.err;
    }
    // Each printed per-frame value is within 0.05 ms; a total in seconds is
    // given to three figures.
    const auto close_to = [&](double printed, double sum) {
        return std::abs(printed - sum) <= 0.05 * double(s.frames.size() + 2) + 0.005 * sum;
    };
    EXPECT_TRUE(close_to(s.read, read)) << s.read << " vs " << read << "\n" << run.err;
    EXPECT_TRUE(close_to(s.render, render)) << s.render << " vs " << render << "\n" << run.err;
    EXPECT_TRUE(close_to(s.write, write)) << s.write << " vs " << write << "\n" << run.err;
    EXPECT_GE(s.wall, 0.0);
    EXPECT_LE(s.wall, run.elapsed_ms);
    EXPECT_GE(s.module_load, 0.0);
    EXPECT_LE(s.module_load, run.elapsed_ms);
#ifdef __linux__
    // From /proc/self/stat, to the kernel's clock tick.
    ASSERT_TRUE(s.startup.has_value()) << run.err;
    EXPECT_GE(*s.startup, 0.0);
    EXPECT_LE(*s.startup, run.elapsed_ms + 20.0) << run.err;
#endif
}

TEST_F(LumatrailCli, StatsReportAStillOnStderrAndChangeNothingElse) {
    const std::string args = "render --size 64x36 --set direction=radial-out -o " + at("still.png");
    const SplitRun plain = run_split(args, dir);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const std::string plain_bytes = bytes_of(at("still.png"));
    fs::remove(at("still.png"));

    const SplitRun stats = run_split(args + " --stats", dir);
    ASSERT_EQ(stats.exit_code, 0) << stats.err;
    EXPECT_EQ(stats.out, plain.out);
    EXPECT_EQ(bytes_of(at("still.png")), plain_bytes);
    EXPECT_EQ(plain.err, "");
    const StatsReport s = parse_stats(stats.err);
    ASSERT_EQ(s.frames.size(), 1u) << stats.err;
    EXPECT_FALSE(s.frames[0].number.has_value()) << "a still is reported as \"still\"";
    EXPECT_FALSE(s.shared_read.has_value());
    EXPECT_EQ(s.jobs, 1);
    EXPECT_FALSE(s.note);
    expect_consistent(s, stats);

    // --quiet silences stdout, not the report.
    const SplitRun quiet = run_split(args + " --quiet --stats", dir);
    ASSERT_EQ(quiet.exit_code, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(parse_stats(quiet.err).frames.size(), 1u) << quiet.err;

    EXPECT_THAT(run("--help").output, HasSubstr("--stats"));
}

TEST_F(LumatrailCli, StatsReportEveryFrameOfASequenceOnce) {
    fs::create_directories(dir / "plain");
    fs::create_directories(dir / "stats");
    const std::string args = "render --size 64x36 --set render-mode=particles --fps 24 --frames 1-3 -j 2 -o ";
    const SplitRun plain = run_split(args + (dir / "plain" / "f.#.png").string(), dir);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const SplitRun stats = run_split(args + (dir / "stats" / "f.#.png").string() + " --stats", dir);
    ASSERT_EQ(stats.exit_code, 0) << stats.err;
    EXPECT_THAT(stats.out, HasSubstr("wrote 3 files"));
    EXPECT_EQ(stats.out.find("total:"), std::string::npos) << "the report belongs on stderr";
    for (const char* name : {"f.1.png", "f.2.png", "f.3.png"})
        EXPECT_EQ(bytes_of(dir / "stats" / name), bytes_of(dir / "plain" / name)) << name;

    const StatsReport s = parse_stats(stats.err);
    std::vector<int> numbers;
    for (const StatsReport::Frame& f : s.frames) {
        ASSERT_TRUE(f.number.has_value()) << stats.err;
        numbers.push_back(*f.number);
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3})) << stats.err;
    EXPECT_FALSE(s.shared_read.has_value());
    EXPECT_EQ(s.jobs, 2);
    EXPECT_TRUE(s.note) << "several jobs: the totals add up every thread\n" << stats.err;
    expect_consistent(s, stats);
}

TEST_F(LumatrailCli, StatsCountAStillInputUnderASequenceApart) {
    const std::string input = opaque_input(40, 24);
    const SplitRun r =
        run_split("render " + input + " --fps 24 --frames 4-6 -j 1 --stats -o " + at("g.##.tif"), dir);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const StatsReport s = parse_stats(r.err);
    ASSERT_EQ(s.frames.size(), 3u) << r.err;
    EXPECT_EQ(s.frames.front().number, 4);
    EXPECT_EQ(s.frames.back().number, 6);
    EXPECT_TRUE(s.shared_read.has_value()) << "the input is read once for every frame\n" << r.err;
    EXPECT_EQ(s.jobs, 1);
    EXPECT_FALSE(s.note);
    expect_consistent(s, r);
}

TEST_F(LumatrailCli, StatsDoNotChangeTheExitCodeOfAFailure) {
    // Checked before anything renders.
    const SplitRun early = run_split("render --size 64x36 --stats -o " + at("nofolder/x.png"), dir);
    EXPECT_EQ(early.exit_code, 4) << early.err;
    EXPECT_THAT(early.err, HasSubstr("does not exist"));
    EXPECT_EQ(early.err.find("total:"), std::string::npos) << early.err;
    // A folder holding the output's name.
    fs::create_directories(dir / "taken.png");
    const SplitRun late = run_split("render --size 64x36 --stats -o " + at("taken.png"), dir);
    EXPECT_EQ(late.exit_code, 4) << late.err;
    EXPECT_THAT(late.err, HasSubstr("is a folder"));
    EXPECT_EQ(late.err.find("total:"), std::string::npos) << late.err;
    EXPECT_TRUE(fs::is_directory(dir / "taken.png"));
}

// Files left in a folder that are not complete frames.
std::vector<std::string> partial_files(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find("partial") != std::string::npos)
            found.push_back(e.path().string());
    return found;
}

TEST_F(LumatrailCli, SignalsCancelCleanlyAtEveryStage) {
    // The image library writes EXR files with threads of its own; a signal
    // landing on one of them must still cancel through the abort callback.
    for (const auto& [signal, code] : {std::pair{"INT", 130}, std::pair{"TERM", 143}}) {
        const fs::path out = dir / signal;
        fs::create_directories(out);
        const ToolRun r = run_shell("timeout --preserve-status --signal=" + std::string(signal) + " 3 " +
                                    LUMATRAIL_TOOL + " render -o " + (out / "u.####.exr").string() +
                                    " --fps 24 --frames 0-200 --size 1920x1080");
        EXPECT_EQ(r.exit_code, code) << r.output;
        EXPECT_THAT(r.output, HasSubstr("cancelled")) << signal;
        EXPECT_TRUE(partial_files(out).empty()) << signal;
        for (const auto& e : fs::directory_iterator(out)) EXPECT_NO_THROW(read_image(e.path().string()));
    }
    // Early in a large still, while its test card is made or its one frame
    // renders (after the libraries have loaded; before that the signal kills).
    const ToolRun early =
        run_shell("timeout --preserve-status --signal=INT 2 " + std::string(LUMATRAIL_TOOL) +
                  " render --size 8000x4500 -o " + at("big.png"));
    EXPECT_EQ(early.exit_code, 130) << early.output;
    EXPECT_THAT(early.output, HasSubstr("cancelled"));
    EXPECT_FALSE(fs::exists(at("big.png")));
    EXPECT_TRUE(partial_files(dir).empty());
}

// A PNG of a few bytes whose header claims `width` x `height`.
std::string png_claiming(const std::string& path, std::uint32_t width, std::uint32_t height) {
    write_image(offline::test_card(4, 4, PF_PixelFormat_ARGB32), path);
    const std::string claim = testing_png::claiming_size(bytes_of(path), width, height).substr(0, 74);
    std::ofstream(path, std::ios::binary) << claim;
    return path;
}

// A shell line that runs lumatrail under a file size limit of `kib` KiB (a
// full disk as far as the program can tell: its writes fail with EFBIG).
std::string limited(int kib, const std::string& arguments) {
    return "sh -c 'ulimit -f " + std::to_string(kib * 2) + "; exec " + LUMATRAIL_TOOL + " " + arguments + "'";
}

// What ffprobe says of a file's first video (or audio) stream: one
// "key=value" per line.
std::string probe(const std::string& file, const std::string& entries, const char* stream = "v:0") {
    return run_shell("ffprobe -v error -count_frames -select_streams " + std::string(stream) +
                     " -show_entries stream=" + entries + " -of default=noprint_wrappers=1 " + file)
        .output;
}

TEST_F(LumatrailCli, MoviesRenderFrameByFrameAndIntoMovies) {
    // Five pictures, and a lossless movie of them at 24 frames a second.
    const std::string source = "ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=24 -frames:v 5 -y ";
    ASSERT_EQ(run_shell(source + at("frame%d.png")).exit_code, 0);
    ASSERT_EQ(run_shell(source + "-c:v ffv1 -pix_fmt bgr0 " + at("movie.mkv")).exit_code, 0);
    const std::string look = " --set render-mode=particles --set particle-count=400";

    // A movie input renders as a sequence: frame N is the movie's frame N at
    // the movie's own rate, with no --fps, and --frames needs none either.
    const ToolRun all = run(("render " + at("movie.mkv") + look + " -o " + at("out.####.tif")));
    ASSERT_EQ(all.exit_code, 0) << all.output;
    const ToolRun some = run("render " + at("movie.mkv") + look + " --frames 3-4 -o " + at("some.####.tif"));
    ASSERT_EQ(some.exit_code, 0) << some.output;
    for (int frame = 0; frame < 5; ++frame) {
        const std::string still = at("still" + std::to_string(frame) + ".tif");
        ASSERT_EQ(run("render " + at("frame" + std::to_string(frame + 1) + ".png") + look +
                      " --fps 24 --frame " + std::to_string(frame) + " -o " + still)
                      .exit_code,
                  0);
        const offline::OfflineWorld expected = read_image(still);
        EXPECT_TRUE(offline::same_pixels(read_image(frame_path(at("out.####.tif"), frame)), expected))
            << frame;
        if (frame >= 3) {
            EXPECT_TRUE(offline::same_pixels(read_image(frame_path(at("some.####.tif"), frame)), expected));
        }
    }
    EXPECT_FALSE(fs::exists(frame_path(at("some.####.tif"), 2)));

    // Into a movie, on two threads, written in order: a lossless one holds
    // exactly the frames of the sequence, at the input's rate.
    const ToolRun movie = run("render " + at("movie.mkv") + look + " -j 2 -o " + at("out.mkv"));
    ASSERT_EQ(movie.exit_code, 0) << movie.output;
    EXPECT_THAT(movie.output, HasSubstr("wrote " + at("out.mkv") + ": 5 frames"));
    EXPECT_THAT(
        probe(at("out.mkv"), "codec_name,r_frame_rate,nb_read_frames"),
        AllOf(HasSubstr("codec_name=ffv1"), HasSubstr("r_frame_rate=24/1"), HasSubstr("nb_read_frames=5")));
    ASSERT_EQ(
        run_shell("ffmpeg -v error -i " + at("out.mkv") + " -start_number 0 " + at("back%d.png")).exit_code,
        0);
    for (int frame = 0; frame < 5; ++frame)
        EXPECT_TRUE(offline::same_pixels(read_image(at("back" + std::to_string(frame) + ".png")),
                                         read_image(frame_path(at("out.####.tif"), frame))))
            << frame;
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find("partial"), std::string::npos) << e.path();
}

TEST_F(LumatrailCli, AMovieWhoseIndexClaimsBillionsOfFramesIsRefusedByName) {
    ASSERT_EQ(run_shell("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=24 -frames:v 12 -c:v libx264 "
                        "-bf 0 -pix_fmt yuv420p -y " +
                        at("clean.mp4"))
                  .exit_code,
              0);
    // The timing table's first entry counts the frames: its high byte set,
    // the file claims 2130706444 of them.
    std::string bytes = bytes_of(at("clean.mp4"));
    const std::size_t table = bytes.find("stts");
    ASSERT_NE(table, std::string::npos);
    bytes[table + 12] = char(0x7f);
    lumatrail::testing::write_bytes(at("damaged.mp4"), bytes);
    const ToolRun all = run("render " + at("damaged.mp4") + " -o " + at("o.####.png"));
    EXPECT_EQ(all.exit_code, 3) << all.output;
    EXPECT_THAT(all.output,
                HasSubstr("\"" + at("damaged.mp4") +
                          "\" says it holds 2130706444 frames at 24 frames a second, more than one "
                          "run renders (10000000); its index may be damaged"));
    EXPECT_FALSE(fs::exists(frame_path(at("o.####.png"), 0)));
    // Its frames can still be had, a part at a time.
    const ToolRun part = run("render " + at("damaged.mp4") + " --frames 0-2 -o " + at("o.####.png"));
    EXPECT_EQ(part.exit_code, 0) << part.output;
    EXPECT_TRUE(fs::exists(frame_path(at("o.####.png"), 2)));
}

TEST_F(LumatrailCli, MovieOutputsKeepTheSoundAndFailWhole) {
    // x264 with B-frames, NTSC rate, with sound: every frame comes out, the
    // rate stays exact and the sound is copied unless --no-audio.
    ASSERT_EQ(
        run_shell("ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=30000/1001:duration=2 -f lavfi "
                  "-i sine=frequency=440:duration=2 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest -y " +
                  at("clip.mp4"))
            .exit_code,
        0);
    const std::string frames = probe(at("clip.mp4"), "nb_read_frames");
    const ToolRun seq = run("render " + at("clip.mp4") + " -o " + at("c.####.png"));
    ASSERT_EQ(seq.exit_code, 0) << seq.output;
    std::size_t written = 0;
    for (const auto& e : fs::directory_iterator(dir)) written += e.path().extension() == ".png";
    EXPECT_EQ("nb_read_frames=" + std::to_string(written) + "\n", frames);

    const ToolRun mov = run("render " + at("clip.mp4") + " -o " + at("out.mov"));
    ASSERT_EQ(mov.exit_code, 0) << mov.output;
    EXPECT_THAT(probe(at("out.mov"), "codec_name,r_frame_rate,pix_fmt,nb_read_frames"),
                AllOf(HasSubstr("codec_name=prores"), HasSubstr("pix_fmt=yuv422p10le"),
                      HasSubstr("r_frame_rate=30000/1001"), HasSubstr(frames)));
    EXPECT_THAT(probe(at("out.mov"), "codec_name", "a:0"), HasSubstr("codec_name=aac"));
    const ToolRun mute = run("render " + at("clip.mp4") + " --no-audio --frames 0-9 -o " + at("mute.mp4"));
    ASSERT_EQ(mute.exit_code, 0) << mute.output;
    EXPECT_THAT(probe(at("mute.mp4"), "codec_name,nb_read_frames"),
                AllOf(HasSubstr("codec_name=h264"), HasSubstr("nb_read_frames=10")));
    EXPECT_EQ(probe(at("mute.mp4"), "codec_name", "a:0"), "");

    // A movie that cannot be finished is not left under its name, playable
    // but short: it is removed, with the reason.
    const ToolRun full = run_shell(limited(40, "render " + at("clip.mp4") + " -o " + at("full.mov")));
    EXPECT_EQ(full.exit_code, 4) << full.output;
    EXPECT_THAT(full.output, HasSubstr("file too large"));
    EXPECT_FALSE(fs::exists(at("full.mov")));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find("partial"), std::string::npos) << e.path();
}

TEST_F(LumatrailCli, WritesThatDoNotFitFailLoudlyAndLeaveNothing) {
    // Every still format, and a sequence on two threads: exit 4 with the
    // system's reason, nothing under the final names, no temporary.
    for (const char* ext : {"png", "jpg", "tif", "exr", "dpx", "bmp", "tga", "hdr", "webp"}) {
        const std::string out = at(std::string("full.") + ext);
        const ToolRun r = run_shell(limited(40, "render --card photo --size 640x360 -o " + out));
        EXPECT_EQ(r.exit_code, 4) << ext << ": " << r.output;
        EXPECT_THAT(r.output, HasSubstr("file too large")) << ext;
        EXPECT_THAT(r.output, HasSubstr(out)) << ext;
        EXPECT_FALSE(fs::exists(out)) << ext;
    }
    const ToolRun seq = run_shell(
        limited(40, "render --card photo --size 640x360 --fps 24 --frames 1-6 -j 2 -o " + at("s.####.png")));
    EXPECT_EQ(seq.exit_code, 4) << seq.output;
    EXPECT_THAT(seq.output, HasSubstr("file too large"));
    EXPECT_THAT(seq.output, Not(HasSubstr("wrote")));
    for (const auto& e : fs::directory_iterator(dir)) ADD_FAILURE() << "left behind: " << e.path();

    // A resumed render mends what an earlier run left empty or cut short,
    // and keeps what is whole.
    const ToolRun first = run("render --size 64x36 --fps 24 --frames 1-3 -o " + at("r.####.png"));
    ASSERT_EQ(first.exit_code, 0) << first.output;
    std::ofstream(at("r.0002.png"), std::ios::trunc).flush();
    const std::string third = bytes_of(at("r.0003.png"));
    std::ofstream(at("r.0003.png"), std::ios::binary | std::ios::trunc) << third.substr(0, third.size() / 2);
    const auto kept = fs::last_write_time(at("r.0001.png"));
    const ToolRun resumed =
        run("render --size 64x36 --fps 24 --frames 1-3 --skip-existing -o " + at("r.####.png"));
    ASSERT_EQ(resumed.exit_code, 0) << resumed.output;
    EXPECT_THAT(resumed.output, HasSubstr("r.0002.png\" is not a whole image"));
    EXPECT_THAT(resumed.output, HasSubstr("r.0003.png\" is not a whole image"));
    EXPECT_THAT(resumed.output, HasSubstr("skipping 1 of 3"));
    EXPECT_EQ(fs::last_write_time(at("r.0001.png")), kept);
    for (const char* f : {"2", "3"})
        ASSERT_EQ(run("render --size 64x36 --fps 24 --frame " + std::string(f) + " -o " +
                      at("ref" + std::string(f) + ".png"))
                      .exit_code,
                  0);
    EXPECT_EQ(bytes_of(at("r.0002.png")), bytes_of(at("ref2.png")));
    EXPECT_EQ(bytes_of(at("r.0003.png")), bytes_of(at("ref3.png")));
}

// Runs a shell script in the background of `sh`, returning what it printed
// and the status it echoed last.
ToolRun script(const std::string& lines) { return run_shell("sh -c '" + lines + "'"); }

TEST_F(LumatrailCli, ACancelDuringAWriteTellsTheTruth) {
    // SIGINT while a large still is being written: the write stops and is
    // removed, and the message and exit code say that nothing was written.
    const std::string out = at("big.png");
    const ToolRun r = script(std::string(LUMATRAIL_TOOL) + " render --card photo --size 7680x4320 -o " + out +
                             " & pid=$!; while kill -0 $pid 2>/dev/null && ! ls " + dir.string() +
                             "/.big.png.*.partial >/dev/null 2>&1; do sleep 0.05; done; sleep 0.2;"
                             " start=$(date +%s%N); kill -INT $pid; wait $pid; status=$?;"
                             " echo \"status $status after $(( ($(date +%s%N) - start) / 1000000 )) ms\"");
    EXPECT_THAT(r.output, HasSubstr("status 130")) << r.output;
    EXPECT_THAT(r.output, HasSubstr("cancelled after 0 of 1 frames")) << r.output;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(partial_files(dir).empty());
    // The write stops at its next chunk, not at the end of the picture
    // (which takes seconds): allow far more than it takes, far less than that.
    const std::size_t at_ms = r.output.rfind(" after ");
    ASSERT_NE(at_ms, std::string::npos);
    EXPECT_LT(std::stol(r.output.substr(at_ms + 7)), 2000) << r.output;
}

// The shared libraries the dynamic loader opened for a command line.
std::string libraries_loaded(const std::string& arguments) {
    return run_shell("LD_DEBUG=files " + std::string(LUMATRAIL_TOOL) + " " + arguments +
                     " 2>&1 >/dev/null | "
                     "sed -n 's/.*file=\\([^ ]*\\).*/\\1/p' | sort -u")
        .output;
}

TEST_F(LumatrailCli, PictureAndMovieLibrariesLoadOnlyForTheCommandsThatUseThem) {
    for (const char* quick : {"--version", "--help", "help render", "params", "presets"}) {
        const std::string loaded = libraries_loaded(quick);
        EXPECT_THAT(loaded, HasSubstr("libstdc++")) << quick;  // the loader was heard
        for (const char* heavy : {"lumatrail-media.so", "libOpenImageIO", "libavcodec", "libavformat"})
            EXPECT_THAT(loaded, Not(HasSubstr(heavy))) << quick;
    }
    const std::string listing = libraries_loaded("colorspaces");
    EXPECT_THAT(listing, HasSubstr("lumatrail-media.so"));
    EXPECT_THAT(listing, HasSubstr("libOpenImageIO"));
    const ToolRun missing = run_shell("cp " + std::string(LUMATRAIL_TOOL) + " " + at("lumatrail") + " && " +
                                      at("lumatrail") + " render --size 16x9 -o " + at("x.png"));
    EXPECT_EQ(missing.exit_code, 3) << missing.output;
    EXPECT_THAT(missing.output, HasSubstr("cannot load \"" + at("lumatrail-media.so") +
                                          "\", the part of "
                                          "lumatrail that reads and writes pictures and movies: "));
    EXPECT_FALSE(fs::exists(at("x.png")));
}

TEST_F(LumatrailCli, ASignalFromTheFirstMomentsIsACancel) {
    // Ctrl-C and SIGTERM are blocked from before main; one sent as soon as
    // that shows in /proc, while the libraries still load, is a cancel with
    // its own message and code, never a silent death.
    const std::string out = at("early.png");
    for (const char* signal : {"INT", "TERM"}) {
        const ToolRun r =
            run_shell("{ " + std::string(LUMATRAIL_TOOL) + " render --card photo --size 1920x1080 -o " + out +
                      " & pid=$!; blocked=0; while [ $blocked = 0 ] && kill -0 $pid 2>/dev/null; do"
                      " b=$(sed -n 's/^SigBlk:[[:space:]]*//p' /proc/$pid/status 2>/dev/null);"
                      " [ -n \"$b\" ] && [ $(( 0x$b & 0x4002 )) = $(( 0x4002 )) ] && blocked=1; done;"
                      " kill -" +
                      signal + " $pid; wait $pid; echo \"status $?\"; }");
        SCOPED_TRACE(signal);
        EXPECT_THAT(r.output, HasSubstr(std::string("status ") + (signal[0] == 'I' ? "130" : "143")));
        EXPECT_THAT(r.output, HasSubstr("lumatrail: cancelled before any frame was written"));
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(LumatrailCli, SizesAreCheckedBeforeAnythingIsAllocated) {
    const struct {
        std::string args;
        int code;
        const char* message;
    } cases[] = {
        {"render --size 40000x40000", 5, "Lumatrail: Canvas exceeds 128 megapixels"},
        {"render --size 46341x46341", 5, "Lumatrail: Canvas exceeds 128 megapixels"},
        {"render --size 11586x11586", 5, "Lumatrail: Canvas exceeds 128 megapixels"},
        {"render " + png_claiming(at("huge.png"), 20000, 20000), 5, "Canvas exceeds 128 megapixels"},
        {"render " + png_claiming(at("widest.png"), 65536, 65536) + " --depth 16", 5, "Canvas exceeds"},
        // Within the canvas at 1/8 resolution, but the full-size float picture is 64 GiB.
        {"render --size 65536x65536 --downsample 8 --depth 32", 3, "of memory, and"},
    };
    for (const auto& c : cases) {
        const ToolRun r = run(c.args + " -o " + at("x.exr"));
        EXPECT_EQ(r.exit_code, c.code) << c.args << "\n" << r.output;
        EXPECT_THAT(r.output, HasSubstr(c.message)) << c.args;
        EXPECT_FALSE(fs::exists(at("x.exr")));
    }
    // At half resolution the claimed picture fits the canvas; its missing pixels are then an input error.
    const ToolRun half = run("render " + at("huge.png") + " --downsample 2 -o " + at("x.png"));
    EXPECT_EQ(half.exit_code, 3) << half.output;
}

TEST_F(LumatrailCli, FrameNumbersAndRatesHoldBeyondThirtyTwoBits) {
    const std::string card = "render --size 32x18 --set render-mode=particles ";
    // The last frame the host's time holds at 24 frames a second, and one past it.
    ASSERT_EQ(run(card + "--fps 24 --frames 2147483647-2147483647 -o " + at("f.####.png")).exit_code, 0);
    EXPECT_TRUE(fs::exists(at("f.2147483647.png")));
    const ToolRun past = run(card + "--fps 24 --frame 2147483648 -o " + at("g.png"));
    EXPECT_EQ(past.exit_code, 2) << past.output;
    EXPECT_THAT(past.output, HasSubstr("beyond what the host's time holds"));
    // Huge ranges in as many shards render only the shard's frames.
    ASSERT_EQ(run(card + "--fps 24 --frames 0-2000000000 --shard 1/2000000000 -o " + at("s.#.png")).exit_code,
              0);
    EXPECT_TRUE(fs::exists(at("s.2000000000.png")));
    ASSERT_EQ(run(card + "--fps 24 --frames 0-2147483646 --shard 2147483647/2147483647 -o " + at("t.#.png"))
                  .exit_code,
              0);
    EXPECT_TRUE(fs::exists(at("t.2147483646.png")));
    const ToolRun endless = run(card + "--fps 24 --frames 0-99999999 -o " + at("e.#.png"));
    EXPECT_EQ(endless.exit_code, 2) << endless.output;
    EXPECT_THAT(endless.output, HasSubstr("in parts"));

    // 29.97 is 30000/1001: frame 1001 is at 1001 * 1001 / 30000 seconds.
    ASSERT_EQ(run(card + "--fps 30000/1001 --frame 1001 -o " + at("ntsc.tif")).exit_code, 0);
    ASSERT_EQ(run(card + "--fps 29.97 --frame 1001 -o " + at("ntsc2.tif")).exit_code, 0);
    offline::apply_setting(host, "render-mode=particles");
    const offline::OfflineWorld expected =
        direct(offline::test_card(32, 18, PF_PixelFormat_ARGB32), {1001 * 1001, 1001, 30000});
    EXPECT_TRUE(offline::same_pixels(read_image(at("ntsc.tif")), expected));
    EXPECT_TRUE(offline::same_pixels(read_image(at("ntsc2.tif")), expected));
}

TEST_F(LumatrailCli, SequencesAreFoundOnDiskAndResumed) {
    for (int f = 1; f <= 3; ++f)
        write_image(offline::test_card(24 + 8 * f, 16, PF_PixelFormat_ARGB32),
                    frame_path(at("in.####.tif"), f));
    const ToolRun all = run("render " + at("in.####.tif") + " -o " + at("out.####.tif"));
    ASSERT_EQ(all.exit_code, 0) << all.output;
    EXPECT_THAT(all.output, HasSubstr("found frames 1-3"));
    for (int f = 1; f <= 3; ++f) {
        const offline::OfflineWorld expected =
            direct(read_image(frame_path(at("in.####.tif"), f)), {f, 1, 24});
        EXPECT_TRUE(offline::same_pixels(read_image(frame_path(at("out.####.tif"), f)), expected)) << f;
    }
    // Resuming writes only what is missing.
    fs::remove(at("out.0002.tif"));
    const auto untouched = fs::last_write_time(at("out.0001.tif"));
    const ToolRun resumed = run("render " + at("in.####.tif") + " --skip-existing -o " + at("out.####.tif"));
    ASSERT_EQ(resumed.exit_code, 0) << resumed.output;
    EXPECT_THAT(resumed.output, HasSubstr("skipping 2 of 3"));
    EXPECT_TRUE(fs::exists(at("out.0002.tif")));
    EXPECT_EQ(fs::last_write_time(at("out.0001.tif")), untouched);
    // A folder under a frame's name is no finished frame: the frame is
    // rendered, and its write says why it cannot be.
    fs::remove(at("out.0002.tif"));
    fs::create_directory(at("out.0002.tif"));
    const ToolRun blocked = run("render " + at("in.####.tif") + " --skip-existing -o " + at("out.####.tif"));
    EXPECT_EQ(blocked.exit_code, 4) << blocked.output;
    EXPECT_THAT(blocked.output, HasSubstr("out.0002.tif\" is a folder"));
    // A gap is named.
    fs::remove(at("in.0002.tif"));
    const ToolRun gap = run("render " + at("in.####.tif") + " -o " + at("gap.####.tif"));
    EXPECT_EQ(gap.exit_code, 3);
    EXPECT_THAT(gap.output, HasSubstr("in.0002.tif\" is missing"));
}

TEST_F(LumatrailCli, MessagesNameTheRealProblemAndWarnOfNoOps) {
    fs::create_directories(dir / "folder");
    const ToolRun folder = run("render --size 16x9 -o " + at("folder"));
    EXPECT_EQ(folder.exit_code, 4);
    EXPECT_THAT(folder.output, HasSubstr("is a folder"));
    // A colour configuration that is not a file is refused before the colour library half-loads it.
    const ToolRun ocio = run_shell("OCIO=" + dir.string() + " " + LUMATRAIL_TOOL + " colorspaces");
    EXPECT_EQ(ocio.exit_code, 3) << ocio.output;
    EXPECT_THAT(ocio.output,
                HasSubstr("OCIO names \"" + dir.string() + "\", which is not a colour configuration file"));
    const ToolRun proc = run("render --size 16x9 -o /proc/x.png");
    EXPECT_EQ(proc.exit_code, 4);
    EXPECT_THAT(proc.output, HasSubstr("\"/proc/x.png\""));
    EXPECT_EQ(proc.output.find("partial"), std::string::npos) << proc.output;

    for (const char* v : {"version", "--version"}) {
        const ToolRun version = run(v);
        EXPECT_EQ(version.exit_code, 0);
        EXPECT_THAT(version.output, HasSubstr("match name \"Corvanta Lumatrail\""));
    }
    // Without its module the tool still says its own version.
    const ToolRun alone = run("--plugin " + at("none.so") + " --version");
    EXPECT_EQ(alone.exit_code, 0) << alone.output;
    EXPECT_THAT(alone.output, HasSubstr("lumatrail 1."));
    EXPECT_THAT(alone.output, HasSubstr("module not loaded"));
    EXPECT_EQ(run("help").output, run("--help").output);

    const struct {
        std::string args;
        std::string warning;
    } no_ops[] = {
        {"--mask builtin", "--mask is not used"},
        {"--set mask-mode=sort-inside-mask", "no --mask was given"},
        {opaque_input(), "--size is for the test card"},
        {"--fps 24 --frame 3 --time 2", "--time is not used"},
        {"--preset " + at("twice.json"), "the preset \"" + at("twice.json") + "\" sets \"Drag\" twice"},
    };
    std::ofstream(at("twice.json")) << R"json({"Drag": 1, "drag": 2})json";
    for (const auto& c : no_ops) {
        const SplitRun r = run_split("render --size 16x9 " + c.args + " -o " + at("w.png"), dir);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_THAT(r.err, HasSubstr("lumatrail: warning: " + c.warning)) << c.args;
    }
    const SplitRun quiet = run_split("render --size 16x9 -o " + at("w.png"), dir);
    EXPECT_EQ(quiet.err, "");
}

TEST_F(LumatrailCli, ProgressFitsTheTerminalAndCountsTime) {
    // Whole fields only, however narrow: every line ends as a field ends,
    // never in half of one ("elapsed  2", "rendering 17/24 fra").
    const auto whole = [](const std::string& line) {
        for (const std::string_view end : {" frames", " elapsed", " frames/s", " left"})
            if (line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0)
                return true;
        return false;
    };
    for (const int columns : {80, 40, 20}) {
        const std::string err_file = at("progress.txt");
        const ToolRun r = run_shell(
            "COLUMNS=" + std::to_string(columns) + " " + LUMATRAIL_TOOL +
                " render --progress --size 1920x1080 --set render-mode=force-lines -o " + at("p.png"),
            err_file);
        ASSERT_EQ(r.exit_code, 0) << r.output;
        const std::string err = bytes_of(err_file);
        std::size_t lines = 0;
        for (std::size_t start = 0; start < err.size();) {
            std::size_t end = err.find_first_of("\r\n", start);
            if (end == std::string::npos) end = err.size();
            const std::string line = err.substr(start, end - start);
            if (!line.empty()) {
                ++lines;
                EXPECT_LT(line.size(), std::size_t(columns)) << line;
                EXPECT_TRUE(whole(line)) << line;
            }
            start = end + 1;
        }
        // The one frame takes long enough to be shown, with the time spent, before it is done.
        EXPECT_GE(lines, 2u) << err;
        if (columns == 80) {
            EXPECT_THAT(err, HasSubstr("0/1 frames  0:0"));
            EXPECT_THAT(err, HasSubstr("elapsed"));
        }
    }
}

}  // namespace
}  // namespace lumatrail::tools

#include <OpenImageIO/imageio.h>

namespace lumatrail::tools {
namespace {

// Files with straight alpha become premultiplied worlds, and premultiplied
// worlds are written back straight (within the one-step rounding of 8 bits).
TEST(ImageFiles, StraightAlphaIsAssociatedOnReadAndDissociatedOnWrite) {
    const std::string dir = ::testing::TempDir();
    const std::string straight = dir + "/straight_alpha.png", back = dir + "/straight_alpha_back.png";
    {
        OIIO::ImageSpec spec(2, 1, 4, OIIO::TypeDesc::UINT8);
        spec.attribute("oiio:UnassociatedAlpha", 1);
        const std::uint8_t pixels[8] = {200, 100, 50, 128, 255, 255, 255, 255};
        auto out = OIIO::ImageOutput::create(straight);
        ASSERT_TRUE(out && out->open(straight, spec) && out->write_image(OIIO::TypeDesc::UINT8, pixels) &&
                    out->close());
    }
    const offline::OfflineWorld w = read_image(straight);
    const PF_Pixel& p = *offline::pixel_at<PF_Pixel>(w, 0, 0);
    EXPECT_EQ(p.alpha, 128);
    EXPECT_EQ(p.red, 100);  // 200 * 128 / 255
    EXPECT_EQ(p.green, 50);
    write_image(w, back);
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(back, &config);
    ASSERT_TRUE(in);
    std::uint8_t stored[8];
    ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, stored));
    EXPECT_NEAR(stored[0], 200, 1);
    EXPECT_NEAR(stored[1], 100, 1);
    EXPECT_EQ(stored[3], 128);
    EXPECT_EQ(stored[4], 255);
    std::remove(straight.c_str());
    std::remove(back.c_str());
}

}  // namespace
}  // namespace lumatrail::tools
