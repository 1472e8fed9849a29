#include "tools/lumatrail/media/frame_numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t MAX_RATE = 1000;

std::optional<FrameRate> lowest_terms(std::int64_t num, std::int64_t den) {
    if (num <= 0 || den <= 0) return std::nullopt;
    const std::int64_t g = std::gcd(num, den);
    num /= g, den /= g;
    // Fractions the host's time cannot hold (a 32-bit time scale, a 32-bit
    // time step), and rates above 1000 frames a second, are no frame rates.
    // The sizes are checked first, so that MAX_RATE * den cannot overflow.
    if (num > std::numeric_limits<std::uint32_t>::max() || den > std::numeric_limits<std::int32_t>::max() ||
        num > MAX_RATE * den)
        return std::nullopt;
    return FrameRate{num, den};
}

std::size_t file_name_start(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::optional<std::int64_t> whole_number(std::string_view text) {
    std::int64_t n = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return n;
}

std::optional<FrameRate> parse_frame_rate(std::string_view text) {
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        const auto num = whole_number(text.substr(0, slash)), den = whole_number(text.substr(slash + 1));
        if (!num || !den) return std::nullopt;
        return lowest_terms(*num, *den);
    }
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string_view decimals = dot == std::string_view::npos ? "" : text.substr(dot + 1);
    // Zeros at the end change nothing ("23.9760000000" is 23.976).
    while (decimals.size() > 1 && decimals.back() == '0') decimals.remove_suffix(1);
    if (decimals.size() > 9 || (whole.empty() && decimals.empty())) return std::nullopt;
    const auto w = whole.empty() ? std::optional<std::int64_t>(0) : whole_number(whole);
    const auto d = decimals.empty() ? std::optional<std::int64_t>(0) : whole_number(decimals);
    if (!w || !d || *w < 0 || *d < 0 || *w > MAX_RATE || (!whole.empty() && whole[0] == '+') ||
        (!decimals.empty() && (decimals[0] == '-' || decimals[0] == '+')))
        return std::nullopt;
    std::int64_t scale = 1;
    for (std::size_t i = 0; i < decimals.size(); ++i) scale *= 10;
    const std::int64_t num = *w * scale + *d;
    // The broadcast rates, written to two or three decimals: a whole rate
    // times 1000/1001.
    if (num % scale != 0 && (decimals.size() == 2 || decimals.size() == 3)) {
        const double value = double(num) / double(scale);
        const double whole_rate = std::round(value * 1.001);
        if (whole_rate >= 1 && std::fabs(value - whole_rate * 1000.0 / 1001.0) < 0.005)
            return lowest_terms(std::int64_t(whole_rate) * 1000, 1001);
    }
    return lowest_terms(num, scale);
}

std::string to_string(FrameRate rate) {
    return rate.den == 1 ? std::to_string(rate.num)
                         : std::to_string(rate.num) + "/" + std::to_string(rate.den);
}

std::int64_t last_frame_at(FrameRate rate) { return std::numeric_limits<std::int32_t>::max() / rate.den; }

offline::HostTime frame_time(FrameRate rate, std::int64_t frame) {
    if (frame > last_frame_at(rate) || frame < -last_frame_at(rate))
        throw std::out_of_range("frame " + std::to_string(frame) + " is beyond the host's time at " +
                                to_string(rate) + " frames a second");
    return {std::int32_t(frame * rate.den), std::int32_t(rate.den), std::uint32_t(rate.num)};
}

FrameSlot find_frame_slot(const std::string& path) {
    const std::size_t name = file_name_start(path);
    const std::size_t last_hash = path.find_last_of('#');
    if (last_hash != std::string::npos && last_hash >= name) {
        std::size_t start = last_hash;
        while (start > name && path[start - 1] == '#') --start;
        return {start, last_hash + 1, int(last_hash + 1 - start)};
    }
    // printf style: %d, %4d or %04d.
    FrameSlot slot;
    for (std::size_t at = path.find('%', name); at != std::string::npos; at = path.find('%', at + 1)) {
        if (at + 1 < path.size() && path[at + 1] == '%')
            throw std::invalid_argument(
                "\"" + path +
                "\" has %%: in a file pattern % only starts the frame's %d; to keep a % "
                "in the name, mark the frame with # instead");
        std::size_t end = at + 1;
        int width = 0;
        while (end < path.size() && path[end] >= '0' && path[end] <= '9' && end - at < 4)
            width = width * 10 + (path[end++] - '0');
        if (end < path.size() && path[end] == 'd') {
            if (slot.start != std::string::npos)
                throw std::invalid_argument("\"" + path +
                                            "\" has more than one %d; a pattern has one place for the frame");
            slot = {at, end + 1, width};
        }
    }
    return slot;
}

bool is_sequence_pattern(const std::string& path) { return find_frame_slot(path).start != std::string::npos; }

std::string frame_path(const std::string& pattern, std::int64_t frame) {
    const FrameSlot slot = find_frame_slot(pattern);
    if (slot.start == std::string::npos) return pattern;
    // The digits are padded, the sign stays in front of them.
    // The magnitude is taken unsigned, so that the lowest frame has one too;
    // the run of # sets the width, however long.
    const std::uint64_t magnitude = frame < 0 ? 0 - std::uint64_t(frame) : std::uint64_t(frame);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < std::size_t(slot.width))
        digits.insert(0, std::size_t(slot.width) - digits.size(), '0');
    return pattern.substr(0, slot.start) + (frame < 0 ? "-" : "") + digits + pattern.substr(slot.end);
}

std::vector<std::int64_t> frames_on_disk(const std::string& pattern) {
    const FrameSlot slot = find_frame_slot(pattern);
    std::vector<std::int64_t> frames;
    if (slot.start == std::string::npos) return frames;
    const std::size_t name = file_name_start(pattern);
    const std::string folder = name == 0 ? "." : pattern.substr(0, name);
    const std::string prefix = pattern.substr(name, slot.start - name), suffix = pattern.substr(slot.end);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() <= prefix.size() + suffix.size() || !file.starts_with(prefix) ||
            !file.ends_with(suffix))
            continue;
        const std::string_view number =
            std::string_view(file).substr(prefix.size(), file.size() - prefix.size() - suffix.size());
        const auto frame = whole_number(number);
        // Only names the pattern itself gives: "0007" for ####, not "7" or "+7".
        if (frame && number[0] != '+' && frame_path(pattern.substr(name), *frame) == file)
            frames.push_back(*frame);
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

std::vector<std::int64_t> shard_frames(std::int64_t first, std::int64_t last, std::int64_t k, std::int64_t n,
                                       std::size_t limit) {
    std::vector<std::int64_t> frames;
    if (n < 1 || k < 1 || k > n || last < first) return frames;
    // The first frame f >= first with f mod n == k - 1 (mod counted up from 0
    // for negative frames too), then every n-th.
    const std::int64_t remainder = ((first % n) + n) % n;
    std::int64_t f = first + ((k - 1 - remainder) % n + n) % n;
    for (; f <= last; f += n) {
        frames.push_back(f);
        if (frames.size() > limit || f > last - n) break;  // the next step would pass last (or overflow)
    }
    return frames;
}

}  // namespace lumatrail::tools
