// Parameter setup as a host sees it: what add_param receives, row by row.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/parameters.h"
#include "offline/offline_host.h"
#include "tests/support/sha256.h"

namespace lumatrail {
namespace {

constexpr const char* STORED_CONTROLS_DIGEST =
    "747579b8c5088d440b7aa19c2efc87ebf027858e3ba25985735c8713348f8f5d";

// What add_param received, copied at the time of the call.
struct AddParamLog {
    std::vector<PF_ParamDef> defs;
    std::vector<std::vector<std::uint8_t>> raw;  // every byte, padding included
    std::vector<std::string> strings;            // popup choices or checkbox text
    std::vector<PF_ParamIndex> indices;
    std::vector<PF_ProgPtr> refs;
};

PF_Err log_add_param(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    auto& log = *static_cast<AddParamLog*>(ref);
    log.refs.push_back(ref);
    log.indices.push_back(index);
    log.defs.push_back(*def);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(def);
    log.raw.emplace_back(bytes, bytes + sizeof *def);
    const char* s = def->param_type == PF_Param_POPUP      ? def->u.pd.u.namesptr
                    : def->param_type == PF_Param_CHECKBOX ? def->u.bd.u.nameptr
                                                           : nullptr;
    log.strings.push_back(s ? std::string(s) : std::string("<null>"));
    return PF_Err_NONE;
}

AddParamLog declare_into_log() {
    AddParamLog log;
    PF_InData in{};
    in.effect_ref = &log;
    in.inter.add_param = log_add_param;
    PF_OutData out{};
    EXPECT_EQ(EffectMain(PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(out.num_params, PARAM_COUNT);
    return log;
}

// The first 58 controls are stored in users' projects by index, identifier,
// kind, range and default: every byte the host receives for them, with the
// choice and checkbox texts in place of their pointers, is frozen here as one
// digest. New controls go after them and leave the digest as it is; a change
// to a stored control breaks projects and must not happen.
TEST(ParameterSetup, StoredControlsAreDeclaredExactlyAsBefore) {
    constexpr std::size_t STORED_CONTROLS = 58;
    const AddParamLog log = declare_into_log();
    ASSERT_GE(log.defs.size(), STORED_CONTROLS);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < STORED_CONTROLS; ++i) {
        EXPECT_EQ(log.indices[i], -1);  // appended in order
        EXPECT_EQ(log.refs[i], &log);
        PF_ParamDef def;
        std::memcpy(&def, log.raw[i].data(), sizeof def);
        if (def.param_type == PF_Param_POPUP) def.u.pd.u.namesptr = nullptr;
        if (def.param_type == PF_Param_CHECKBOX) def.u.bd.u.nameptr = nullptr;
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&def);
        bytes.insert(bytes.end(), raw, raw + sizeof def);
        bytes.insert(bytes.end(), log.strings[i].begin(), log.strings[i].end());
        bytes.push_back(0);
    }
    EXPECT_EQ(testing::sha256_hex(bytes), STORED_CONTROLS_DIGEST);
}

// What any row added to the table must satisfy for a host to accept it.
TEST(ParameterTable, EveryRowIsDeclarable) {
    int open_groups = 0;
    for (const ParamRow& row : PARAM_TABLE) {
        SCOPED_TRACE(std::to_string(row.index) + " " + std::string(row.ui_name));
        EXPECT_LE(row.ui_name.size(), std::size_t(PF_MAX_EFFECT_PARAM_NAME_LEN));
        EXPECT_EQ(row.ui_name.empty(), row.kind == PF_Param_GROUP_END);
        switch (row.kind) {
        case PF_Param_FLOAT_SLIDER:
            EXPECT_LE(row.valid_min, row.slider_min);
            EXPECT_LT(row.slider_min, row.slider_max);
            EXPECT_LE(row.slider_max, row.valid_max);
            EXPECT_TRUE(row.valid_min <= row.dephault && row.dephault <= row.valid_max);
            break;
        case PF_Param_POPUP:
            EXPECT_GE(row.num_choices, 2);
            EXPECT_TRUE(row.dephault >= 1 && row.dephault <= row.num_choices);
            EXPECT_EQ(row.choices.find("||"), std::string_view::npos);
            break;
        case PF_Param_CHECKBOX: EXPECT_TRUE(row.dephault == 0 || row.dephault == 1); break;
        case PF_Param_GROUP_START: ++open_groups; break;
        case PF_Param_GROUP_END: EXPECT_GE(--open_groups, 0) << "a group end without its start"; break;
        default: break;
        }
        // Values the effect reads are settings; layers and groups are not.
        const bool value =
            row.kind == PF_Param_FLOAT_SLIDER || row.kind == PF_Param_POPUP || row.kind == PF_Param_CHECKBOX;
        EXPECT_EQ(row.conversion != Conversion::None, value);
    }
    EXPECT_EQ(open_groups, 0);
}

// Two rows never fill the same member.
TEST(ParameterTable, EachMemberIsFilledByOneRow) {
    for (const ParamRow& a : PARAM_TABLE) {
        if (a.conversion == Conversion::None) continue;
        for (const ParamRow& b : PARAM_TABLE) {
            if (a.index >= b.index) continue;
            EXPECT_NE(a.member, b.member) << a.ui_name << " and " << b.ui_name;
        }
    }
}

TEST(ParameterSetup, SingleDefaultsAreWidenedNotRetyped) {
    for (const auto& [index, narrow] :
         {std::pair{PARAM_TRAIL_LENGTH, 1.2f}, std::pair{PARAM_RANDOM_EVOLUTION, 0.35f},
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
