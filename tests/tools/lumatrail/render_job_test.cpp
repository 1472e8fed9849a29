// The read, render and write stages in-process, through EffectMain with the
// offline host: frames rendered on several threads land in their files, or in
// a movie in the job's order, exactly as frames rendered one by one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "offline/offline_frame.h"
#include "offline/test_card.h"
#include "tests/support/effect_host.h"
#include "tools/lumatrail/cancel_signals.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/movie_reader.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/render_job.h"
#include "tools/lumatrail/tool_error.h"
#include "tests/support/scratch_folder.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

struct RenderJobTest : testing::ScratchFolderTest<testing::EffectHostTest> {
    void SetUp() override {
        ScratchFolderTest::SetUp();
        // Particles move with time, so every frame differs from the others.
        for (auto& p : host.params)
            if (p.name == "Render Mode") p.keys = {{0.0, 3.0}};
    }

    // Five frames of the built-in card on three threads.
    RenderJob job_to(const std::string& output) const {
        RenderJob job;
        job.output = output;
        job.card_width = 64, job.card_height = 36;
        job.frames = {0, 1, 2, 3, 4};
        job.rate = FrameRate{24, 1};
        job.jobs = 3;
        job.quiet = true;
        return job;
    }

    // Frame f rendered alone, as the host renders it.
    offline::OfflineWorld direct(std::int64_t f) {
        const offline::OfflineLayer card{offline::test_card(64, 36, PF_PixelFormat_ARGB32), {}, {}, {}};
        offline::FrameRequest r;
        r.input = &card;
        r.time = {std::int32_t(f), 1, 24};
        offline::FrameResult result = offline::request_frame(host, EffectMain, r);
        EXPECT_EQ(result.render, 0);
        return std::move(result.output);
    }
};

TEST_F(RenderJobTest, FramesOnSeveralThreadsLandInTheirFilesOrInTheMovieInOrder) {
    CancelSignals signals;
    PendingFiles pending;
    const RenderOutcome files = run_render(EffectMain, host, job_to(at("f.####.tif")), signals, &pending);
    EXPECT_EQ(files.written, 5u);
    EXPECT_EQ(files.times.threads, 3u);
    const RenderOutcome movie = run_render(EffectMain, host, job_to(at("m.mkv")), signals, &pending);
    EXPECT_EQ(movie.written, 1u);
    MovieReader reader(at("m.mkv"));
    EXPECT_EQ(reader.info().frames, 5);
    for (std::int64_t f = 0; f < 5; ++f) {
        const offline::OfflineWorld expected = direct(f);
        EXPECT_TRUE(offline::same_pixels(read_image(frame_path(at("f.####.tif"), f)), expected)) << f;
        // FFV1 is lossless: the movie holds the frames bit for bit.
        EXPECT_TRUE(offline::same_pixels(reader.read(f), expected)) << f;
    }
    EXPECT_TRUE(pending.paths().empty());
}

