// The fixed set of frames that the Windows module (under wine) and the native
// build both render, and the comparison of the two renders.
//
// Each frame renders the built-in test card (and its mask, where the frame
// uses one) through EffectMain with the offline host, at a small size so that
// the set is quick under wine, and is written as its raw result pixels: rows
// top to bottom, no padding, the host's pixel records as they are in memory.
//
// Frames rendered by the linear stretch pass use only float32 arithmetic that
// every conforming compiler evaluates alike, so the two builds must agree bit
// for bit. Frames from the stream renderer call expf, powf, sinf, cosf and
// logf, whose last place differs between the C libraries of the two builds;
// they are compared with stream_frame_tolerance.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_contract.h"
#include "offline/offline_frame.h"

namespace lumatrail::tools {

// The size of the test card every frame renders, at full resolution.
inline constexpr std::int32_t FRAME_SET_WIDTH = 160;
inline constexpr std::int32_t FRAME_SET_HEIGHT = 90;
// The frame time: late enough that particles born from the start are alive
// and trails have their full length.
inline constexpr double FRAME_SET_SECONDS = 1.5;

// A parameter, by its UI name, and its value as the host stores it: slider
// value, one-based popup choice, checkbox 0 or 1.
struct FrameSetting {
    std::string name;
    double value;
};

enum class RenderCommand { Smart, Plain };  // commands 23/24/delete, or command 11

struct FramePlan {
    std::string name;  // file stem, unique in the set
    PF_PixelFormat format;
    bool half_resolution;  // downsample 1/2 in both directions
    bool with_mask;        // the test mask as the Mask Layer
    RenderCommand command;
    bool linear_pass;                    // rendered by the linear stretch pass: compared bit for bit
    std::vector<FrameSetting> settings;  // on top of the parameters' defaults
};

// The set, in a fixed order.
std::vector<FramePlan> frame_set();

// The frame's output size: the test card at render resolution.
std::int32_t frame_width(const FramePlan& plan);
std::int32_t frame_height(const FramePlan& plan);
std::size_t frame_bytes(const FramePlan& plan);

// "NAME.raw".
std::string frame_file_name(const FramePlan& plan);

// Renders one frame through the entry point with a fresh offline host:
// parameter setup, the frame's settings, then the frame's command. Throws
// std::runtime_error when parameter setup or the render fails or the output
// is not the frame's size; returns the raw pixels.
std::vector<std::uint8_t> render_set_frame(PF_EffectMainFunc effect_main, const FramePlan& plan);

// Renders every frame of the set and writes it into the directory (created
// if missing). Returns the number of frames written; throws on the first
// failure, naming the frame.
std::size_t write_frame_set(PF_EffectMainFunc effect_main, const std::filesystem::path& directory);

// The largest difference the two C libraries' last-place differences in
// expf, powf, sinf, cosf and logf may make to one channel of a stream-renderer
// frame, as a fraction of full value: STREAM_FLOAT_TOLERANCE for float
// frames, one level of the depth for 8- and 16-bit frames. See frame_set.cpp
// for why this much.
inline constexpr double STREAM_FLOAT_TOLERANCE = 1.0 / 32768.0;
double stream_frame_tolerance(PF_PixelFormat format);

struct FrameComparison {
    bool matches = false;
    double largest_difference = 0;  // largest channel difference, as a fraction of full value
    std::size_t differing_channels = 0;
    std::string detail;  // where the first (exact) or largest (stream) difference is
};

// Compares two renders of the frame: bit for bit for linear-pass frames,
// within stream_frame_tolerance per channel for stream frames. Renders of
// the wrong size never match.
FrameComparison compare_frames(const FramePlan& plan, std::span<const std::uint8_t> a,
                               std::span<const std::uint8_t> b);

}  // namespace lumatrail::tools
