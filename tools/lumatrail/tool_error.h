// Failures of the lumatrail program, each with the exit code it ends with.
#pragma once

#include <stdexcept>
#include <string>

namespace lumatrail::tools {

enum ExitCode : int {
    EXIT_INTERNAL = 1,
    EXIT_USAGE = 2,
    EXIT_INPUT = 3,         // an input is missing or unreadable
    EXIT_OUTPUT = 4,        // an output cannot be written
    EXIT_EFFECT = 5,        // the effect reported an error
    EXIT_CANCELLED = 130,   // Ctrl-C (SIGINT)
    EXIT_TERMINATED = 143,  // SIGTERM
};

// Seen by every part of the program: a failure thrown in the media module
// (tools/lumatrail/media_commands.h) is caught by main in the executable.
struct __attribute__((visibility("default"))) ToolError : std::runtime_error {
    int exit_code;
    ToolError(int code, const std::string& message) : std::runtime_error(message), exit_code(code) {}
};

// A mistake in the arguments: exit 2.
[[noreturn]] inline void usage_error(const std::string& message) { throw ToolError(EXIT_USAGE, message); }

}  // namespace lumatrail::tools