TEST_F(RenderJobTest, ACancelledJobSaysWhatIsOnDiskAndLeavesNoMovie) {
    CancelSignals signals;
    signals.flag() = true;
    for (const char* output : {"c.####.png", "c.mov"}) {
        try {
            run_render(EffectMain, host, job_to(at(output)), signals);
            ADD_FAILURE() << output << " was rendered";
        } catch (const ToolError& e) {
            EXPECT_EQ(e.exit_code, EXIT_CANCELLED) << output;
            EXPECT_THAT(e.what(), HasSubstr("cancelled")) << output;
        }
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
}  // namespace lumatrail::tools

namespace lumatrail::tools {
namespace {

TEST(ProgressLine, NarrowTerminalsLoseWholeFieldsTheLeastNeededFirst) {
    // 17 of 24 frames in 7 s: 2.43 frames a second, 3 s left.
    EXPECT_EQ(progress_line(17, 24, 7.0, 80),
              "rendering [#########-----] 17/24 frames  0:07 elapsed  2.43 frames/s  0:03 left");
    EXPECT_EQ(progress_line(17, 24, 7.0, 66),
              "rendering 17/24 frames  0:07 elapsed  2.43 frames/s  0:03 left");
    EXPECT_EQ(progress_line(17, 24, 7.0, 60), "rendering 17/24 frames  0:07 elapsed  2.43 frames/s");
    EXPECT_EQ(progress_line(17, 24, 7.0, 40), "rendering 17/24 frames  0:07 elapsed");
    EXPECT_EQ(progress_line(17, 24, 7.0, 30), "17/24 frames  0:07 elapsed");
    EXPECT_EQ(progress_line(17, 24, 7.0, 20), "17/24 frames");
    EXPECT_EQ(progress_line(17, 24, 7.0, 12), "");
    // Before the first frame: no rate or time left; the bar grows to 30.
    EXPECT_EQ(progress_line(0, 1, 2.0, 80),
              "rendering [------------------------------] 0/1 frames  0:02 elapsed");
    EXPECT_EQ(progress_line(0, 1, 2.0, 40), "rendering 0/1 frames  0:02 elapsed");
    EXPECT_EQ(progress_line(0, 1, 2.0, 20), "0/1 frames");
    EXPECT_EQ(progress_line(1, 1, 2.0, 50), "rendering [############] 1/1 frames  0:02 elapsed");
}

}  // namespace
}  // namespace lumatrail::tools

namespace lumatrail::tools {
namespace {

// stderr of the lumatrail program run with these arguments (stdout dropped), and its exit code.
std::pair<int, std::string> tool_stderr(const std::string& arguments) {
    const std::string command = std::string(LUMATRAIL_TOOL) + " " + arguments + " 2>&1 >/dev/null";
    std::string err;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, err};
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) err.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
}

TEST(OpaqueMask, AMaskWithoutRealAlphaUnderMaskChannelAlphaIsWarnedOf) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("opaque_mask_" + std::to_string(getpid()));
    fs::create_directories(dir);
    // A black-and-white matte: as JPEG (no alpha), as PNG with alpha full
    // everywhere; and the built-in mask, whose discs are in its alpha.
    offline::OfflineWorld matte = offline::make_world(PF_PixelFormat_ARGB32, 32, 18);
    for (std::int32_t y = 0; y < 18; ++y)
        for (std::int32_t x = 0; x < 32; ++x) {
            const auto v = std::uint8_t(x < 16 ? 0 : 255);
            *offline::pixel_at<PF_Pixel>(matte, x, y) = {255, v, v, v};
        }
    write_image(matte, (dir / "matte.jpg").string());
    write_image(matte, (dir / "matte.png").string());
    write_image(offline::test_mask(32, 18, PF_PixelFormat_ARGB32), (dir / "discs.png").string());
    const std::string warning = "warning: the mask";
    const struct {
        std::string mask, settings;
        bool warned;
    } cases[] = {
        {"matte.jpg", "--set mask-mode=sort-inside-mask", true},
        {"matte.png", "--set mask-mode=stretch-from-mask", true},
        {"matte.png", "--set show-mask=on", true},
        {"discs.png", "--set mask-mode=sort-inside-mask", false},
        {"matte.png", "--set mask-mode=sort-inside-mask --set mask-channel=luminance", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask + " " + c.settings);
        const auto [code, err] = tool_stderr("render --size 32x18 --quiet --mask " + (dir / c.mask).string() +
                                             " " + c.settings + " -o " + (dir / "out.png").string());
        EXPECT_EQ(code, 0) << err;
        if (c.warned) {
            EXPECT_EQ(err,
                      "lumatrail: warning: the mask \"" + (dir / c.mask).string() +
                          "\" has no alpha (or its alpha is fully opaque) while Mask Channel is Alpha, so "
                          "the whole frame counts as inside the mask; for a black-and-white matte add "
                          "--set mask-channel=luminance\n");
        } else {
            EXPECT_THAT(err, Not(HasSubstr(warning))) << err;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace lumatrail::tools
