// The --stats report from given times: its units, and where files read once
// for every frame are counted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/lumatrail/render_stats.h"

namespace lumatrail::tools {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(RenderStats, DurationsChangeToSecondsWithoutPrintingAThousandMilliseconds) {
    EXPECT_EQ(readable_duration(0.04), "0.0 ms");
    EXPECT_EQ(readable_duration(41.23), "41.2 ms");
    EXPECT_EQ(readable_duration(999.94), "999.9 ms");
    EXPECT_EQ(readable_duration(999.96), "1.00 s");
    EXPECT_EQ(readable_duration(1234.0), "1.23 s");
    EXPECT_EQ(readable_duration(9996.0), "10.0 s");
    EXPECT_EQ(readable_duration(15100.0), "15.1 s");
    EXPECT_EQ(readable_duration(99960.0), "100 s");
    EXPECT_EQ(readable_duration(152400.0), "152 s");
}

TEST(RenderStats, ASingleFrameOwnsTheFilesReadBeforeIt) {
    RenderTimes t;
    t.frames = {{7, 1.0, 2.0, 3.0}};
    t.shared_read_ms = 10.0;
    t.wall_ms = 20.0;
    const std::string report = stats_report(t, false, {std::nullopt, 4.0});
    EXPECT_THAT(report, HasSubstr("frame 7: read 11.0 ms, render 2.0 ms, write 3.0 ms\n"));
    EXPECT_THAT(report, Not(HasSubstr("shared:")));
    EXPECT_THAT(report,
                HasSubstr("total: read 11.0 ms, render 2.0 ms, write 3.0 ms; wall 20.0 ms on 1 job\n"));
    EXPECT_THAT(report, HasSubstr("module load: 4.0 ms\n"));
    EXPECT_THAT(report, HasSubstr("start-up: unknown\n"));
    EXPECT_THAT(stats_report(t, true, {}), HasSubstr("still: read 11.0 ms"));
}

TEST(RenderStats, SeveralFramesCountSharedFilesOnceInTheTotal) {
    RenderTimes t;
    t.frames = {{1, 0.5, 300.0, 400.0}, {2, 0.3, 500.0, 700.0}};
    t.shared_read_ms = 10.0;
    t.wall_ms = 1500.0;
    t.threads = 2;
    const std::string report = stats_report(t, false, {250.0, 4.0});
    EXPECT_THAT(report, HasSubstr("frame 1: read 0.5 ms, render 300.0 ms, write 400.0 ms\n"
                                  "frame 2: read 0.3 ms, render 500.0 ms, write 700.0 ms\n"
                                  "shared: read 10.0 ms"));
    EXPECT_THAT(report,
                HasSubstr("total: read 10.8 ms, render 800.0 ms, write 1.10 s; wall 1.50 s on 2 jobs\n"));
    EXPECT_THAT(report, HasSubstr("start-up: 250.0 ms\n"));
    EXPECT_THAT(report, HasSubstr("may exceed the wall time"));
}

}  // namespace
}  // namespace lumatrail::tools
