// The offline host: what it learns from the effect, how it checks values,
// keyframes and faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "host/parameters.h"
#include "offline/offline_host.h"
#include "tests/support/effect_host.h"

namespace lumatrail::offline {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

struct OfflineHostTest : testing::EffectHostTest {
    PF_ParamDef checkout(std::int32_t index, HostTime t = {}) {
        PF_InData in = make_in_data(host, t);
        PF_ParamDef def{};
        EXPECT_EQ(in.inter.checkout_param(in.effect_ref, index, t.time, t.time_step, t.time_scale, &def), 0);
        return def;
    }
};

TEST_F(OfflineHostTest, LearnsTheParameterListFromTheEffect) {
    ASSERT_EQ(host.params.size(), std::size_t(PARAM_COUNT));
    EXPECT_EQ(host.params[0].declared.param_type, PF_Param_LAYER);
    EXPECT_EQ(find_param(host, "Streak Length (px)"), PARAM_STREAK_LENGTH);
    EXPECT_EQ(find_param(host, "Mask Layer"), PARAM_MASK_LAYER);
    EXPECT_EQ(find_param(host, "streak length"), -1);
    EXPECT_EQ(host.params[PARAM_SWEEP_MODE].choices,
              (std::vector<std::string>{"Off", "Pass Through", "Build Up", "Clear Away"}));
    EXPECT_EQ(checkout(PARAM_STREAK_LENGTH).u.fs_d.value, 640.0);
    EXPECT_EQ(checkout(PARAM_PREROLL_PARTICLES).u.bd.value, 1);
    EXPECT_STREQ(checkout(PARAM_DIRECTION).u.pd.u.namesptr, "Horizontal|Vertical|Radial Out|Radial In");
}

TEST_F(OfflineHostTest, RejectsValuesOutsideTheValidRangeSayingWhatIsAllowed) {
    EXPECT_THAT([&] { set_param_value(host, "Streak Length (px)", 0.5); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("accepts values from 1 to 32768")));
    EXPECT_THAT([&] { set_param_value(host, PARAM_DIRECTION, 5); },
                ThrowsMessage<std::invalid_argument>(
                    HasSubstr("1 Horizontal, 2 Vertical, 3 Radial Out, 4 Radial In")));
    EXPECT_THAT([&] { set_param_value(host, PARAM_DIRECTION, 1.5); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("takes a choice from 1 to 4")));
    EXPECT_THAT([&] { set_param_value(host, "Show Mask", 2); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("0 (off) or 1 (on)")));
    EXPECT_THAT([&] { set_param_value(host, "Mask Layer", 1); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("holds no value")));
    EXPECT_THAT([&] { set_param_value(host, "Streak Lenght", 10); },
                ThrowsMessage<std::invalid_argument>(HasSubstr("no parameter is named")));
    EXPECT_THAT([&] { set_param_value(host, PARAM_COUNT, 1); },
                ThrowsMessage<std::invalid_argument>(
                    HasSubstr("indices run from 0 to " + std::to_string(PARAM_COUNT - 1))));
    // The valid range, not the slider's range, bounds what is accepted.
    EXPECT_NO_THROW(set_param_value(host, "Center X (%)", 300));
    EXPECT_NO_THROW(set_param_value(host, "Upper Brightness (%)", 1600));
    EXPECT_EQ(checkout(PARAM_CENTER_X).u.fs_d.value, 300.0);
    // A rejected value leaves the previous one in place.
    EXPECT_ANY_THROW(set_param_value(host, "Center X (%)", 301));
    EXPECT_EQ(checkout(PARAM_CENTER_X).u.fs_d.value, 300.0);
}

TEST_F(OfflineHostTest, SlidersInterpolateAndChoicesHoldBetweenKeys) {
    set_param_keys(host, PARAM_STREAK_LENGTH, {{2.0, 300.0}, {1.0, 100.0}});  // any order
    set_param_keys(host, PARAM_DIRECTION, {{0.0, 1.0}, {1.0, 2.0}});
    EXPECT_EQ(checkout(PARAM_STREAK_LENGTH, {0, 1, 10}).u.fs_d.value, 100.0);   // before the first
    EXPECT_EQ(checkout(PARAM_STREAK_LENGTH, {15, 1, 10}).u.fs_d.value, 200.0);  // halfway
    EXPECT_EQ(checkout(PARAM_STREAK_LENGTH, {90, 1, 10}).u.fs_d.value, 300.0);  // after the last
    EXPECT_EQ(checkout(PARAM_DIRECTION, {9, 1, 10}).u.pd.value, 1);
    EXPECT_EQ(checkout(PARAM_DIRECTION, {10, 1, 10}).u.pd.value, 2);
    EXPECT_ANY_THROW(set_param_keys(host, PARAM_STREAK_LENGTH, {}));
    EXPECT_ANY_THROW(set_param_keys(host, PARAM_STREAK_LENGTH, {{0.0, 10.0}, {1.0, 40000.0}}));
}

TEST_F(OfflineHostTest, InjectedCheckoutFailureAndCallRecord) {
    host.faults.fail_checkout_param = PARAM_AMOUNT;
    host.faults.checkout_param_error = -8;
    clear_calls(host);
    PF_InData in = make_in_data(host);
    PF_ParamDef def{};
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, PARAM_AMOUNT, 0, 1, 30, &def), -8);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, PARAM_DRAG, 0, 1, 30, &def), 0);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 400, 0, 1, 30, &def), PF_Err_BAD_CALLBACK_PARAM);
    in.inter.checkin_param(in.effect_ref, &def);
    const auto calls = recorded_calls(host);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].kind, CallKind::CheckinParam);
    EXPECT_EQ(calls[3].index, PARAM_DRAG);
    EXPECT_EQ(count_calls(host, CallKind::CheckoutParam), 3u);
}

TEST_F(OfflineHostTest, CheckOutsFromSeveralThreadsAreAllRecorded) {
    clear_calls(host);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this] {
            for (int i = 0; i < 200; ++i) checkout(PARAM_DRAG);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(count_calls(host, CallKind::CheckoutParam), 800u);
}

}  // namespace
}  // namespace lumatrail::offline

namespace lumatrail::offline {
namespace {

TEST(OfflineWorldCopies, OwnTheirPixelsInEveryLayout) {
    for (bool bottom_up : {false, true}) {
        OfflineWorld a = make_world(PF_PixelFormat_ARGB64, 3, 2, {0, 0, 4, bottom_up, false});
        pixel_at<PF_Pixel16>(a, 2, 1)->red = 77;
        OfflineWorld b = a;
        EXPECT_NE(b.world.data, a.world.data);
        EXPECT_EQ(pixel_at<PF_Pixel16>(b, 2, 1)->red, 77);
        pixel_at<PF_Pixel16>(a, 2, 1)->red = 5;  // the copy is independent
        EXPECT_EQ(pixel_at<PF_Pixel16>(b, 2, 1)->red, 77);
        OfflineWorld c;
        c = b;
        const void* before = c.world.data;
        OfflineWorld d = std::move(c);  // moves keep the storage
        EXPECT_EQ(d.world.data, before);
        EXPECT_TRUE(same_pixels(d, b));
        EXPECT_FALSE(same_pixels(d, a));
    }
    const OfflineWorld empty = make_world(PF_PixelFormat_ARGB32, 4, 4, {0, 0, 0, false, true});
    const OfflineWorld copy = empty;
    EXPECT_EQ(copy.world.data, nullptr);
}

}  // namespace
}  // namespace lumatrail::offline
