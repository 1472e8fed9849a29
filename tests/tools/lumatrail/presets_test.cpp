// Presets read straight through load_preset, and the range checks they share
// with --set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "host/parameters.h"
#include "tests/support/effect_host.h"
#include "offline/param_values.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::ThrowsMessage;

// A float as a user types it: its shortest decimal.
std::string typed(float v) {
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

struct Presets : testing::EffectHostTest {
    fs::path file;
    void SetUp() override {
        EffectHostTest::SetUp();
        file = fs::path(::testing::TempDir()) /
               ("lumatrail_preset_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
    }
    void TearDown() override { fs::remove(file); }
    std::vector<std::string> load(const std::string& text) {
        std::ofstream(file) << text;
        return load_preset(host, file.string());
    }
    double value(std::size_t index) const { return host.params[index].keys.front().value; }
};

// The host keeps a slider's range in single precision: every end, typed as
// printed, is accepted through --set and through a preset, and kept as that
// very end; the next float outward is refused both ways.
TEST_F(Presets, EveryEndOfEverySliderRangeIsAcceptedAndNothingBeyondIt) {
    int sliders = 0;
    for (std::size_t i = 0; i < host.params.size(); ++i) {
        const offline::OfflineParam& p = host.params[i];
        if (p.declared.param_type != PF_Param_FLOAT_SLIDER) continue;
        ++sliders;
        const std::string name = offline::slug(p.name);
        for (const auto& [end, outward] :
             {std::pair{p.declared.u.fs_d.valid_min, -std::numeric_limits<float>::infinity()},
              std::pair{p.declared.u.fs_d.valid_max, std::numeric_limits<float>::infinity()}}) {
            const std::string at_end = typed(end), beyond = typed(std::nextafter(end, outward));
            SCOPED_TRACE(p.name + " at " + at_end + ", beyond " + beyond);
            EXPECT_NO_THROW(offline::apply_setting(host, name + "=" + at_end));
            EXPECT_EQ(value(i), double(end));
            offline::apply_setting(
                host, name + "=" + typed((p.declared.u.fs_d.valid_min + p.declared.u.fs_d.valid_max) / 2));
            EXPECT_NO_THROW(load("{\"" + p.name + "\": " + at_end + "}"));
            EXPECT_EQ(value(i), double(end));
            EXPECT_THAT([&] { offline::apply_setting(host, name + "=" + beyond); },
                        ThrowsMessage<std::invalid_argument>(HasSubstr("accepts values from")));
            EXPECT_THAT([&] { load("{\"" + name + "\": [[0, " + at_end + "], [1, " + beyond + "]]}"); },
                        ThrowsMessage<ToolError>(HasSubstr("accepts values from")));
            EXPECT_EQ(value(i), double(end));  // left as it was
        }
    }
    EXPECT_GT(sliders, 20);
}

// A saved preset writes each value as the shortest text of the float the
// host keeps, and reads back to the very same values.
TEST_F(Presets, SavedValuesAreTheirShortestTextAndReadBackTheSame) {
    offline::set_param_value(host, "Trail Length (sec)", double(1.2f));
    offline::set_param_value(host, "Drag", double(0.1f));
    save_preset(host, file.string());
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, HasSubstr("\"Trail Length (sec)\": 1.2,"));
    EXPECT_THAT(text, HasSubstr("\"Drag\": 0.1"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("0000")));
    std::vector<float> saved;
    for (offline::OfflineParam& p : host.params)
        for (offline::ParamKey& k : p.keys) {
            saved.push_back(float(k.value));
            k.value = -12345.0;
        }
    EXPECT_THAT(load_preset(host, file.string()), IsEmpty());
    std::size_t i = 0;
    for (const offline::OfflineParam& p : host.params)
        for (const offline::ParamKey& k : p.keys) EXPECT_EQ(float(k.value), saved[i++]) << p.name;
}

TEST_F(Presets, TheMaskLayerIsGivenAsAFileNotAValue) {
    EXPECT_THAT([&] { load(R"({"Drag": 2, "Mask Layer": "matte.png"})"); },
                ThrowsMessage<ToolError>(HasSubstr("the preset \"" + file.string() +
                                                   "\": \"Mask Layer\" is a layer and holds no value; give "
                                                   "the mask with --mask FILE")));
}

// A control named twice (by UI name and slug, or the same key again) is a
// warning for the caller to print; the value last in the file is used.
TEST_F(Presets, AControlNamedTwiceWarnsAndTheLastInTheFileWins) {
    const struct {
        const char* text;
        double drag;
        std::string warning;
    } cases[] = {
        {R"({"Drag": 1, "drag": 2})", 2, "sets \"Drag\" twice; the last value, 2, is used"},
        {R"({"drag": 2, "Drag": 1.5})", 1.5, "sets \"Drag\" twice; the last value, 1.5, is used"},
        {R"({"drag": 4, "amount": 50, "drag": 3, "Drag": [[0, 1], [1, 6]]})", 1,
         "sets \"Drag\" 3 times; the last value, [[0,1],[1,6]], is used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_THAT(load(c.text), ElementsAre("the preset \"" + file.string() + "\" " + c.warning));
        EXPECT_EQ(value(PARAM_DRAG), c.drag);
    }
    EXPECT_THAT(load(R"({"Drag": 1, "amount": 50, "Direction": "Vertical"})"), IsEmpty());
}

}  // namespace
}  // namespace lumatrail::tools
