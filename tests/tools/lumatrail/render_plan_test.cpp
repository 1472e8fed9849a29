// The plan stage in-process: what a render is refused for before anything is
// read, and which frames at which rate it covers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "offline/test_card.h"
#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/render_plan.h"
#include "tools/lumatrail/tool_error.h"
#include "tests/support/scratch_folder.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr std::uint64_t PLENTY = std::uint64_t(1) << 34;

struct RenderPlanTest : testing::ScratchFolderTest<> {
    // The options `lumatrail render ARGS` gives, with their frames planned.
    RenderOptions planned(std::vector<std::string> args) const {
        args.insert(args.begin(), {"render", "--quiet"});
        RenderOptions r = parse_command_line(args).render;
        plan_frames(r);
        return r;
    }

    // The exit code and message a plan is refused with; 0 when it is not.
    std::pair<int, std::string> refusal(std::vector<std::string> args) const {
        try {
            const RenderOptions r = planned(std::move(args));
            plan_render(r.job, PLENTY);
        } catch (const ToolError& e) {
            return {e.exit_code, e.what()};
        }
        return {0, ""};
    }
};

TEST_F(RenderPlanTest, AnOutputThatIsAnInputIsRefusedBeforeAnyWork) {
    for (int f = 1; f <= 3; ++f)
        write_image(offline::test_card(16, 8, PF_PixelFormat_ARGB32), frame_path(at("shot.####.png"), f));
    write_image(offline::test_card(16, 8, PF_PixelFormat_ARGB32), at("still.png"));
    write_image(offline::test_card(16, 8, PF_PixelFormat_ARGB32), at("matte.png"));
    std::ofstream(at("look.json")) << "{}";
    fs::create_directories(at("sub"));
    fs::create_symlink(at("still.png"), at("link.png"));
    const auto before = fs::last_write_time(at("still.png"));
    const struct {
        std::vector<std::string> args;
        std::string names;
    } cases[] = {
        {{at("shot.####.png"), "-o", at("shot.####.png")}, "shot.0001.png"},
        {{at("shot.####.png"), "-o", at("shot.%04d.png")}, "shot.0001.png"},
        {{at("still.png"), "-o", (dir / "sub" / ".." / "." / "still.png").string()}, "still.png"},
        {{at("still.png"), "-o", at("link.png")}, "still.png"},
        {{at("shot.####.png"), "--frames", "2-3", "-o", at("shot.####.png")}, "shot.0002.png"},
        {{at("still.png"), "--mask", at("matte.png"), "-o", at("matte.png")}, "matte.png"},
        {{at("still.png"), "--preset", at("look.json"), "-o", at("look.json")}, "look.json"},
    };
    for (const auto& c : cases) {
        const auto [code, message] = refusal(c.args);
        EXPECT_EQ(code, EXIT_USAGE) << c.args.back();
        EXPECT_THAT(message, AllOf(HasSubstr(c.names), HasSubstr("choose another output"))) << message;
    }
    EXPECT_EQ(fs::last_write_time(at("still.png")), before);
    // A new name beside the inputs is no overwrite.
    EXPECT_EQ(refusal({at("shot.####.png"), "-o", at("out.####.png")}).first, 0);
}

TEST_F(RenderPlanTest, FrameNumbersTakeTheInputsOwnRate) {
    for (int f = 4; f <= 6; ++f)
        write_image(offline::test_card(16, 8, PF_PixelFormat_ARGB32), frame_path(at("s.####.png"), f));
    // A found sequence: every frame on disk, or the frames asked for, at 24 unless --fps says.
    RenderOptions found = planned({at("s.####.png"), "-o", at("o.####.png")});
    EXPECT_EQ(found.job.frames, (std::vector<std::int64_t>{4, 5, 6}));
    EXPECT_EQ(found.job.rate->num, 24);
    RenderOptions some = planned({at("s.####.png"), "--frames", "5-6", "-o", at("o.####.png")});
    EXPECT_EQ(some.job.frames, (std::vector<std::int64_t>{5, 6}));
    EXPECT_EQ(some.job.rate->num, 24);
    RenderOptions ntsc = planned({at("s.####.png"), "--frame", "5", "--fps", "29.97", "-o", at("o.png")});
    EXPECT_EQ(ntsc.job.rate->num, 30000);
    EXPECT_EQ(ntsc.job.rate->den, 1001);
    // A still or the built-in picture has no rate of its own.
    const auto [code, message] = refusal({"--frames", "0-3", "-o", at("o.####.png")});
    EXPECT_EQ(code, EXIT_USAGE);
    EXPECT_THAT(message, HasSubstr("need --fps"));
}

