// Tests that start from an offline host holding the effect's own parameter
// list, as parameter setup through EffectMain declares it.
#pragma once

#include <gtest/gtest.h>

#include "host/host_contract.h"
#include "offline/offline_host.h"

namespace lumatrail::testing {

struct EffectHostTest : ::testing::Test {
    offline::OfflineHost host;
    void SetUp() override { ASSERT_EQ(offline::load_parameters(host, EffectMain), PF_Err_NONE); }
};

}  // namespace lumatrail::testing
