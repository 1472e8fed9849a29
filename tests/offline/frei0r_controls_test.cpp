// The controls a frei0r host sees and their values in units: the positions
// ffmpeg's users rely on, the units convention at its fixed points, and every
// default back from its frei0r value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "host/parameters.h"
#include "offline/frei0r_controls.h"
#include "offline/frei0r_text.h"

namespace lumatrail::offline {
namespace {

TEST(Frei0rControls, PositionsAreTheOnesFfmpegCommandLinesUse) {
    const std::vector<std::int32_t> controls = frei0r_controls();
    ASSERT_EQ(controls.size(), 42u);
    // ffmpeg takes values by position: these must not move.
    for (const auto& [position, name] :
         std::vector<std::pair<std::size_t, std::string_view>>{{0, "Render Mode"},
                                                               {1, "Direction"},
                                                               {2, "Reverse Direction"},
                                                               {3, "Lower Brightness (%)"},
                                                               {5, "Streak Length (px)"},
                                                               {16, "Composite"},
                                                               {29, "Center X (%)"},
                                                               {36, "Wind Direction (deg)"},
                                                               {41, "Drag"}})
        EXPECT_EQ(param_row(controls[position]).ui_name, name) << position;
    for (const std::int32_t index : controls) {
        const std::int32_t kind = param_row(index).kind;
        EXPECT_TRUE(kind == PF_Param_FLOAT_SLIDER || kind == PF_Param_POPUP || kind == PF_Param_CHECKBOX);
        EXPECT_EQ(param_row(index).ui_name.find("Mask"), std::string_view::npos);
    }
}

TEST(Frei0rControls, PositionsAreShareOfTheFrameAnglesOfATurnTheRestOfTheSlidersTop) {
    const ParamRow &center_x = param_row(PARAM_CENTER_X), &wind = param_row(PARAM_WIND_DIRECTION),
                   &length = param_row(PARAM_STREAK_LENGTH);
    EXPECT_EQ(units_from_frei0r(center_x, 0.0), 0.0);
    EXPECT_EQ(units_from_frei0r(center_x, 0.5), 50.0);
    EXPECT_EQ(units_from_frei0r(center_x, 1.0), 100.0);
    EXPECT_EQ(units_from_frei0r(center_x, -1.5), -150.0);  // outside the frame is a valid position
    EXPECT_EQ(units_from_frei0r(center_x, -2.5), -200.0);  // then limited to the valid range
    EXPECT_EQ(units_from_frei0r(center_x, 1e300), 300.0);
    EXPECT_EQ(units_from_frei0r(wind, 0.25), 90.0);
    EXPECT_EQ(units_from_frei0r(wind, -1.0), -360.0);
    EXPECT_EQ(units_from_frei0r(wind, 11.0), 3600.0);
    EXPECT_EQ(units_from_frei0r(length, 0.0), 1.0);  // the valid minimum, not 0 px
    EXPECT_EQ(units_from_frei0r(length, 1.0), 2000.0);
    EXPECT_EQ(units_from_frei0r(length, -std::numeric_limits<double>::infinity()), 1.0);
    EXPECT_EQ(units_from_frei0r(length, std::numeric_limits<double>::infinity()), 32768.0);
    EXPECT_TRUE(std::isnan(units_from_frei0r(length, std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(frei0r_from_units(wind, 90.0), 0.25);
    EXPECT_EQ(frei0r_from_units(center_x, 50.0), 0.5);
    EXPECT_EQ(frei0r_from_units(length, 640.0), 0.32);

    // An editor's slider reaches every valid position and angle; the others keep the slider.
    const EditorRange x = editor_range(center_x), w = editor_range(wind), l = editor_range(length);
    EXPECT_TRUE(x.low == -200.0 && x.high == 300.0);
    EXPECT_TRUE(w.low == -3600.0 && w.high == 3600.0);
    EXPECT_TRUE(l.low == 1.0 && l.high == 2000.0);
}

// A default back from its frei0r value, and from the text the README and the
// explanations give of it, as ffmpeg's users type it.
TEST(Frei0rControls, EveryDefaultComesBackFromItsFrei0rValueAndItsText) {
    int sliders = 0;
    for (const std::int32_t index : frei0r_controls()) {
        const ParamRow& row = param_row(index);
        if (row.kind != PF_Param_FLOAT_SLIDER) continue;
        ++sliders;
        EXPECT_EQ(units_from_frei0r(row, frei0r_from_units(row, row.dephault)), double(row.dephault))
            << row.ui_name;
        const std::string text = frei0r_number_text(row, row.dephault);
        EXPECT_EQ(float(units_from_frei0r(row, std::strtod(text.c_str(), nullptr))), row.dephault)
            << row.ui_name << " " << text;
    }
    EXPECT_EQ(sliders, 34);
    EXPECT_EQ(frei0r_number_text(param_row(PARAM_LIFESPAN), 2.5), "0.41666667");
}

TEST(Frei0rText, SpansAndDefaultsInUnits) {
    EXPECT_EQ(frei0r_span_text(param_row(PARAM_CENTER_X)),
              "0 % to 100 % of the frame's width, left to right");
    EXPECT_EQ(frei0r_span_text(param_row(PARAM_REPELLER_Y)),
              "0 % to 100 % of the frame's height, top to bottom");
    EXPECT_EQ(frei0r_span_text(param_row(PARAM_WIND_DIRECTION)), "one turn, 0 deg to 360 deg");
    EXPECT_EQ(frei0r_span_text(param_row(PARAM_PARTICLE_COUNT)), "0 to 4000");
    EXPECT_EQ(frei0r_accepts_text(param_row(PARAM_STREAK_LENGTH)), "0.0005 to 16.384");
    EXPECT_EQ(frei0r_value_text(param_row(PARAM_STREAK_LENGTH), 640.0), "0.32 (640 px)");
    EXPECT_EQ(frei0r_value_text(param_row(PARAM_LAUNCH_SPEED), 260.0), "0.26 (260 px/sec)");
}

}  // namespace
}  // namespace lumatrail::offline
