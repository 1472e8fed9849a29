// Parameter setup as a host sees it: what add_param receives, row by row.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/parameters.h"
#include "offline/offline_host.h"

namespace lumatrail {
namespace {

// The declared controls, written out independently of the effect's own table.
struct Expected {
    std::int32_t index;
    std::int32_t kind;
    const char* name;
    double dephault;
    float valid_min, valid_max, slider_min, slider_max;
    const char* choices;
};

constexpr std::int32_t L = PF_Param_LAYER, C = PF_Param_CHECKBOX, P = PF_Param_POPUP,
                       F = PF_Param_FLOAT_SLIDER, G = PF_Param_GROUP_START,
                       E = PF_Param_GROUP_END;

const std::vector<Expected> EXPECTED = {
    {1, G, "Pixels", 0, 0, 0, 0, 0, nullptr},
    {2, P, "Direction", 1, 0, 0, 0, 0, "Horizontal|Vertical|Radial Out|Radial In"},
    {3, C, "Reverse Direction", 0, 0, 0, 0, 0, nullptr},
    {4, F, "Lower Brightness (%)", 8, 0, 1600, 0, 100, nullptr},
    {5, F, "Upper Brightness (%)", 100, 0, 1600, 0, 100, nullptr},
    {6, F, "Streak Length (px)", 640, 1, 32768, 1, 2000, nullptr},
    {7, F, "Length Variation (%)", 35, 0, 100, 0, 100, nullptr},
    {8, F, "Random Seed", 42, 0, 1000000, 0, 1000, nullptr},
    {9, F, "Amount (%)", 100, 0, 100, 0, 100, nullptr},
    {10, C, "Preserve Input Alpha", 0, 0, 0, 0, 0, nullptr},
    {11, E, "", 0, 0, 0, 0, 0, nullptr},
    {12, G, "Animated Sweep", 0, 0, 0, 0, 0, nullptr},
    {13, P, "Sweep Mode", 1, 0, 0, 0, 0, "Off|Pass Through|Build Up|Clear Away"},
    {14, P, "Sweep Direction", 1, 0, 0, 0, 0, "Left to Right|Right to Left|Top to Bottom|Bottom to Top"},
    {15, F, "Sweep Position (%)", 50, 0, 100, 0, 100, nullptr},
    {16, F, "Band Width (%)", 30, 0, 100, 0, 100, nullptr},
    {17, F, "Edge Feather (%)", 50, 0, 100, 0, 100, nullptr},
    {18, E, "", 0, 0, 0, 0, 0, nullptr},
    {19, G, "Mask Source", 0, 0, 0, 0, 0, nullptr},
    {20, P, "Mask Mode", 1, 0, 0, 0, 0, "Off - Full Frame Sort|Sort Inside Mask|Stretch From Mask"},
    {21, L, "Mask Layer", 0, 0, 0, 0, 0, nullptr},
    {22, P, "Mask Channel", 1, 0, 0, 0, 0, "Alpha|Luminance"},
    {23, C, "Invert Mask", 0, 0, 0, 0, 0, nullptr},
    {24, F, "Mask Threshold (%)", 1, 0, 100, 0, 100, nullptr},
    {25, F, "Stretch Tip Feather (%)", 15, 0, 100, 0, 100, nullptr},
    {26, C, "Show Mask", 0, 0, 0, 0, 0, nullptr},
    {27, E, "", 0, 0, 0, 0, 0, nullptr},
    {28, G, "Streams and Particles", 0, 0, 0, 0, 0, nullptr},
    {29, P, "Render Mode", 1, 0, 0, 0, 0, "Classic Lines|Force Lines|Particles"},
    {30, P, "Composite", 1, 0, 0, 0, 0, "Over Original|Streams Only"},
    {31, F, "Emitter Spacing (px)", 12, 1, 256, 1, 64, nullptr},
    {32, F, "Stream Size (px)", 3, 0, 128, 0, 24, nullptr},
    {33, F, "Lifespan (sec)", 2.5, 0.05f, 12, 0.05f, 6, nullptr},
    {34, F, "Launch Speed (px/sec)", 260, 0, 4000, 0, 1000, nullptr},
    {35, F, "Trail Length (sec)", 1.2000000476837158, 0, 12, 0, 6, nullptr},
    {36, F, "Particle Count", 1500, 0, 12000, 0, 4000, nullptr},
    {37, F, "Birth Size (%)", 100, 0, 800, 0, 300, nullptr},
    {38, F, "End Size (%)", 0, 0, 800, 0, 300, nullptr},
    {39, F, "Growth Curve", 1, 0.1f, 8, 0.1f, 4, nullptr},
    {40, F, "Stream Opacity (%)", 85, 0, 100, 0, 100, nullptr},
    {41, C, "Pre-roll Particles", 1, 0, 0, 0, 0, nullptr},
    {42, E, "", 0, 0, 0, 0, 0, nullptr},
    {43, G, "Forces", 0, 0, 0, 0, 0, nullptr},
    {44, F, "Launch Spread (deg)", 0, 0, 360, 0, 180, nullptr},
    {45, F, "Center X (%)", 50, -200, 300, -200, 100, nullptr},
    {46, F, "Center Y (%)", 50, -200, 300, -200, 100, nullptr},
    {47, F, "Attractor Strength", 0, 0, 4000, 0, 1500, nullptr},
    {48, F, "Repeller X (%)", 50, -200, 300, -200, 100, nullptr},
    {49, F, "Repeller Y (%)", 50, -200, 300, -200, 100, nullptr},
    {50, F, "Repeller Strength", 0, 0, 4000, 0, 1500, nullptr},
    {51, F, "Force Radius (px)", 600, 1, 12000, 1, 2000, nullptr},
    {52, F, "Wind Direction (deg)", 0, -3600, 3600, -3600, 360, nullptr},
    {53, F, "Wind Strength", 0, 0, 4000, 0, 1500, nullptr},
    {54, F, "Random Force", 0, 0, 4000, 0, 1500, nullptr},
    {55, F, "Random Scale (px)", 180, 4, 4000, 4, 600, nullptr},
    {56, F, "Random Evolution", 0.3499999940395355, 0, 10, 0, 3, nullptr},
    {57, F, "Drag", 0.20000000298023224, 0, 20, 0, 5, nullptr},
    {58, E, "", 0, 0, 0, 0, 0, nullptr},
};

// What add_param received, copied at the time of the call.
struct AddParamLog {
    std::vector<PF_ParamDef> defs;
    std::vector<std::string> strings;  // popup choices or checkbox text
    std::vector<PF_ParamIndex> indices;
    std::vector<PF_ProgPtr> refs;
};

PF_Err log_add_param(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    auto& log = *static_cast<AddParamLog*>(ref);
    log.refs.push_back(ref);
    log.indices.push_back(index);
    log.defs.push_back(*def);
    const char* s = def->param_type == PF_Param_POPUP      ? def->u.pd.u.namesptr
                    : def->param_type == PF_Param_CHECKBOX ? def->u.bd.u.nameptr
                                                           : nullptr;
    log.strings.push_back(s ? std::string(s) : std::string("<null>"));
    return PF_Err_NONE;
}

// The record a host should receive for one expected row: cleared, then filled.
PF_ParamDef expected_def(const Expected& e) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = e.kind;
    d.uu.id = e.index;
    std::strcpy(d.name, e.name);
    if (e.kind == F) {
        d.u.fs_d.value = e.dephault;
        d.u.fs_d.dephault = float(e.dephault);
        d.u.fs_d.valid_min = e.valid_min;
        d.u.fs_d.valid_max = e.valid_max;
        d.u.fs_d.slider_min = e.slider_min;
        d.u.fs_d.slider_max = e.slider_max;
        d.u.fs_d.precision = 2;
    } else if (e.kind == P) {
        std::int16_t n = 1;
        for (const char* c = e.choices; *c; ++c) n = std::int16_t(n + (*c == '|'));
        d.u.pd.num_choices = n;
        d.u.pd.dephault = 1;
        d.u.pd.value = 1;
    } else if (e.kind == C) {
        d.u.bd.value = std::int32_t(e.dephault);
        d.u.bd.dephault = std::uint8_t(e.dephault);
    }
    return d;
}

TEST(ParameterSetup, DeclaresEveryRowAsTheHostExpects) {
    AddParamLog log;
    PF_InData in{};
    in.effect_ref = &log;
    in.inter.add_param = log_add_param;
    PF_OutData out{};
    ASSERT_EQ(EffectMain(PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(out.num_params, 59);
    ASSERT_EQ(log.defs.size(), EXPECTED.size());
    for (std::size_t i = 0; i < EXPECTED.size(); ++i) {
        const Expected& e = EXPECTED[i];
        SCOPED_TRACE(std::string("row ") + std::to_string(e.index) + " " + e.name);
        EXPECT_EQ(log.indices[i], -1);
        EXPECT_EQ(log.refs[i], &log);
        PF_ParamDef got = log.defs[i];
        // Pointers are compared by their text; everything else byte for byte.
        if (e.kind == P) {
            EXPECT_EQ(log.strings[i], e.choices);
            got.u.pd.u.namesptr = nullptr;
        } else if (e.kind == C) {
            EXPECT_EQ(log.strings[i], "");
            got.u.bd.u.nameptr = nullptr;
        }
        const PF_ParamDef want = expected_def(e);
        EXPECT_EQ(got.param_type, want.param_type);
        EXPECT_EQ(got.uu.id, want.uu.id);
        EXPECT_STREQ(got.name, want.name);
        if (e.kind == F) {
            EXPECT_EQ(got.u.fs_d.value, want.u.fs_d.value);
            EXPECT_EQ(got.u.fs_d.valid_min, want.u.fs_d.valid_min);
            EXPECT_EQ(got.u.fs_d.valid_max, want.u.fs_d.valid_max);
            EXPECT_EQ(got.u.fs_d.slider_min, want.u.fs_d.slider_min);
            EXPECT_EQ(got.u.fs_d.slider_max, want.u.fs_d.slider_max);
        }
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "cleared members must stay zero";
    }
}

TEST(ParameterSetup, SingleDefaultsAreWidenedNotRetyped) {
    for (const auto& [index, narrow] : {std::pair{PARAM_TRAIL_LENGTH, 1.2f},
                                        std::pair{PARAM_RANDOM_EVOLUTION, 0.35f},
                                        std::pair{PARAM_DRAG, 0.2f}}) {
        const PF_ParamDef d = make_param_def(index);
        EXPECT_EQ(d.u.fs_d.value, double(narrow));
        EXPECT_EQ(d.u.fs_d.dephault, narrow);
    }
    EXPECT_EQ(make_param_def(PARAM_TRAIL_LENGTH).u.fs_d.value, 1.2000000476837158);
    EXPECT_NE(make_param_def(PARAM_TRAIL_LENGTH).u.fs_d.value, 1.2);
}

TEST(ParameterSetup, OnlyPreRollDefaultsOn) {
    for (std::int32_t i = 1; i < PARAM_COUNT; ++i) {
        const PF_ParamDef d = make_param_def(i);
        if (d.param_type == PF_Param_CHECKBOX) {
            EXPECT_EQ(d.u.bd.value, i == PARAM_PREROLL_PARTICLES ? 1 : 0) << d.name;
        }
    }
}

TEST(ParameterSetup, HostRejectingTheKthCallSeesExactlyKCalls) {
    for (int k : {1, 2, 21, 57, 58}) {
        SCOPED_TRACE(k);
        offline::OfflineHost host;
        host.faults.fail_add_param_call = k;
        host.faults.add_param_error = -31;
        PF_InData in = offline::make_in_data(host);
        PF_OutData out{};
        out.num_params = 7;
        EXPECT_EQ(EffectMain(PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr, nullptr), -31);
        EXPECT_EQ(offline::count_calls(host, offline::CallKind::AddParam), std::size_t(k));
        EXPECT_EQ(out.num_params, 7);
    }
}

}  // namespace
}  // namespace lumatrail
