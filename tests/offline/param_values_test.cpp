// Parameters from the text users type.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/parameters.h"
#include "tests/support/effect_host.h"
#include "offline/param_values.h"

namespace lumatrail::offline {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

struct ParamValues : testing::EffectHostTest {
    double value(std::int32_t index) { return host.params[std::size_t(index)].keys.front().value; }
};

TEST(Slug, LowerCaseWordsJoinedByDashes) {
    EXPECT_EQ(slug("Streak Length (px)"), "streak-length-px");
    EXPECT_EQ(slug("Off - Full Frame Sort"), "off-full-frame-sort");
    EXPECT_EQ(slug("Launch Speed (px/sec)"), "launch-speed-px-sec");
}

TEST_F(ParamValues, ByNameOrSlugWithChoicesAndCheckboxes) {
    apply_setting(host, "Streak Length (px)=300");
    EXPECT_EQ(value(PARAM_STREAK_LENGTH), 300.0);
    apply_setting(host, "direction=radial-out");
    EXPECT_EQ(value(PARAM_DIRECTION), 3.0);
    apply_setting(host, "Direction=Vertical");
    EXPECT_EQ(value(PARAM_DIRECTION), 2.0);
    apply_setting(host, "mask-mode=3");
    EXPECT_EQ(value(PARAM_MASK_MODE), 3.0);
    apply_setting(host, "show-mask=on");
    EXPECT_EQ(value(PARAM_SHOW_MASK), 1.0);
    apply_setting(host, "pre-roll-particles=off");
    EXPECT_EQ(value(PARAM_PREROLL_PARTICLES), 0.0);
}

TEST_F(ParamValues, MistakesSayWhatIsAllowed) {
    EXPECT_THAT([&] { apply_setting(host, "streak-lenght=3"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("did you mean \"Streak Length (px)\"")));
    EXPECT_THAT(
        [&] { apply_setting(host, "direction=diagonal"); },
        ThrowsMessage<std::invalid_argument>(HasSubstr("horizontal, vertical, radial-out, radial-in")));
    EXPECT_THAT([&] { apply_setting(host, "direction=7"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("takes a choice from 1 to 4")));
    EXPECT_THAT([&] { apply_setting(host, "show-mask=maybe"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("on or off")));
    EXPECT_THAT([&] { apply_setting(host, "amount=lots"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("takes a number")));
    EXPECT_THAT([&] { apply_setting(host, "amount=150"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("from 0 to 100")));
    EXPECT_THAT([&] { apply_setting(host, "amount"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("NAME=VALUE")));
    // Controls that hold no value: how to give them instead.
    EXPECT_THAT([&] { apply_setting(host, "Mask Layer=matte.png"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("give the mask with --mask FILE")));
    EXPECT_THAT([&] { apply_setting(host, "input=photo.png"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("lumatrail render INPUT")));
    EXPECT_THAT([&] { apply_setting(host, "Mask Source=1"); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("\"Mask Source\" is a group")));
    EXPECT_EQ(value(PARAM_AMOUNT), 100.0);  // nothing changed
}

}  // namespace
}  // namespace lumatrail::offline
