#include "tools/windows_host/frame_set.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <type_traits>

#include "offline/test_card.h"

namespace lumatrail::tools {

// Why these tolerances. The stream renderer's transcendental calls (drag as
// expf, wind and the noise field as sinf/cosf, the growth curve as powf, the
// emitter keys as logf) differ between the two C libraries in at most the
// last place of a float. A particle position then moves by a few parts in
// 10^7 of its coordinate, which changes the coverage of the stroke pixels it
// touches by a few millionths of full value (under 7e-6 seen in this set).
// STREAM_FLOAT_TOLERANCE, one 16-bit level, is a few times that. Stored at 8
// or 16 bits, a difference under one 16-bit level moves a channel by at most
// one level of its depth, where the value sits on a rounding boundary. A real
// fault in either build (a wrong emitter, a dropped particle, a wrong pixel
// format, a shifted stroke) changes whole stroke widths of pixels by far more.

double stream_frame_tolerance(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB64: return 1.0 / 32768.0;  // one 16-bit level
    case PF_PixelFormat_ARGB128: return STREAM_FLOAT_TOLERANCE;
    default: return 1.0 / 255.0;  // one 8-bit level
    }
}

namespace {

// Settings every stream frame shares: slow launches so streams stay on the
// small card, and every force that goes through the C library's functions.
const std::vector<FrameSetting> STREAM_FORCES = {
    {"Launch Speed (px/sec)", 60}, {"Particle Count", 600}, {"Random Force", 250}, {"Wind Strength", 80},
    {"Wind Direction (deg)", 35},  {"Growth Curve", 1.6},   {"End Size (%)", 30},  {"Drag", 0.4},
    {"Launch Spread (deg)", 40},
};

struct Look {
    const char* name;
    bool linear_pass;
    bool with_mask;
    std::vector<FrameSetting> settings;
};

std::vector<FrameSetting> with_forces(std::vector<FrameSetting> settings) {
    settings.insert(settings.end(), STREAM_FORCES.begin(), STREAM_FORCES.end());
    return settings;
}

// Popups are one-based: Direction 1 Horizontal, 2 Vertical, 3 Radial Out,
// 4 Radial In; Mask Mode 1 Off, 2 Sort Inside Mask, 3 Stretch From Mask;
// Render Mode 1 Classic Lines, 2 Force Lines, 3 Particles.
std::vector<Look> looks() {
    return {
        {"classic-horizontal", true, false, {{"Direction", 1}, {"Streak Length (px)", 48}}},
        {"classic-vertical",
         true,
         false,
         {{"Direction", 2}, {"Reverse Direction", 1}, {"Streak Length (px)", 30}}},
        {"classic-sweep",
         true,
         false,
         {{"Sweep Mode", 3}, {"Amount (%)", 70}, {"Preserve Input Alpha", 1}, {"Streak Length (px)", 40}}},
        {"sort-inside-mask", true, true, {{"Mask Mode", 2}, {"Streak Length (px)", 40}}},
        {"stretch-from-mask",
         true,
         true,
         {{"Mask Mode", 3}, {"Direction", 2}, {"Mask Channel", 2}, {"Streak Length (px)", 36}}},
        {"show-mask", true, true, {{"Show Mask", 1}, {"Mask Mode", 3}, {"Invert Mask", 1}}},
        {"classic-radial-out", false, false, with_forces({{"Direction", 3}})},
        {"classic-radial-in", false, false, with_forces({{"Direction", 4}, {"Center X (%)", 35}})},
        {"force-lines", false, false,
         with_forces({{"Render Mode", 2}, {"Attractor Strength", 300}, {"Force Radius (px)", 120}})},
        {"particles", false, false,
         with_forces({{"Render Mode", 3}, {"Repeller Strength", 200}, {"Repeller X (%)", 30}})},
        {"particles-from-mask", false, true, with_forces({{"Render Mode", 3}, {"Mask Mode", 3}})},
    };
}

using offline::WORLD_DEPTHS;

FramePlan plan_of(const Look& look, const offline::NamedDepth& depth, bool half, RenderCommand command) {
    std::string name = std::string(look.name) + "-" + depth.name;
    if (half) name += "-half";
    if (command == RenderCommand::Plain) name += "-plain";
    return {name, depth.format, half, look.with_mask, command, look.linear_pass, look.settings};
}

const Look& look_named(const std::vector<Look>& all, std::string_view name) {
    for (const Look& l : all)
        if (name == l.name) return l;
    throw std::logic_error("no look named " + std::string(name));
}

// The difference of one channel of two renders at byte offset `at`, as a
// fraction of full value. Integer channels are subtracted as integers first,
// so that n levels are exactly n / full. A NaN against anything else (or a
// NaN of other bits) is as far apart as values get.
double channel_difference(PF_PixelFormat format, std::span<const std::uint8_t> a,
                          std::span<const std::uint8_t> b, std::size_t at) {
    return offline::with_world_pixel_type(format, [&](auto pixel) {
        using Channel = decltype(pixel.alpha);
        Channel va, vb;
        std::memcpy(&va, a.data() + at, sizeof va);
        std::memcpy(&vb, b.data() + at, sizeof vb);
        if constexpr (std::is_floating_point_v<Channel>) {
            if (std::isnan(va) || std::isnan(vb)) return double(INFINITY);
            return std::fabs(double(va) - double(vb));
        } else {
            return double(std::abs(std::int32_t(va) - std::int32_t(vb))) /
                   double(offline::FULL_VALUE<decltype(pixel)>);
        }
    });
}

std::size_t channel_bytes(PF_PixelFormat format) { return offline::pixel_size(format) / 4; }

constexpr const char* CHANNEL_NAMES[4] = {"alpha", "red", "green", "blue"};

std::string where(const FramePlan& plan, std::size_t channel_index) {
    const std::size_t pixel = channel_index / 4;
    const std::size_t width = std::size_t(frame_width(plan));
    return "pixel (" + std::to_string(pixel % width) + ", " + std::to_string(pixel / width) + ") " +
           CHANNEL_NAMES[channel_index % 4];
}

}  // namespace

