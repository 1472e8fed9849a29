// The checks the Windows test host applies to a module loaded under wine:
// they pass on the effect's own answers and name each wrong answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "host/effect_entry.h"
#include "host/effect_identity.h"
#include "host/parameters.h"
#include "offline/offline_host.h"
#include "offline/plugin_module.h"
#include "tests/support/effect_host.h"
#include "tools/windows_host/module_checks.h"

namespace lumatrail::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The effect's own registration, collected as the hosts collect it.
offline::Registration registered() { return offline::register_entry(PluginDataEntryFunction2, "test"); }

TEST(PropertyListProblems, NoneForTheSameBytes) {
    const std::vector<std::uint8_t> copy(PROPERTY_LIST.begin(), PROPERTY_LIST.end());
    EXPECT_TRUE(property_list_problems(copy).empty());
}

TEST(PropertyListProblems, NamesTheFirstDifferentByte) {
    std::vector<std::uint8_t> bytes(PROPERTY_LIST.begin(), PROPERTY_LIST.end());
    bytes[17] ^= 0x40;
    bytes[30] ^= 0x01;
    char expected[80];
    std::snprintf(expected, sizeof expected, "property list byte 17 is 0x%02X, expected 0x%02X", bytes[17],
                  PROPERTY_LIST[17]);
    EXPECT_THAT(property_list_problems(bytes), ElementsAre(std::string(expected)));
}

TEST(PropertyListProblems, NamesBothLengthsWhenCut) {
    const std::span<const std::uint8_t> cut(PROPERTY_LIST.data(), PROPERTY_LIST.size() - 2);
    EXPECT_THAT(property_list_problems(cut),
                ElementsAre("property list is " + std::to_string(PROPERTY_LIST.size() - 2) +
                            " bytes, expected " + std::to_string(PROPERTY_LIST.size())));
    EXPECT_EQ(property_list_problems({}).size(), 1u);
}

TEST(RegistrationProblems, NoneForTheEffectsOwnRegistration) {
    EXPECT_TRUE(registration_problems(registered()).empty());
}

TEST(RegistrationProblems, NamesEachWrongValue) {
    offline::Registration r = registered();
    r.entry_point = "effectMain";
    r.kind = 0x65464B55;
    r.api_minor = 28;
    EXPECT_THAT(registration_problems(r),
                ElementsAre("registered entry point is \"effectMain\", expected \"EffectMain\"",
                            "registered kind is 0x65464B55, expected 0x65464B54",
                            "registered interface minor version is 28, expected 29"));
}

TEST(AboutProblems, NoneForTheEffectsAboutText) {
    PF_OutData out{};
    ASSERT_EQ(about(out), PF_Err_NONE);
    EXPECT_TRUE(about_problems(out).empty());
}

TEST(AboutProblems, ReportsAChangedOrUnterminatedText) {
    PF_OutData out{};
    ASSERT_EQ(about(out), PF_Err_NONE);
    out.return_msg[10] = '2';
    ASSERT_EQ(about_problems(out).size(), 1u);
    EXPECT_THAT(about_problems(out)[0], HasSubstr("About text is \""));

    std::memset(out.return_msg, 'x', sizeof out.return_msg);
    EXPECT_THAT(about_problems(out), ElementsAre("About text is not zero-terminated"));
}

TEST(GlobalSetupProblems, NoneForTheEffectsGlobalSetup) {
    PF_OutData out{};
    ASSERT_EQ(global_setup(out), PF_Err_NONE);
    EXPECT_TRUE(global_setup_problems(out).empty());
}

TEST(GlobalSetupProblems, NamesTheWrongWord) {
    PF_OutData out{};
    ASSERT_EQ(global_setup(out), PF_Err_NONE);
    out.out_flags2 &= ~PF_OutFlag2_SUPPORTS_SMART_RENDER;
    EXPECT_THAT(global_setup_problems(out),
                ElementsAre("global setup out_flags2 is 0x08001008, expected 0x08001408"));
    out = {};
    EXPECT_EQ(global_setup_problems(out).size(), 3u);
}

// The offline host after the effect's own parameter setup.
using ParameterProblems = testing::EffectHostTest;

TEST_F(ParameterProblems, NoneForTheEffectsOwnDeclaration) { EXPECT_TRUE(parameter_problems(host).empty()); }

TEST_F(ParameterProblems, ReportsAMissingParameter) {
    host.params.pop_back();
    EXPECT_THAT(parameter_problems(host),
                ElementsAre("parameter setup declared " + std::to_string(PARAM_COUNT - 1) +
                            " parameters (input layer included), expected " + std::to_string(PARAM_COUNT)));
}

TEST_F(ParameterProblems, NamesEachWrongField) {
    host.params[PARAM_STREAK_LENGTH].declared.u.fs_d.valid_max = 32767;
    host.params[PARAM_DIRECTION].choices_text = "Horizontal|Vertical|Radial In|Radial Out";
    host.params[PARAM_SHOW_MASK].name = "Show Masks";
    host.params[PARAM_INVERT_MASK].declared.u.bd.value = 1;
    EXPECT_THAT(parameter_problems(host),
                ElementsAre("parameter 2 choices is \"Horizontal|Vertical|Radial In|Radial Out\", "
                            "expected \"Horizontal|Vertical|Radial Out|Radial In\"",
                            "parameter 6 valid maximum is 32767, expected 32768",
                            "parameter 23 value is 1, expected 0",
                            "parameter 26 name is \"Show Masks\", expected \"Show Mask\""));
}

TEST_F(ParameterProblems, ReportsAWrongKind) {
    host.params[PARAM_MASK_LAYER].declared.param_type = PF_Param_POPUP;
    EXPECT_THAT(parameter_problems(host), ElementsAre("parameter 21 is a popup, expected a layer"));
}

}  // namespace
}  // namespace lumatrail::tools
