// Rendering one frame the way the host does: smart pre-render (command 23),
// smart render (command 24), then the delete function of the pre-render
// data; or the plain render command 11. The offline host hands out the layers
// at render resolution, the output world, the basic suite with the "PF World
// Suite", and the abort callback, records every call the effect makes, and can
// be told to fail any of them.
//
// Each frame keeps its own state, so frames may render at once on several
// threads through one OfflineHost.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "offline/offline_host.h"
#include "offline/offline_world.h"

namespace lumatrail::offline {

// A layer of the composition at full resolution, and what the host reports
// about it when the effect asks.
struct OfflineLayer {
    OfflineWorld pixels;
    std::optional<PF_LRect> max_result_rect;            // default: the layer's frame at render resolution
    std::optional<std::int32_t> ref_width, ref_height;  // default: the full-resolution size
};

// The code the offline host's abort callback returns for a cancel.
inline constexpr PF_Err OFFLINE_CANCELLED = 1001;

// Calls to fail or answers to change for one frame. -1 or 0 means no fault.
struct FrameFaults {
    std::int32_t fail_checkout_layer_id = -1;  // checkout_layer with this id
    PF_Err checkout_layer_error = 7;
    std::int32_t fail_checkout_pixels_id = -1;  // checkout_layer_pixels with this id
    PF_Err checkout_pixels_error = 8;
    PF_Err input_checkin_error = 0;  // checkin_layer_pixels(101)
    PF_Err mask_checkin_error = 0;   // checkin_layer_pixels(201)
    PF_Err checkout_output_error = 0;
    bool world_suite_missing = false;
    PF_Err pixel_format_error = 0;
    std::optional<PF_PixelFormat> reported_input_format, reported_mask_format, reported_output_format;
    bool drop_pre_render_data = false;  // command 24 without pre-render data
    std::int32_t abort_at_poll = 0;     // the k-th abort poll answers abort_code
    PF_Err abort_code = OFFLINE_CANCELLED;
    const std::atomic<bool>* cancel = nullptr;  // set from another thread to cancel
};

struct FrameRequest {
    HostTime time;
    PF_RationalScale downsample_x{1, 1}, downsample_y{1, 1};
    const OfflineLayer* input = nullptr;
    const OfflineLayer* mask = nullptr;                     // none: no layer chosen for "Mask Layer"
    std::optional<PF_PixelFormat> output_format;            // default: the input's
    WorldLayout output_layout;                              // origin is set from the result rectangle
    std::int32_t output_origin_x = 0, output_origin_y = 0;  // command 11 only
    FrameFaults faults;
};

struct FrameResult {
    PF_Err pre_render = PF_Err_NONE;  // command 23 (command 11's result for the plain path)
    PF_Err render = PF_Err_NONE;      // command 24
    std::string message;              // return_msg
    std::int32_t out_flags = 0;
    PF_LRect result_rect{};
    OfflineWorld output;  // empty when no output was checked out
    std::vector<HostCall> calls;
    std::int32_t polls = 0;
    bool suite_held = false;  // acquired more often than released
};

// Command 23, command 24, then the delete function.
FrameResult request_frame(OfflineHost& host, PF_EffectMainFunc effect_main, const FrameRequest& request);

// A downsample factor as the host applies it (in float), and a full-resolution
// side at that factor: rounded up, never below 0.
float factor(PF_RationalScale d);
std::int32_t at_resolution(std::int32_t size, float scale);

// Command 11 with the parameter list's worlds (8-bit and 16-bit only).
FrameResult request_frame_plain(OfflineHost& host, PF_EffectMainFunc effect_main,
                                const FrameRequest& request);

// A frame time for seconds at a frame rate, as the host counts it.
HostTime host_time(double seconds, std::uint32_t time_scale = 24000);

std::size_t count(const std::vector<HostCall>& calls, CallKind kind, std::int32_t index = -2);

}  // namespace lumatrail::offline