std::vector<FramePlan> frame_set() {
    const std::vector<Look> all = looks();
    std::vector<FramePlan> set;
    for (const Look& look : all)
        for (const offline::NamedDepth& depth : WORLD_DEPTHS)
            set.push_back(plan_of(look, depth, false, RenderCommand::Smart));
    // Half resolution: the linear pass scales its lengths, the stream renderer its sizes and speeds.
    set.push_back(
        plan_of(look_named(all, "classic-horizontal"), WORLD_DEPTHS[0], true, RenderCommand::Smart));
    set.push_back(plan_of(look_named(all, "stretch-from-mask"), WORLD_DEPTHS[1], true, RenderCommand::Smart));
    set.push_back(plan_of(look_named(all, "force-lines"), WORLD_DEPTHS[0], true, RenderCommand::Smart));
    set.push_back(plan_of(look_named(all, "particles"), WORLD_DEPTHS[2], true, RenderCommand::Smart));
    // The plain render command (8 and 16 bits only), at both resolutions.
    set.push_back(
        plan_of(look_named(all, "classic-horizontal"), WORLD_DEPTHS[0], false, RenderCommand::Plain));
    set.push_back(plan_of(look_named(all, "sort-inside-mask"), WORLD_DEPTHS[1], false, RenderCommand::Plain));
    set.push_back(plan_of(look_named(all, "particles"), WORLD_DEPTHS[0], true, RenderCommand::Plain));
    return set;
}

std::int32_t frame_width(const FramePlan& plan) {
    return plan.half_resolution ? (FRAME_SET_WIDTH + 1) / 2 : FRAME_SET_WIDTH;
}
std::int32_t frame_height(const FramePlan& plan) {
    return plan.half_resolution ? (FRAME_SET_HEIGHT + 1) / 2 : FRAME_SET_HEIGHT;
}
std::size_t frame_bytes(const FramePlan& plan) {
    return std::size_t(frame_width(plan)) * std::size_t(frame_height(plan)) *
           offline::pixel_size(plan.format);
}

