// Option values: the bytes split at NUL into an argument vector for
// parse_command_line, and each piece through the parsers the options use on
// their own (rates, frame ranges, sizes, patterns, --set assignments). A
// rate that parses prints as text that parses to the same rate.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "offline/param_values.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/tool_error.h"

namespace {

using namespace lumatrail;

std::vector<std::string> split_at_nul(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back().push_back(char(data[i]));
    }
    return pieces;
}

void check_rate(const std::string& text) {
    const auto rate = tools::parse_frame_rate(text);
    if (!rate) return;
    fuzz::require(rate->num > 0 && rate->den > 0, "a rate of " + tools::to_string(*rate));
    const auto again = tools::parse_frame_rate(tools::to_string(*rate));
    fuzz::require(again && again->num == rate->num && again->den == rate->den,
                  "the rate " + tools::to_string(*rate) + " does not read back");
    const std::int64_t last = tools::last_frame_at(*rate);
    tools::frame_time(*rate, last);
    tools::frame_time(*rate, -last);
}

void check_pattern(const std::string& text) {
    try {
        const tools::FrameSlot slot = tools::find_frame_slot(text);
        if (slot.start == std::string::npos) return;
        tools::frame_path(text, -7);
        tools::frame_path(text, INT64_MAX);
        tools::frame_path(text, INT64_MIN);
    } catch (const std::invalid_argument&) {}
}

void check_piece(offline::OfflineHost& host, const std::string& text) {
    tools::whole_number(text);
    check_rate(text);
    check_pattern(text);
    if (const auto range = tools::parse_frame_range(text))
        tools::shard_frames(range->first, range->second, 1, 3, 100);
    tools::parse_size(text);
    try {
        offline::apply_setting(host, text);
    } catch (const std::invalid_argument&) {}
}

void check_command_line(const std::vector<std::string>& args) {
    try {
        const tools::CommandLine line = tools::parse_command_line(args);
        const tools::RenderOptions& r = line.render;
        if (r.shard && r.range)
            tools::shard_frames(r.range->first, r.range->second, r.shard->first, r.shard->second, 100);
        if (r.rate && r.frame && *r.frame <= tools::last_frame_at(*r.rate) &&
            *r.frame >= -tools::last_frame_at(*r.rate))
            tools::frame_time(*r.rate, *r.frame);
    } catch (const tools::ToolError& e) {
        fuzz::require(e.exit_code == tools::EXIT_USAGE, std::string("exit code for ") + e.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = split_at_nul(data, size);
    offline::OfflineHost host;
    fuzz::load_effect_parameters(host);
    for (const std::string& piece : args) check_piece(host, piece);
    check_command_line(args);
    return 0;
}
