// Frame rates, frame times, patterns and shards as the command line counts them.
#include "tools/lumatrail/media/frame_numbers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

void expect_rate(const char* text, std::int64_t num, std::int64_t den) {
    const std::optional<FrameRate> rate = parse_frame_rate(text);
    ASSERT_TRUE(rate.has_value()) << text;
    EXPECT_EQ(rate->num, num) << text;
    EXPECT_EQ(rate->den, den) << text;
}

TEST(FrameRates, BroadcastRatesAreExactFractions) {
    expect_rate("24", 24, 1);
    expect_rate("25.0", 25, 1);
    expect_rate("12.5", 25, 2);
    expect_rate("30000/1001", 30000, 1001);
    expect_rate("48/2", 24, 1);
    expect_rate("23.976", 24000, 1001);
    expect_rate("23.98", 24000, 1001);
    expect_rate("29.97", 30000, 1001);
    expect_rate("59.94", 60000, 1001);
    expect_rate("119.88", 120000, 1001);
    expect_rate("1000", 1000, 1);
    // Zeros at the end change nothing, however many.
    expect_rate("23.9760000000", 24000, 1001);
    expect_rate("24.000000000000", 24, 1);
    expect_rate("12.50000000000", 25, 2);
    // Fractions at the ends of 64 bits are refused without overflowing.
    for (const char* bad : {"",
                            "0",
                            "-24",
                            "0/1",
                            "24/0",
                            "1001",
                            "2002/2",
                            "1e3",
                            "24fps",
                            "2 4",
                            "abc",
                            ".",
                            "29.-97",
                            "+24",
                            "24/-1",
                            "99999999999/1",
                            "1/9223372036854775807",
                            "9223372036854775807/1",
                            "9223372036854775807/9223372036854775806",
                            "23.9760000001"})
        EXPECT_FALSE(parse_frame_rate(bad).has_value()) << bad;
}

