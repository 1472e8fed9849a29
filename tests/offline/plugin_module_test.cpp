// Loading and registering a module as the host does: the built module, and
// modules and registration entries that misbehave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "host/effect_identity.h"
#include "offline/offline_host.h"
#include "offline/plugin_module.h"

namespace lumatrail::offline {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

PF_Err register_twice(PF_PluginDataPtr context, PF_PluginDataCB2 callback, SPBasicSuite*, const char*,
                      const char*) {
    callback(context, "A", "a", "x", "Main", 1, 2, 3, 4, "u");
    callback(context, "B", "b", "y", "Main", 1, 2, 3, 4, "u");
    return PF_Err_NONE;
}

PF_Err register_with_nulls(PF_PluginDataPtr context, PF_PluginDataCB2 callback, SPBasicSuite*, const char*,
                           const char*) {
    return callback(context, nullptr, "", "Stylize", "Main", 7, 13, 29, -1, nullptr);
}

PF_Err refuse_registration(PF_PluginDataPtr, PF_PluginDataCB2, SPBasicSuite*, const char*, const char*) {
    return PF_Err_OUT_OF_MEMORY;
}

TEST(RegisterEntry, KeepsEveryValueAndTellsANullStringFromAnEmptyOne) {
    const Registration r = register_entry(register_with_nulls, "test");
    EXPECT_EQ(std::tie(r.name, r.match_name, r.category, r.entry_point, r.support_url),
              std::tuple("(null)", "", "Stylize", "Main", "(null)"));
    EXPECT_EQ(std::tie(r.kind, r.api_major, r.api_minor, r.reserved_info), std::tuple(7, 13, 29, -1));
}

TEST(RegisterEntry, RefusesAnErrorOrOtherThanOneRegistration) {
    EXPECT_THAT([] { register_entry(refuse_registration, "test"); },
                ThrowsMessage<std::runtime_error>(
                    HasSubstr("PluginDataEntryFunction2 returned " + std::to_string(PF_Err_OUT_OF_MEMORY))));
    EXPECT_THAT([] { register_entry(register_twice, "test"); },
                ThrowsMessage<std::runtime_error>(HasSubstr("called 2 times, expected once")));
}

TEST(OpenModule, RegistersTheBuiltModuleAndFindsItsEntryPoint) {
    PluginModule m = open_module(LUMATRAIL_MODULE, "test");
    EXPECT_EQ(m.registration.match_name, EFFECT_IDENTITY.match_name);
    EXPECT_EQ(m.registration.entry_point, "EffectMain");
    ASSERT_NE(m.effect_main, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(m.effect_main), find_export(m, "EffectMain"));
    OfflineHost host;
    PF_OutData out{};
    EXPECT_EQ(send_command(host, m.effect_main, PF_Cmd_ABOUT, out), PF_Err_NONE);
    EXPECT_THAT(out.return_msg, HasSubstr("Lumatrail"));
    close_module(m);
    EXPECT_EQ(m.handle, nullptr);
    EXPECT_EQ(m.effect_main, nullptr);
}

TEST(OpenModule, SaysWhyAModuleCannotBeUsed) {
    EXPECT_THAT(
        [] { load_module("/no-such-dir/Lumatrail.so"); },
        ThrowsMessage<std::runtime_error>(HasSubstr("cannot load the module \"/no-such-dir/Lumatrail.so\"")));
    // A library that loads but is no plug-in.
    EXPECT_THAT([] { open_module("libm.so.6", "test"); },
                ThrowsMessage<std::runtime_error>(HasSubstr("does not export PluginDataEntryFunction2")));
}

}  // namespace
}  // namespace lumatrail::offline
