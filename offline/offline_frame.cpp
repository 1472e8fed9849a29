#include "offline/offline_frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace lumatrail::offline {

struct FrameState {
    OfflineHost* host;
    const FrameRequest* request;
    OfflineContext context;
    SPBasicSuite basic_suite;
    std::vector<HostCall> calls;
    float scale_x = 1, scale_y = 1;
    std::int32_t width = 0, height = 0;   // the input layer at render resolution
    std::vector<std::int32_t> requested;  // checkout ids of command 23
    std::unique_ptr<OfflineWorld> input, mask, output;
    PF_LRect result_rect{};
    std::int32_t polls = 0;
    std::int32_t suites_held = 0;
};

namespace {

// The basic suite's functions receive no context. The host calls back only on
// the thread that delivered the command, so the frame being rendered is bound
// to that thread for the duration of each command.
thread_local FrameState* bound_frame = nullptr;

struct BindFrame {
    FrameState* previous;
    explicit BindFrame(FrameState& f) : previous(bound_frame) { bound_frame = &f; }
    ~BindFrame() { bound_frame = previous; }
};

FrameState& frame_of(PF_ProgPtr effect_ref) { return *static_cast<OfflineContext*>(effect_ref)->frame; }

void record(FrameState& f, CallKind kind, std::int32_t index = -1) { f.calls.push_back({kind, index}); }

bool was_requested(const FrameState& f, std::int32_t id) {
    return std::find(f.requested.begin(), f.requested.end(), id) != f.requested.end();
}

PF_Err get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* format) {
    FrameState* f = bound_frame;
    if (f) record(*f, CallKind::GetPixelFormat);
    if (!world || !format) return PF_Err_BAD_CALLBACK_PARAM;
    if (f && f->request->faults.pixel_format_error) return f->request->faults.pixel_format_error;
    // Every world the offline host hands out is the front of an OfflineWorld.
    const auto* w = reinterpret_cast<const OfflineWorld*>(world);
    *format = w->format;
    if (f) {
        const FrameFaults& faults = f->request->faults;
        if (w == f->input.get() && faults.reported_input_format) *format = *faults.reported_input_format;
        if (w == f->mask.get() && faults.reported_mask_format) *format = *faults.reported_mask_format;
        if (w == f->output.get() && faults.reported_output_format) *format = *faults.reported_output_format;
    }
    return PF_Err_NONE;
}

const PF_WorldSuite2 WORLD_SUITE{get_pixel_format};

SPErr acquire_suite(const char* name, std::int32_t version, const void** suite) {
    FrameState* f = bound_frame;
    if (f) record(*f, CallKind::AcquireSuite);
    if (!suite || (f && f->request->faults.world_suite_missing)) return 1;
    if (!name || std::string_view(name) != kPFWorldSuite || version != kPFWorldSuiteVersion2) return 1;
    *suite = &WORLD_SUITE;
    if (f) ++f->suites_held;
    return 0;
}

SPErr release_suite(const char*, std::int32_t) {
    if (FrameState* f = bound_frame) {
        record(*f, CallKind::ReleaseSuite);
        --f->suites_held;
    }
    return 0;
}

PF_Err abort_poll(PF_ProgPtr effect_ref) {
    FrameState& f = frame_of(effect_ref);
    const FrameFaults& faults = f.request->faults;
    ++f.polls;
    if (faults.abort_at_poll > 0 && f.polls >= faults.abort_at_poll) return faults.abort_code;
    if (faults.cancel && faults.cancel->load()) return faults.abort_code;
    return PF_Err_NONE;
}

const OfflineLayer* layer_at(const FrameState& f, PF_ParamIndex index) {
    if (index == 0) return f.request->input;
    return f.request->mask;  // the only other layer parameter
}

PF_Err checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, std::int32_t id,
                      const PF_RenderRequest* req, std::int32_t, std::int32_t, std::uint32_t,
                      PF_CheckoutResult* result) {
    FrameState& f = frame_of(effect_ref);
    record(f, CallKind::CheckoutLayer, id);
    if (id == f.request->faults.fail_checkout_layer_id) return f.request->faults.checkout_layer_error;
    if (!req || !result || (index != 0 && index != 21)) return PF_Err_BAD_CALLBACK_PARAM;
    *result = PF_CheckoutResult{};
    f.requested.push_back(id);
    const OfflineLayer* layer = layer_at(f, index);
    if (!layer) return PF_Err_NONE;  // no layer chosen: nothing to give
    const std::int32_t full_w = layer->pixels.world.width, full_h = layer->pixels.world.height;
    result->ref_width = layer->ref_width.value_or(full_w);
    result->ref_height = layer->ref_height.value_or(full_h);
    result->max_result_rect = layer->max_result_rect.value_or(
        PF_LRect{0, 0, at_resolution(full_w, f.scale_x), at_resolution(full_h, f.scale_y)});
    result->result_rect = result->max_result_rect;
    result->par = {1, 1};
    return PF_Err_NONE;
}

