// EffectMain's dispatch and the conversion of failures into host codes.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "host/effect_entry.h"

namespace lumatrail {
namespace {

PF_OutData patterned_out_data() {
    PF_OutData out;
    std::memset(&out, 0x5A, sizeof out);
    return out;
}

// Any callback reached during an ignored command fails the test.
PF_Err unexpected_add_param(PF_ProgPtr, PF_ParamIndex, PF_ParamDef*) {
    ADD_FAILURE() << "add_param called";
    return 1;
}
PF_Err unexpected_checkout(PF_ProgPtr, PF_ParamIndex, std::int32_t, std::int32_t, std::uint32_t,
                           PF_ParamDef*) {
    ADD_FAILURE() << "checkout_param called";
    return 1;
}
PF_Err unexpected_abort(PF_ProgPtr) {
    ADD_FAILURE() << "abort called";
    return 1;
}

TEST(Dispatch, CommandsWithoutWorkReturnZeroAndTouchNothing) {
    PF_InData in{};
    in.inter.add_param = unexpected_add_param;
    in.inter.checkout_param = unexpected_checkout;
    in.inter.abort = unexpected_abort;
    const PF_InData in_before = in;
    const PF_Cmd ignored[] = {2,  3,  5,  6,  7,  8,  9,  10, 12,   13, 14,        15,       16,
                              17, 18, 19, 20, 21, 22, 25, 26, 1000, -1, INT32_MIN, INT32_MAX};
    for (PF_Cmd cmd : ignored) {
        SCOPED_TRACE(cmd);
        PF_OutData out = patterned_out_data();
        const PF_OutData before = out;
        EXPECT_EQ(EffectMain(cmd, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
        EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
        EXPECT_EQ(std::memcmp(&in, &in_before, sizeof in), 0);
    }
}

TEST(Conversion, HostErrorReturnsItsCodeAndWritesNothing) {
    PF_OutData out = patterned_out_data();
    const PF_OutData before = out;
    EXPECT_EQ(run_guarded(&out, []() -> PF_Err { throw HostError{-1234}; }), -1234);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

TEST(Conversion, OutOfMemoryReturnsFourWithoutMessage) {
    PF_OutData out = patterned_out_data();
    const PF_OutData before = out;
    EXPECT_EQ(run_guarded(&out, []() -> PF_Err { throw std::bad_alloc(); }), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

TEST(Conversion, StandardExceptionShowsBoundedMessage) {
    PF_OutData out = patterned_out_data();
    out.out_flags = PF_OutFlag_NON_PARAM_VARY;
    const std::string long_text(300, 'x');
    EXPECT_EQ(run_guarded(&out, [&]() -> PF_Err { throw std::runtime_error(long_text); }), 516);
    const std::string msg(out.return_msg);
    EXPECT_EQ(msg.size(), 255u);
    EXPECT_EQ(msg, "Lumatrail: " + long_text.substr(0, 255 - 11));
    EXPECT_EQ(out.out_flags, PF_OutFlag_NON_PARAM_VARY | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

TEST(Conversion, OtherExceptionsReturn512AndWriteNothing) {
    PF_OutData out = patterned_out_data();
    const PF_OutData before = out;
    EXPECT_EQ(run_guarded(&out, []() -> PF_Err { throw 42; }), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

TEST(Conversion, SuccessPassesTheCommandsResult) {
    PF_OutData out{};
    EXPECT_EQ(run_guarded(&out, [] { return PF_Err{77}; }), 77);
}

// The handler surrounds the real dispatch: a failure raised inside a command
// (here from within the host's own add_param) comes back converted.
PF_Err add_param_throwing_message(PF_ProgPtr, PF_ParamIndex, PF_ParamDef*) {
    throw std::runtime_error("Canvas exceeds 128 megapixels");
}
PF_Err add_param_throwing_bad_alloc(PF_ProgPtr, PF_ParamIndex, PF_ParamDef*) { throw std::bad_alloc(); }

TEST(Conversion, EffectMainConvertsFailuresRaisedInsideACommand) {
    PF_InData in{};
    in.inter.add_param = add_param_throwing_message;
    PF_OutData out{};
    EXPECT_EQ(EffectMain(PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr, nullptr), 516);
    EXPECT_STREQ(out.return_msg, "Lumatrail: Canvas exceeds 128 megapixels");
    EXPECT_EQ(out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);

    in.inter.add_param = add_param_throwing_bad_alloc;
    PF_OutData quiet{};
    EXPECT_EQ(EffectMain(PF_Cmd_PARAMS_SETUP, &in, &quiet, nullptr, nullptr, nullptr), 4);
    EXPECT_STREQ(quiet.return_msg, "");
    EXPECT_EQ(quiet.out_flags, 0);
}

}  // namespace
}  // namespace lumatrail