TEST(FrameRates, FrameTimesAreTheHostsRationalTime) {
    const FrameRate ntsc{30000, 1001};
    const offline::HostTime t = frame_time(ntsc, 1001);
    EXPECT_EQ(t.time, 1001 * 1001);
    EXPECT_EQ(t.time_step, 1001);
    EXPECT_EQ(t.time_scale, 30000u);
    // Frame 30000 of 29.97 is 1001 seconds, exactly.
    const offline::HostTime second = frame_time(ntsc, 30000);
    EXPECT_EQ(double(second.time) / double(second.time_scale), 1001.0);

    // The whole 32-bit time is usable, and no further.
    const FrameRate film{24, 1};
    EXPECT_EQ(last_frame_at(film), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(frame_time(film, last_frame_at(film)).time, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(frame_time(film, -last_frame_at(film)).time, -std::numeric_limits<std::int32_t>::max());
    EXPECT_THROW(frame_time(film, last_frame_at(film) + 1), std::out_of_range);
    EXPECT_EQ(last_frame_at(ntsc), std::numeric_limits<std::int32_t>::max() / 1001);
    EXPECT_THROW(frame_time(ntsc, 99'999'999), std::out_of_range);
}

TEST(FramePatterns, TheLastRunOfHashesOrTheOnePercentDHoldsTheFrame) {
    EXPECT_EQ(frame_path("a.##.b.##.png", 7), "a.##.b.07.png");
    EXPECT_EQ(frame_path("shot.####.exr", 12345), "shot.12345.exr");
    EXPECT_EQ(frame_path("x.####.png", -1), "x.-0001.png");
    EXPECT_EQ(frame_path("x.%04d.png", -12), "x.-0012.png");
    EXPECT_EQ(frame_path("x.%d.png", 7), "x.7.png");
    EXPECT_EQ(frame_path("take#2/x.%03d.png", 9), "take#2/x.009.png");
    EXPECT_EQ(frame_path("take#2/plain.png", 9), "take#2/plain.png");
    EXPECT_EQ(frame_path("x.#.png", 2147483647), "x.2147483647.png");
    EXPECT_EQ(frame_path("x.%d.png", INT64_MIN), "x.-9223372036854775808.png");
    EXPECT_EQ(frame_path("x." + std::string(40, '#') + ".png", 7), "x." + std::string(39, '0') + "7.png");
    EXPECT_FALSE(is_sequence_pattern("100%.png"));
    EXPECT_THROW(find_frame_slot("x.%d.%04d.png"), std::invalid_argument);
    EXPECT_THROW(find_frame_slot("x%%d.png"), std::invalid_argument);
    EXPECT_EQ(frame_path("100%.####.png", 3), "100%.0003.png");  // with #, a % is just a character
}

TEST(FramePatterns, FramesOnDiskAreThoseThePatternNames) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("frames_on_disk_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name :
         {"x.0001.png", "x.0002.png", "x.0010.png", "x.-0003.png", "x.12345.png",
          // not names the pattern gives:
          "x.1.png", "x.00001.png", "x.0004.tif", "y.0005.png", "x.+006.png", "x.00a7.png"})
        std::ofstream(dir / name) << "";
    EXPECT_EQ(frames_on_disk((dir / "x.####.png").string()),
              (std::vector<std::int64_t>{-3, 1, 2, 10, 12345}));
    EXPECT_TRUE(frames_on_disk((dir / "none.####.png").string()).empty());
    fs::remove_all(dir);
}

TEST(Shards, OnlyTheShardsFramesAreCountedAndTheyMatchTheRemainderRule) {
    for (std::int64_t n = 1; n <= 5; ++n)
        for (std::int64_t k = 1; k <= n; ++k)
            for (std::int64_t first = -7; first <= 3; ++first) {
                std::vector<std::int64_t> expected;
                for (std::int64_t f = first; f <= first + 11; ++f)
                    if (((f % n) + n) % n == k - 1) expected.push_back(f);
                EXPECT_EQ(shard_frames(first, first + 11, k, n, 100), expected)
                    << k << "/" << n << " from " << first;
            }
    // A huge range in as many shards: two frames, found without walking it.
    EXPECT_EQ(shard_frames(0, 2'000'000'000, 1, 2'000'000'000, 10),
              (std::vector<std::int64_t>{0, 2'000'000'000}));
    const std::int64_t top = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(shard_frames(top - 1, top, 1, 1, 10), (std::vector<std::int64_t>{top - 1, top}));
    // Past the limit the list stops one frame over it.
    EXPECT_EQ(shard_frames(0, 1'000'000'000, 1, 1, 10).size(), 11u);
}

TEST(CommandLine, OptionsAreCheckedWhereTheyAreDeclared) {
    const CommandLine c = parse_command_line(
        {"render",    "in.png", "-o",           "out.####.png", "--set",  "drag=1",  "--set",
         "amount=50", "--fps",  "29.97",        "--frames",     "-10--2", "--shard", "2/3",
         "--size",    "64x36",  "--downsample", "2,3",          "-j",     "3"});
    ASSERT_EQ(c.command, CommandName::Render);
    EXPECT_EQ(c.render.job.input, "in.png");
    EXPECT_EQ(c.render.settings, (std::vector<std::string>{"drag=1", "amount=50"}));
    EXPECT_EQ(c.render.rate->num, 30000);
    EXPECT_EQ(c.render.range, (std::pair<std::int64_t, std::int64_t>{-10, -2}));
    EXPECT_EQ(c.render.shard, (std::pair<std::int64_t, std::int64_t>{2, 3}));
    EXPECT_EQ(c.render.job.downsample_y.den, 3u);
    EXPECT_EQ(c.render.job.jobs, 3u);
    EXPECT_TRUE(c.render.size_given);
    EXPECT_EQ(parse_command_line({"help"}).command, CommandName::Help);
    EXPECT_EQ(parse_command_line({"--version"}).command, CommandName::Version);
    EXPECT_EQ(parse_command_line({"version"}).command, CommandName::Version);
    EXPECT_EQ(parse_command_line({"render", "--help"}).help.find("--skip-existing") != std::string::npos,
              true);

    const struct {
        std::vector<std::string> args;
        const char* message;
    } refused[] = {
        {{"render", "-o", "x.png", "--frames", "5-1"}, "A <= B"},
        {{"render", "-o", "x.png", "--shard", "0/3"}, "1 <= K <= N"},
        {{"render", "-o", "x.png", "--size", "0x10"}, "1 to 65536"},
        {{"render", "-o", "x.png", "--fps", "30000/0"}, "30000/1001"},
        {{"render", "-o", "x.png", "--fps", "23.97602397602"}, "at most 9 decimals"},
        {{"render", "-o", "x.png", "--frame", "1", "--frames", "1-2", "--fps", "24"},
         "--frame and --frames cannot be given together"},
        {{"render", "-o", "x.png", "--set"}, "--set needs a value"},
        {{"render", "a.png", "b.png", "-o", "x.png"}, "more than one input: \"a.png\" and \"b.png\""},
        {{"render", "-o", "x.png", "--bogus"}, "unknown option \"--bogus\""},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"render"}, "render needs -o OUTPUT"},
        {{"render", "-o", "x%d%d.png", "--fps", "24", "--frames", "1-2"}, "more than one %d"},
        {{"render", "in.%d.%d.png", "-o", "x.png"}, "more than one %d"},
        {{"render", "--mask", "m%%d.png", "-o", "x.png"}, "has %%"},
    };
    for (const auto& r : refused) {
        try {
            parse_command_line(r.args);
            ADD_FAILURE() << "accepted: " << r.args.back();
        } catch (const ToolError& e) {
            EXPECT_EQ(e.exit_code, EXIT_USAGE);
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace lumatrail::tools