PF_Err checkout_layer_pixels(PF_ProgPtr effect_ref, std::int32_t id, PF_EffectWorld** pixels) {
    FrameState& f = frame_of(effect_ref);
    record(f, CallKind::CheckoutLayerPixels, id);
    if (id == f.request->faults.fail_checkout_pixels_id) return f.request->faults.checkout_pixels_error;
    if (!pixels || !was_requested(f, id)) return PF_Err_BAD_CALLBACK_PARAM;
    const bool is_mask = id >= 200;
    const OfflineLayer* layer = is_mask ? f.request->mask : f.request->input;
    std::unique_ptr<OfflineWorld>& world = is_mask ? f.mask : f.input;
    if (!layer) {
        *pixels = nullptr;
        return PF_Err_NONE;
    }
    if (!world) {
        const std::int32_t w = at_resolution(layer->ref_width.value_or(layer->pixels.world.width), f.scale_x);
        const std::int32_t h =
            at_resolution(layer->ref_height.value_or(layer->pixels.world.height), f.scale_y);
        world = std::make_unique<OfflineWorld>(resample_nearest(layer->pixels, w, h, f.scale_x, f.scale_y));
    }
    *pixels = &world->world;
    return PF_Err_NONE;
}

PF_Err checkin_layer_pixels(PF_ProgPtr effect_ref, std::int32_t id) {
    FrameState& f = frame_of(effect_ref);
    record(f, CallKind::CheckinLayerPixels, id);
    if (id == 101) return f.request->faults.input_checkin_error;
    if (id == 201) return f.request->faults.mask_checkin_error;
    return PF_Err_NONE;
}

PF_PixelFormat output_format(const FrameRequest& r) {
    if (r.output_format) return *r.output_format;
    return r.input ? r.input->pixels.format : PF_PixelFormat_ARGB32;
}

PF_Err checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    FrameState& f = frame_of(effect_ref);
    record(f, CallKind::CheckoutOutput);
    if (f.request->faults.checkout_output_error) return f.request->faults.checkout_output_error;
    if (!output) return PF_Err_BAD_CALLBACK_PARAM;
    if (!f.output) {
        WorldLayout layout = f.request->output_layout;
        layout.origin_x = f.result_rect.left;
        layout.origin_y = f.result_rect.top;
        f.output = std::make_unique<OfflineWorld>(
            make_world(output_format(*f.request), f.result_rect.right - f.result_rect.left,
                       f.result_rect.bottom - f.result_rect.top, layout));
    }
    *output = &f.output->world;
    return PF_Err_NONE;
}

// The in-data every command of the frame gets: the host's parameter
// callbacks at the frame's time, the frame's abort poll and basic suite, and
// the input layer's full-resolution size.
PF_InData frame_in_data(FrameState& f) {
    const FrameRequest& r = *f.request;
    PF_InData in = make_in_data(f.context, r.time);
    in.inter.abort = abort_poll;
    if (r.input) {
        in.width = r.input->pixels.world.width;
        in.height = r.input->pixels.world.height;
    }
    in.downsample_x = r.downsample_x;
    in.downsample_y = r.downsample_y;
    in.output_origin_x = r.output_origin_x;
    in.output_origin_y = r.output_origin_y;
    in.pica_basicP = &f.basic_suite;
    return in;
}

FrameResult finish(FrameState& f, FrameResult result, const PF_OutData& out) {
    result.message = out.return_msg;
    result.out_flags = out.out_flags;
    result.result_rect = f.result_rect;
    if (f.output) result.output = std::move(*f.output);
    result.calls = std::move(f.calls);
    result.polls = f.polls;
    result.suite_held = f.suites_held > 0;
    return result;
}

// Renders one frame: sets up its state, binds it to this thread and has
// `commands` send the frame's commands with its in- and out-data; the result
// collects what the frame did.
template <class Commands>
FrameResult run_frame(OfflineHost& host, const FrameRequest& request, Commands commands) {
    FrameState f;
    f.host = &host;
    f.request = &request;
    f.context = {&host, &f, &f.calls};
    f.basic_suite = {acquire_suite, release_suite};
    f.scale_x = factor(request.downsample_x);
    f.scale_y = factor(request.downsample_y);
    if (request.input) {
        f.width = at_resolution(request.input->pixels.world.width, f.scale_x);
        f.height = at_resolution(request.input->pixels.world.height, f.scale_y);
    }
    const BindFrame bind(f);
    PF_InData in = frame_in_data(f);
    PF_OutData out{};
    FrameResult result;
    commands(f, in, out, result);
    return finish(f, std::move(result), out);
}

}  // namespace