TEST_F(RenderPlanTest, AMovieOutputIsWrittenByOneRunInOrder) {
    const auto shard = refusal({"--fps", "24", "--frames", "0-9", "--shard", "1/2", "-o", at("o.mov")});
    EXPECT_EQ(shard.first, EXIT_USAGE);
    EXPECT_THAT(shard.second, HasSubstr("--shard cannot write a movie"));
    const auto skip = refusal({"--fps", "24", "--frames", "0-9", "--skip-existing", "-o", at("o.mp4")});
    EXPECT_EQ(skip.first, EXIT_USAGE);
    EXPECT_THAT(skip.second, HasSubstr("--skip-existing"));
    // Several frames go to a pattern or a movie, never to one still.
    const auto still = refusal({"--fps", "24", "--frames", "0-9", "-o", at("o.png")});
    EXPECT_EQ(still.first, EXIT_USAGE);
    EXPECT_THAT(still.second, HasSubstr("or a movie"));
    EXPECT_EQ(refusal({"--fps", "24", "--frames", "0-9", "-o", at("o.mkv")}).first, 0);
}

}  // namespace
}  // namespace lumatrail::tools

namespace lumatrail::tools {
namespace {

TEST(MemoryLimits, ALimitOnTheProcessIsTheBudgetWhenItLeavesLess) {
    constexpr std::uint64_t GB = 1'000'000'000;
    EXPECT_EQ(memory_budget(20 * GB, {}, {}).said, "20.0 GB is available");
    // ulimit -v 3000000 (KiB), 0.3 GB already mapped.
    const MemoryBudget v = memory_budget(20 * GB, {3'072'000'000, 300'000'000}, {});
    EXPECT_EQ(v.bytes, 2'772'000'000u);
    EXPECT_EQ(v.said, "the address-space limit (ulimit -v) of 3.1 GB leaves 2.8 GB");
    const MemoryBudget d = memory_budget(20 * GB, {8 * GB, 1 * GB}, {2 * GB, 500'000'000});
    EXPECT_EQ(d.bytes, 1'500'000'000u);
    EXPECT_EQ(d.said, "the data-size limit (ulimit -d) of 2.0 GB leaves 1.5 GB");
    EXPECT_EQ(memory_budget(1 * GB, {8 * GB, 1 * GB}, {}).said, "1.0 GB is available");
    EXPECT_EQ(memory_budget(20 * GB, {1 * GB, 2 * GB}, {}).bytes, 0u) << "already over its limit";

    // An 8000x8000 float test card needs 6.1 GB: refused in the plan, exit 3,
    // with the size, the need and the limit.
    RenderJob job;
    job.output = ::testing::TempDir() + "huge.exr";
    job.card_width = job.card_height = 8000;
    job.depth = PF_PixelFormat_ARGB128;
    job.frames = {0};
    try {
        plan_render(job, v);
        ADD_FAILURE() << "not refused";
    } catch (const ToolError& e) {
        EXPECT_EQ(e.exit_code, EXIT_INPUT);
        EXPECT_EQ(
            std::string(e.what()),
            "the test card is 8000x8000: reading and rendering it takes about 6.1 GB of memory, and the "
            "address-space limit (ulimit -v) of 3.1 GB leaves 2.8 GB");
    }
    // Running out anyway, in the effect or the program, says the same.
    job.card_width = job.card_height = 2000;
    const RenderPlan plan = plan_render(job, v);
    EXPECT_EQ(plan.memory_needed, 384'000'000u);
    const ToolError e = out_of_memory(plan, 7);
    EXPECT_EQ(e.exit_code, EXIT_INPUT);
    EXPECT_EQ(std::string(e.what()),
              "frame 7: out of memory rendering 2000x2000 frames (1 at once): they were estimated to take "
              "384.0 MB of memory, and the address-space limit (ulimit -v) of 3.1 GB leaves 2.8 GB");
}

TEST(MemoryLimits, TheProgramUnderUlimitIsRefusedBeforeRendering) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP()
        << "the address sanitizer reserves terabytes of address space, so no ulimit -v lets it start";
#else
    const std::string out = ::testing::TempDir() + "huge_" + std::to_string(getpid()) + ".exr";
    const std::string command = "ulimit -v 3000000; " + std::string(LUMATRAIL_TOOL) + " render -o " + out +
                                " --size 8000x8000 --depth 32 2>&1";
    std::string err;
    std::FILE* pipe = popen(("sh -c '" + command + "'").c_str(), "r");
    ASSERT_TRUE(pipe);
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) err.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), EXIT_INPUT) << err;
    EXPECT_THAT(err, HasSubstr("8000x8000: reading and rendering it takes about 6.1 GB of memory, and the "
                               "address-space limit (ulimit -v) of 3.1 GB leaves"));
    EXPECT_FALSE(fs::exists(out));
#endif
}

}  // namespace
}  // namespace lumatrail::tools
