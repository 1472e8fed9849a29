// Reading a frame's parameter values into RenderSettings, through the offline
// host that learned the parameters from the effect itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "host/host_error.h"
#include "host/parameters.h"
#include "host/settings_fill.h"
#include "offline/offline_host.h"

namespace lumatrail {
namespace {

// The parameters RenderSettings is read from, in ascending index.
constexpr std::size_t SETTINGS_PARAM_COUNT =
    std::size_t(std::count_if(PARAM_TABLE.begin(), PARAM_TABLE.end(),
                              [](const ParamRow& r) { return r.conversion != Conversion::None; }));
constexpr auto SETTINGS_PARAMS = [] {
    std::array<std::int32_t, SETTINGS_PARAM_COUNT> indices{};
    std::size_t n = 0;
    for (const ParamRow& r : PARAM_TABLE)
        if (r.conversion != Conversion::None) indices[n++] = r.index;
    return indices;
}();

using offline::CallKind;

struct SettingsFill : ::testing::Test {
    offline::OfflineHost host;
    void SetUp() override { ASSERT_EQ(offline::load_parameters(host, EffectMain), 0); }
    RenderSettings read(offline::HostTime time = {}) {
        clear_calls(host);
        return ReadRenderSettings(offline::make_in_data(host, time));
    }
    void set(std::int32_t index, double value) { offline::set_param_value(host, index, value); }
    // A value outside the declared range, as a host that does not keep to
    // the range would hand it over.
    void set_unchecked(std::int32_t index, double value) {
        host.params[std::size_t(index)].keys = {{0.0, value}};
    }
};

TEST_F(SettingsFill, PopupsBecomeTheirZeroBasedEnumerations) {
    const StretchDirection directions[] = {Horizontal, Vertical, RadialOut, RadialIn};
    for (int choice = 1; choice <= 4; ++choice) {
        set(PARAM_DIRECTION, choice);
        EXPECT_EQ(read().direction, directions[choice - 1]) << choice;
    }
    set(PARAM_COMPOSITE, 2);
    EXPECT_EQ(read().composite, StreamsOnly);
    set(PARAM_COMPOSITE, 1);
    EXPECT_EQ(read().composite, OverOriginal);
}

TEST_F(SettingsFill, PercentagesBecomeFractionsByFloatMultiplication) {
    set(PARAM_LOWER_BRIGHTNESS, 150);
    set(PARAM_UPPER_BRIGHTNESS, 50);
    set(PARAM_STRETCH_TIP_FEATHER, 15);
    set(PARAM_BIRTH_SIZE, 300);
    set(PARAM_END_SIZE, 800);
    set(PARAM_AMOUNT, 100);
    set(PARAM_CENTER_X, -200);
    const RenderSettings s = read();
    EXPECT_EQ(s.lower_brightness, 1.5f);
    EXPECT_EQ(s.upper_brightness, 0.5f);  // a lower bound above the upper is stored as is
    // 15 * 0.01f is one unit in the last place below 0.15f.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(s.stretch_tip_feather), 0x3E199999u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(s.stretch_tip_feather) + 1, std::bit_cast<std::uint32_t>(0.15f));
    EXPECT_EQ(s.birth_size, 3.0f);
    EXPECT_EQ(s.end_size, 8.0f);
    EXPECT_EQ(s.amount, 1.0f);
    EXPECT_EQ(s.center_x, -2.0f);

    set(PARAM_LOWER_BRIGHTNESS, 1600);
    EXPECT_EQ(read().lower_brightness, 16.0f);
}

TEST_F(SettingsFill, CountsTruncateAfterRoundingToSingle) {
    set(PARAM_RANDOM_SEED, 41.99);
    set(PARAM_PARTICLE_COUNT, 0);
    RenderSettings s = read();
    EXPECT_EQ(s.random_seed, 41);
    EXPECT_EQ(s.particle_count, 0);
    // 999999.99 rounds to the single 1000000 before truncation.
    set(PARAM_RANDOM_SEED, 999999.99);
    set(PARAM_PARTICLE_COUNT, 11999.5);
    s = read();
    EXPECT_EQ(s.random_seed, 1000000);
    EXPECT_EQ(s.particle_count, 11999);
}

TEST_F(SettingsFill, FrameTimeInSeconds) {
    EXPECT_EQ(read({90, 1, 30}).time_seconds, 3.0);
    EXPECT_EQ(read({-45, 1, 30}).time_seconds, -1.5);
    EXPECT_EQ(read({1001, 1001, 24000}).time_seconds, 1001.0 / 24000.0);
    EXPECT_EQ(read({90, 1, 0}).time_seconds, 0.0);
}

TEST_F(SettingsFill, ValuesAreReadAtTheFramesOwnTime) {
    offline::set_param_keys(host, PARAM_SWEEP_POSITION, {{0.0, 0.0}, {2.0, 100.0}});
    offline::set_param_keys(host, PARAM_SWEEP_MODE, {{0.0, 2.0}, {1.5, 4.0}});
    RenderSettings s = read({30, 1, 30});  // 1 s
    EXPECT_EQ(s.sweep_position, 0.5f);
    EXPECT_EQ(s.sweep_mode, PassThrough);
    s = read({60, 1, 30});  // 2 s
    EXPECT_EQ(s.sweep_position, 1.0f);
    EXPECT_EQ(s.sweep_mode, ClearAway);
}

// Whether two records hold the same value in the member a row names.
bool same_member(const ParamRow& row, const RenderSettings& a, const RenderSettings& b) {
    return std::visit(
        [&](auto member) {
            if constexpr (std::is_same_v<decltype(member), std::monostate>)
                return true;
            else
                return a.*member == b.*member;
        },
        row.member);
}

// The bits a row's member holds (a float's bit pattern, so that -0 and NaN
// count too); 0 for rows that are not settings.
std::uint64_t member_bits(const ParamRow& row, const RenderSettings& s) {
    return std::visit(
        [&](auto member) -> std::uint64_t {
            if constexpr (std::is_same_v<decltype(member), std::monostate>)
                return 0;
            else if constexpr (std::is_same_v<std::remove_cvref_t<decltype(s.*member)>, float>)
                return std::bit_cast<std::uint32_t>(s.*member);
            else
                return std::uint64_t(std::int64_t(s.*member));
        },
        row.member);
}

// The defaults derived from the table are, bit for bit, what the fill reads
// from a parameter list the effect has just declared.
TEST_F(SettingsFill, DerivedDefaultsAreWhatAFreshParameterListGives) {
    const RenderSettings s = read();
    for (const std::int32_t index : SETTINGS_PARAMS)
        EXPECT_EQ(member_bits(param_row(index), s), member_bits(param_row(index), DEFAULT_SETTINGS))
            << param_row(index).ui_name;
    EXPECT_EQ(s.time_seconds, DEFAULT_SETTINGS.time_seconds);
}

// Each slider's valid range is kept once, by the fill: every value at or
// beyond an end (a float step beyond, far beyond, infinite; NaN at the low
// end) arrives exactly as the end converts, and normalisation keeps it there.
// A limit wider or narrower than the row's range, in the fill or in the
// renderers' normalisation, fails here. (The brightness bounds are opened
// wide, so that neither end crosses the other.)
TEST_F(SettingsFill, ValuesAtAndBeyondEachRangeArriveAtTheConvertedEnd) {
    const double inf = std::numeric_limits<double>::infinity();
    set(PARAM_LOWER_BRIGHTNESS, 0);
    set(PARAM_UPPER_BRIGHTNESS, 1600);
    for (const std::int32_t index : SETTINGS_PARAMS) {
        const ParamRow& row = param_row(index);
        if (row.kind != PF_Param_FLOAT_SLIDER) continue;
        SCOPED_TRACE(std::string(row.ui_name));
        const double low = row.valid_min, high = row.valid_max;
        const double lows[] = {low, std::nextafter(row.valid_min, -HUGE_VALF), low - 1 - std::fabs(low), -inf,
                               std::numeric_limits<double>::quiet_NaN()};
        const double highs[] = {high, std::nextafter(row.valid_max, HUGE_VALF), high + 1 + std::fabs(high),
                                inf};
        for (const double v : lows) {
            set_unchecked(index, v);
            const RenderSettings s = read();
            EXPECT_EQ(member_bits(row, s), member_bits(row, LOWEST_SETTINGS)) << v;
            EXPECT_EQ(member_bits(row, normalised_settings(s)), member_bits(row, LOWEST_SETTINGS)) << v;
        }
        for (const double v : highs) {
            set_unchecked(index, v);
            const RenderSettings s = read();
            EXPECT_EQ(member_bits(row, s), member_bits(row, HIGHEST_SETTINGS)) << v;
            EXPECT_EQ(member_bits(row, normalised_settings(s)), member_bits(row, HIGHEST_SETTINGS)) << v;
        }
        set(index, index == PARAM_LOWER_BRIGHTNESS   ? 0
                   : index == PARAM_UPPER_BRIGHTNESS ? 1600
                                                     : row.dephault);
    }
}

// A value the host accepts for the row that differs from its default.
double other_value(const ParamRow& row) {
    switch (row.kind) {
    case PF_Param_POPUP: return row.num_choices;
    case PF_Param_CHECKBOX: return row.dephault != 0 ? 0 : 1;
    default: return row.dephault != row.valid_max ? row.valid_max : row.valid_min;
    }
}

// Each row fills the member it names and no other: a value other than the
// default changes that member, and every other row's member keeps what the
// defaults give.
TEST_F(SettingsFill, EachRowFillsTheMemberItNamesAndNoOther) {
    const RenderSettings defaults = read();
    for (const std::int32_t index : SETTINGS_PARAMS) {
        const ParamRow& row = param_row(index);
        SCOPED_TRACE(std::string(row.ui_name));
        offline::OfflineHost fresh;
        ASSERT_EQ(offline::load_parameters(fresh, EffectMain), 0);
        offline::set_param_value(fresh, index, other_value(row));
        const RenderSettings s = ReadRenderSettings(offline::make_in_data(fresh));
        EXPECT_FALSE(same_member(row, s, defaults));
        for (const std::int32_t other : SETTINGS_PARAMS) {
            if (other == index) continue;
            EXPECT_TRUE(same_member(param_row(other), s, defaults)) << param_row(other).ui_name;
        }
    }
}

// The ends of every slider's valid range arrive finite and in order.
TEST_F(SettingsFill, SliderRangeEndsConvertInOrder) {
    for (const std::int32_t index : SETTINGS_PARAMS) {
        const ParamRow& row = param_row(index);
        if (row.kind != PF_Param_FLOAT_SLIDER) continue;
        SCOPED_TRACE(std::string(row.ui_name));
        set(index, row.valid_min);
        const RenderSettings low = read();
        set(index, row.valid_max);
        const RenderSettings high = read();
        std::visit(
            [&](auto member) {
                if constexpr (!std::is_same_v<decltype(member), std::monostate>) {
                    EXPECT_LT(low.*member, high.*member);
                    EXPECT_TRUE(std::isfinite(float(low.*member)) && std::isfinite(float(high.*member)));
                }
            },
            row.member);
        set(index, row.dephault);
    }
}

// The renderers' normalisation changes nothing the host can send: every end
// of every valid range, and every choice, comes through as the fill stored it.
// (With the brightness bounds open wide, so that neither end crosses the
// other: crossed bounds are put in order, which is the one change.)
TEST_F(SettingsFill, NormalisationKeepsEveryValueTheHostCanSend) {
    set(PARAM_LOWER_BRIGHTNESS, 0);
    set(PARAM_UPPER_BRIGHTNESS, 1600);
    for (const std::int32_t index : SETTINGS_PARAMS) {
        const ParamRow& row = param_row(index);
        SCOPED_TRACE(std::string(row.ui_name));
        std::vector<double> values;
        if (row.kind == PF_Param_FLOAT_SLIDER) values = {row.valid_min, row.valid_max, row.dephault};
        if (row.kind == PF_Param_POPUP)
            for (int c = 1; c <= row.num_choices; ++c) values.push_back(c);
        if (row.kind == PF_Param_CHECKBOX) values = {0, 1};
        for (const double v : values) {
            set(index, v);
            const RenderSettings s = read();
            EXPECT_TRUE(same_member(row, normalised_settings(s), s)) << v;
        }
        set(index, index == PARAM_LOWER_BRIGHTNESS   ? 0
                   : index == PARAM_UPPER_BRIGHTNESS ? 1600
                                                     : row.dephault);
    }
}

TEST_F(SettingsFill, ReadsEverySettingInOrderEachCheckedInAfterItsCheckOut) {
    read();
    const auto calls = offline::recorded_calls(host);
    ASSERT_EQ(calls.size(), 2u * SETTINGS_PARAM_COUNT);
    for (std::size_t i = 0; i < SETTINGS_PARAM_COUNT; ++i) {
        EXPECT_EQ(calls[2 * i].kind, CallKind::CheckoutParam);
        EXPECT_EQ(calls[2 * i].index, SETTINGS_PARAMS[i]);
        EXPECT_EQ(calls[2 * i + 1].kind, CallKind::CheckinParam);
        EXPECT_EQ(calls[2 * i + 1].index, SETTINGS_PARAMS[i]);
        if (i) {
            EXPECT_LT(SETTINGS_PARAMS[i - 1], SETTINGS_PARAMS[i]);
        }
        const std::int32_t kind = param_row(SETTINGS_PARAMS[i]).kind;
        EXPECT_TRUE(kind == PF_Param_FLOAT_SLIDER || kind == PF_Param_POPUP || kind == PF_Param_CHECKBOX);
    }
}

TEST_F(SettingsFill, FailingCheckOutReturnsItsCodeWithEverythingEarlierCheckedIn) {
    for (std::size_t failing = 0; failing < SETTINGS_PARAM_COUNT; ++failing) {
        SCOPED_TRACE(SETTINGS_PARAMS[failing]);
        host.faults.fail_checkout_param = SETTINGS_PARAMS[failing];
        host.faults.checkout_param_error = 1000 + std::int32_t(failing);
        clear_calls(host);
        try {
            ReadRenderSettings(offline::make_in_data(host));
            ADD_FAILURE() << "no error raised";
        } catch (const HostError& e) {
            EXPECT_EQ(e.code, 1000 + std::int32_t(failing));
        }
        const auto calls = offline::recorded_calls(host);
        ASSERT_EQ(calls.size(), 2 * failing + 1);  // the failed one is not checked in
        for (std::size_t i = 0; i < failing; ++i) EXPECT_EQ(calls[2 * i + 1].kind, CallKind::CheckinParam);
        EXPECT_EQ(calls.back().kind, CallKind::CheckoutParam);
        EXPECT_EQ(calls.back().index, SETTINGS_PARAMS[failing]);
    }
}

}  // namespace
}  // namespace lumatrail