float factor(PF_RationalScale d) { return d.den == 0 ? 1.0f : float(d.num) / float(d.den); }

std::int32_t at_resolution(std::int32_t size, float scale) {
    return std::max(std::int32_t(std::ceil(float(size) * scale)), 0);
}

FrameResult request_frame(OfflineHost& host, PF_EffectMainFunc effect_main, const FrameRequest& request) {
    return run_frame(host, request, [&](FrameState& f, PF_InData& in, PF_OutData& out, FrameResult& result) {
        PF_PreRenderInput pre_input{};
        pre_input.output_request.rect = {0, 0, f.width, f.height};
        pre_input.output_request.channel_mask = PF_ChannelMask_ARGB;
        PF_PreRenderOutput pre_output{};
        PF_PreRenderCallbacks pre_callbacks{checkout_layer};
        PF_PreRenderExtra pre{&pre_input, &pre_output, &pre_callbacks};
        result.pre_render = effect_main(PF_Cmd_SMART_PRE_RENDER, &in, &out, nullptr, nullptr, &pre);
        if (result.pre_render != PF_Err_NONE) return;
        f.result_rect = pre_output.result_rect;

        PF_SmartRenderInput smart_input{};
        smart_input.output_request = pre_input.output_request;
        smart_input.pre_render_data =
            request.faults.drop_pre_render_data ? nullptr : pre_output.pre_render_data;
        PF_SmartRenderCallbacks smart_callbacks{checkout_layer_pixels, checkin_layer_pixels, checkout_output};
        PF_SmartRenderExtra smart{&smart_input, &smart_callbacks};
        result.render = effect_main(PF_Cmd_SMART_RENDER, &in, &out, nullptr, nullptr, &smart);

        if (pre_output.delete_pre_render_data_func && pre_output.pre_render_data) {
            record(f, CallKind::DeletePreRenderData);
            pre_output.delete_pre_render_data_func(pre_output.pre_render_data);
        }
    });
}

FrameResult request_frame_plain(OfflineHost& host, PF_EffectMainFunc effect_main,
                                const FrameRequest& request) {
    if (output_format(request) == PF_PixelFormat_ARGB128)
        throw std::invalid_argument("the plain render command has no float worlds; use request_frame");
    return run_frame(host, request, [&](FrameState& f, PF_InData& in, PF_OutData& out, FrameResult& result) {
        // The parameter list: the layers at render resolution, no origin.
        std::vector<PF_ParamDef> defs(host.params.size());
        std::vector<PF_ParamDef*> params(defs.size());
        for (std::size_t i = 0; i < defs.size(); ++i) {
            std::memset(&defs[i], 0, sizeof defs[i]);
            params[i] = &defs[i];
        }
        const auto layer_world = [&](const OfflineLayer* layer) -> std::unique_ptr<OfflineWorld> {
            if (!layer) return std::make_unique<OfflineWorld>(make_world(PF_PixelFormat_ARGB32, 0, 0));
            const std::int32_t w = at_resolution(layer->pixels.world.width, f.scale_x);
            const std::int32_t h = at_resolution(layer->pixels.world.height, f.scale_y);
            return std::make_unique<OfflineWorld>(
                resample_nearest(layer->pixels, w, h, f.scale_x, f.scale_y));
        };
        f.input = layer_world(request.input);
        f.mask = layer_world(request.mask);
        if (defs.size() > 21) {
            defs[0].u.ld = f.input->world;
            defs[21].u.ld = f.mask->world;
        }
        f.result_rect = {0, 0, f.width, f.height};
        WorldLayout layout = request.output_layout;
        layout.origin_x = layout.origin_y = 0;
        f.output =
            std::make_unique<OfflineWorld>(make_world(output_format(request), f.width, f.height, layout));

        result.pre_render = effect_main(PF_Cmd_RENDER, &in, &out, params.data(), &f.output->world, nullptr);
    });
}

HostTime host_time(double seconds, std::uint32_t time_scale) {
    return {std::int32_t(std::llround(seconds * double(time_scale))), 1, time_scale};
}

std::size_t count(const std::vector<HostCall>& calls, CallKind kind, std::int32_t index) {
    return std::size_t(std::count_if(calls.begin(), calls.end(), [&](const HostCall& c) {
        return c.kind == kind && (index == -2 || c.index == index);
    }));
}

}  // namespace lumatrail::offline
