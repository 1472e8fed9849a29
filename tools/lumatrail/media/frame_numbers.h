// Frames as the command line counts them: frame rates as exact fractions,
// each frame's time as the host's rational time, sequence patterns, the
// frames of a sequence found on disk, and the frames of one shard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "offline/offline_host.h"

namespace lumatrail::tools {

// A whole number written in full ("12", "-7"); empty for anything else.
std::optional<std::int64_t> whole_number(std::string_view text);

// Frames per second as numerator / denominator, in lowest terms.
struct FrameRate {
    std::int64_t num = 24, den = 1;
};

// "24", "30000/1001", "12.5", and the usual spellings of the broadcast
// rates: 23.976 and 23.98 are 24000/1001, 29.97 is 30000/1001, 59.94 is
// 60000/1001 (any whole rate times 1000/1001 written to two or three
// decimals). Empty when the text is no rate above 0 and up to 1000.
std::optional<FrameRate> parse_frame_rate(std::string_view text);

// "24", "30000/1001": the rate as users write it.
std::string to_string(FrameRate rate);

// The largest frame number whose time the host's 32-bit time can hold at
// this rate (the time counts frame * den ticks of 1/num second).
std::int64_t last_frame_at(FrameRate rate);

// Frame `frame` at `rate`: frame * den ticks of a time scale of num per
// second, exactly as the host counts it. The frame must be within
// +-last_frame_at(rate).
offline::HostTime frame_time(FrameRate rate, std::int64_t frame);

// Where the frame number goes in a file name: the last run of '#' in the
// file name (not in its folders), or, without '#', its one printf-style %d,
// %4d or %04d. Width is the run's length or the printf width.
struct FrameSlot {
    std::size_t start = std::string::npos, end = 0;
    int width = 0;
};

// The slot of a pattern; none (start == npos) for a plain path. Throws
// std::invalid_argument for a name with more than one %d.
FrameSlot find_frame_slot(const std::string& path);

bool is_sequence_pattern(const std::string& path);

// The pattern with the frame number in its slot, zero-padded to the slot's
// width; a negative frame keeps its sign before the padding (#### and -7
// give -0007). A plain path is returned as it is.
std::string frame_path(const std::string& pattern, std::int64_t frame);

// The frames of a sequence present on disk: every file whose name fits the
// pattern with a number in the slot (padded to the slot's width, or longer
// for larger numbers). Sorted, without duplicates.
std::vector<std::int64_t> frames_on_disk(const std::string& pattern);

// The frames first..last (inclusive) that fall in shard k of n (1 <= k <= n):
// those with frame mod n == k - 1, counted so that only this shard's frames
// are visited. Stops after limit + 1 frames, so that a caller can refuse a
// list longer than `limit` without making it.
std::vector<std::int64_t> shard_frames(std::int64_t first, std::int64_t last, std::int64_t k, std::int64_t n,
                                       std::size_t limit);

}  // namespace lumatrail::tools
