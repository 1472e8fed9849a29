// What a call of the lumatrail tool's code throws, for tests of its messages
// and exit codes.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

// The ToolError the call throws; a failure of the test when it throws none.
inline ToolError failure_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const ToolError& e) {
        return e;
    }
    ADD_FAILURE() << "no ToolError was thrown";
    return ToolError(0, "");
}

}  // namespace lumatrail::tools