std::string frame_file_name(const FramePlan& plan) { return plan.name + ".raw"; }

std::vector<std::uint8_t> render_set_frame(PF_EffectMainFunc effect_main, const FramePlan& plan) {
    offline::OfflineHost host;
    if (const PF_Err err = offline::load_parameters(host, effect_main))
        throw std::runtime_error(plan.name + ": parameter setup returned " + std::to_string(err));
    for (const FrameSetting& s : plan.settings) offline::set_param_value(host, s.name, s.value);

    const offline::OfflineLayer input{
        offline::test_card(FRAME_SET_WIDTH, FRAME_SET_HEIGHT, plan.format), {}, {}, {}};
    const offline::OfflineLayer mask{
        offline::test_mask(FRAME_SET_WIDTH, FRAME_SET_HEIGHT, plan.format), {}, {}, {}};
    offline::FrameRequest request;
    request.time = offline::host_time(FRAME_SET_SECONDS);
    request.input = &input;
    if (plan.with_mask) request.mask = &mask;
    if (plan.half_resolution) request.downsample_x = request.downsample_y = {1, 2};

    const offline::FrameResult result = plan.command == RenderCommand::Plain
                                            ? offline::request_frame_plain(host, effect_main, request)
                                            : offline::request_frame(host, effect_main, request);
    if (result.pre_render != PF_Err_NONE || result.render != PF_Err_NONE)
        throw std::runtime_error(plan.name + ": the render returned " + std::to_string(result.pre_render) +
                                 (plan.command == RenderCommand::Smart
                                      ? " (pre-render) and " + std::to_string(result.render) + " (render)"
                                      : std::string(" (command 11)")) +
                                 (result.message.empty() ? "" : ": " + result.message));
    const offline::OfflineWorld& out = result.output;
    if (out.world.width != frame_width(plan) || out.world.height != frame_height(plan) ||
        out.format != plan.format)
        throw std::runtime_error(plan.name + ": the output is " + std::to_string(out.world.width) + "x" +
                                 std::to_string(out.world.height) + ", expected " +
                                 std::to_string(frame_width(plan)) + "x" +
                                 std::to_string(frame_height(plan)) + " in the frame's format");
    return offline::packed_pixels(out);
}

std::size_t write_frame_set(PF_EffectMainFunc effect_main, const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    std::size_t written = 0;
    for (const FramePlan& plan : frame_set()) {
        const std::vector<std::uint8_t> pixels = render_set_frame(effect_main, plan);
        const std::filesystem::path path = dir / frame_file_name(plan);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
        file.close();
        if (!file) throw std::runtime_error(plan.name + ": cannot write " + path.string());
        ++written;
    }
    return written;
}

FrameComparison compare_frames(const FramePlan& plan, std::span<const std::uint8_t> a,
                               std::span<const std::uint8_t> b) {
    FrameComparison c;
    const std::size_t expected = frame_bytes(plan);
    if (a.size() != expected || b.size() != expected) {
        c.detail = "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
                   " bytes, expected " + std::to_string(expected);
        return c;
    }
    const std::size_t step = channel_bytes(plan.format);
    const std::size_t channels = expected / step;
    std::size_t first_difference = channels, largest_at = channels;
    for (std::size_t i = 0; i < channels; ++i) {
        const std::size_t at = i * step;
        if (std::memcmp(a.data() + at, b.data() + at, step) == 0) continue;
        ++c.differing_channels;
        if (first_difference == channels) first_difference = i;
        const double d = channel_difference(plan.format, a, b, at);
        if (largest_at == channels || d > c.largest_difference) {
            c.largest_difference = d;
            largest_at = i;
        }
    }
    if (c.differing_channels == 0) {
        c.matches = true;
        return c;
    }
    if (plan.linear_pass) {
        c.detail = "first difference at " + where(plan, first_difference);
        return c;
    }
    c.matches = c.largest_difference <= stream_frame_tolerance(plan.format);
    c.detail = "largest difference at " + where(plan, largest_at);
    return c;
}

}  // namespace lumatrail::tools
