// Presets read straight through load_preset, and the range checks they share
// with --set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "tests/support/effect_host.h"
#include "tools/lumatrail/param_values.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
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
    void load(const std::string& text) {
        std::ofstream(file) << text;
        load_preset(host, file.string());
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
        const std::string name = slug(p.name);
        for (const auto& [end, outward] :
             {std::pair{p.declared.u.fs_d.valid_min, -std::numeric_limits<float>::infinity()},
              std::pair{p.declared.u.fs_d.valid_max, std::numeric_limits<float>::infinity()}}) {
            const std::string at_end = typed(end), beyond = typed(std::nextafter(end, outward));
            SCOPED_TRACE(p.name + " at " + at_end + ", beyond " + beyond);
            EXPECT_NO_THROW(apply_setting(host, name + "=" + at_end));
            EXPECT_EQ(value(i), double(end));
            apply_setting(
                host, name + "=" + typed((p.declared.u.fs_d.valid_min + p.declared.u.fs_d.valid_max) / 2));
            EXPECT_NO_THROW(load("{\"" + p.name + "\": " + at_end + "}"));
            EXPECT_EQ(value(i), double(end));
            EXPECT_THAT([&] { apply_setting(host, name + "=" + beyond); },
                        ThrowsMessage<std::invalid_argument>(HasSubstr("accepts values from")));
            EXPECT_THAT([&] { load("{\"" + name + "\": [[0, " + at_end + "], [1, " + beyond + "]]}"); },
                        ThrowsMessage<ToolError>(HasSubstr("accepts values from")));
            EXPECT_EQ(value(i), double(end));  // left as it was
        }
    }
    EXPECT_GT(sliders, 20);
}

}  // namespace
}  // namespace lumatrail::tools
