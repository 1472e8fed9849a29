#include "host/render_commands.h"

#include <algorithm>
#include <memory>

#include "host/frame_preparation.h"
#include "host/host_error.h"
#include "host/parameters.h"
#include "host/settings_fill.h"

namespace lumatrail {
namespace {

void delete_frame_record(void* record) { delete static_cast<FrameRecord*>(record); }

bool needs_mask(const RenderSettings& s) { return s.mask_mode != MaskOff || s.show_mask; }

// A copy of a parameter's layer world with its origin moved; absent when the
// host passed no parameter.
bool layer_world(PF_ParamDef* params[], std::int32_t index, PF_EffectWorld& world) {
    if (!params || !params[index]) return false;
    world = params[index]->u.ld;
    world.origin_x = 0;
    world.origin_y = 0;
    return true;
}

PF_CheckoutResult checkout_layer(const PF_InData& in_data, PF_PreRenderExtra& extra, std::int32_t index,
                                 std::int32_t checkout_id, const PF_RenderRequest& request) {
    PF_CheckoutResult result{};
    throw_if_error(extra.cb->checkout_layer(in_data.effect_ref, index, checkout_id, &request,
                                            in_data.current_time, in_data.time_step, in_data.time_scale,
                                            &result));
    return result;
}

// The union of a layer's largest possible result and its own frame.
RenderArea union_with_frame(const PF_LRect& r, std::int32_t width, std::int32_t height) {
    return {std::min(r.left, 0), std::min(r.top, 0), std::max(r.right, width), std::max(r.bottom, height)};
}

// Gives the World Suite back when command 24 ends, whatever the path.
struct WorldSuiteLease {
    const SPBasicSuite* basic;
    ~WorldSuiteLease() { basic->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2); }
};

PF_PixelFormat pixel_format(const PF_WorldSuite2& suite, const PF_EffectWorld* world) {
    PF_PixelFormat format = 0;
    throw_if_error(suite.PF_GetPixelFormat(world, &format));
    return format;
}

// The depth of a pixel format; an unsupported format is the host's fault.
PixelDepth supported_depth(PF_PixelFormat format) {
    const std::optional<PixelDepth> depth = depth_of(format);
    if (!depth) throw HostError{PF_Err_BAD_CALLBACK_PARAM};
    return *depth;
}

// The plain render command's worlds are 16-bit when flagged deep, else 8-bit.
bool deep(const PF_EffectWorld& world) { return (world.world_flags & PF_WorldFlag_DEEP) != 0; }

}  // namespace

PF_Err render_plain(const PF_InData& in_data, PF_ParamDef* params[], PF_EffectWorld* output) {
    FrameRecord record;
    record.settings = ReadRenderSettings(in_data);
    record.scale_x = resolution_factor(in_data.downsample_x);
    record.scale_y = resolution_factor(in_data.downsample_y);

    PF_EffectWorld input{};
    const bool has_input = layer_world(params, PARAM_INPUT, input);
    record.layer_rect = {0, 0, has_input ? input.width : 0, has_input ? input.height : 0};
    if (!output) return PF_Err_NONE;
    PF_EffectWorld out = *output;
    out.origin_x = -in_data.output_origin_x;
    out.origin_y = -in_data.output_origin_y;

    // The mask keeps its own size here: the host already gives it at render resolution.
    PF_EffectWorld mask_world{};
    MaskSource mask;
    if (layer_world(params, PARAM_MASK_LAYER, mask_world))
        mask = mask_source(in_data, record, &mask_world,
                           deep(mask_world) ? PixelDepth::Bits16 : PixelDepth::Bits8, mask_world.width,
                           mask_world.height);
    run_renderer(deep(out) ? PixelDepth::Bits16 : PixelDepth::Bits8, in_data, has_input ? &input : nullptr,
                 &out, record, mask);
    return PF_Err_NONE;
}

PF_Err smart_pre_render(const PF_InData& in_data, PF_PreRenderExtra* extra) {
    if (!extra || !extra->input || !extra->output || !extra->cb) throw HostError{PF_Err_BAD_CALLBACK_PARAM};
    // Owned here until the host takes it, so every failure frees it.
    auto record = std::make_unique<FrameRecord>();
    record->settings = ReadRenderSettings(in_data);
    record->scale_x = resolution_factor(in_data.downsample_x);
    record->scale_y = resolution_factor(in_data.downsample_y);
    const std::int32_t width = size_at_resolution(in_data.width, record->scale_x);
    const std::int32_t height = size_at_resolution(in_data.height, record->scale_y);

    PF_RenderRequest request = extra->input->output_request;
    request.rect = {0, 0, 0, 0};
    request.channel_mask = PF_ChannelMask_ARGB;
    request.preserve_rgb_of_zero_alpha = 1;

    const PF_CheckoutResult probe = checkout_layer(in_data, *extra, PARAM_INPUT, INPUT_PROBE_ID, request);
    record->layer_rect = union_with_frame(probe.max_result_rect, width, height);
    request.rect = {record->layer_rect.left, record->layer_rect.top, record->layer_rect.right,
                    record->layer_rect.bottom};
    checkout_layer(in_data, *extra, PARAM_INPUT, INPUT_CHECKOUT_ID, request);

    if (needs_mask(record->settings)) {
        request.rect = {0, 0, 0, 0};
        const PF_CheckoutResult m = checkout_layer(in_data, *extra, PARAM_MASK_LAYER, MASK_PROBE_ID, request);
        record->mask_width = size_at_resolution(m.ref_width, record->scale_x);
        record->mask_height = size_at_resolution(m.ref_height, record->scale_y);
        if (record->mask_width > 0 && record->mask_height > 0) {
            const RenderArea r = union_with_frame(m.max_result_rect, record->mask_width, record->mask_height);
            request.rect = {r.left, r.top, r.right, r.bottom};
            checkout_layer(in_data, *extra, PARAM_MASK_LAYER, MASK_CHECKOUT_ID, request);
            record->mask_checked_out = true;
        }
    }

    PF_PreRenderOutput& out = *extra->output;
    const RenderArea& a = record->layer_rect;
    out.result_rect = out.max_result_rect = {a.left, a.top, a.right, a.bottom};
    out.solid = 0;
    out.flags = std::int16_t(out.flags | PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    out.delete_pre_render_data_func = delete_frame_record;
    out.pre_render_data = record.release();  // the host owns it from here
    return PF_Err_NONE;
}

PF_Err smart_render(const PF_InData& in_data, PF_SmartRenderExtra* extra) {
    if (!extra || !extra->input || !extra->input->pre_render_data)
        throw HostError{PF_Err_INTERNAL_STRUCT_DAMAGED};
    const FrameRecord& record = *static_cast<const FrameRecord*>(extra->input->pre_render_data);
    if (!extra->cb) throw HostError{PF_Err_BAD_CALLBACK_PARAM};

    const void* acquired = nullptr;
    if (!in_data.pica_basicP ||
        in_data.pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &acquired) != 0 || !acquired)
        throw HostError{PF_Err_BAD_CALLBACK_PARAM};
    const WorldSuiteLease lease{in_data.pica_basicP};
    const auto& suite = *static_cast<const PF_WorldSuite2*>(acquired);
    const PF_SmartRenderCallbacks& cb = *extra->cb;

    MaskSource mask;
    PF_EffectWorld* input = nullptr;
    throw_if_error(cb.checkout_layer_pixels(in_data.effect_ref, INPUT_CHECKOUT_ID, &input));
    bool mask_held = false;
    try {
        if (record.mask_checked_out) {
            PF_EffectWorld* mask_world = nullptr;
            throw_if_error(cb.checkout_layer_pixels(in_data.effect_ref, MASK_CHECKOUT_ID, &mask_world));
            mask_held = true;
            const PixelDepth depth = mask_world && mask_world->data
                                         ? supported_depth(pixel_format(suite, mask_world))
                                         : PixelDepth::Bits8;
            mask = mask_source(in_data, record, mask_world, depth, record.mask_width, record.mask_height);
        }
        PF_EffectWorld* output = nullptr;
        throw_if_error(cb.checkout_output(in_data.effect_ref, &output));
        if (output && output->data) {
            const PF_PixelFormat format = pixel_format(suite, output);
            if (input && input->data && pixel_format(suite, input) != format)
                throw HostError{PF_Err_BAD_CALLBACK_PARAM};
            run_renderer(supported_depth(format), in_data, input, output, record, mask);
        }
    } catch (...) {
        // Give the layers back before the failure travels on; their results
        // no longer matter.
        if (mask_held) cb.checkin_layer_pixels(in_data.effect_ref, MASK_CHECKOUT_ID);
        cb.checkin_layer_pixels(in_data.effect_ref, INPUT_CHECKOUT_ID);
        throw;
    }
    // Both check-ins happen before either result is looked at; the mask's wins.
    const PF_Err mask_err =
        mask_held ? cb.checkin_layer_pixels(in_data.effect_ref, MASK_CHECKOUT_ID) : PF_Err_NONE;
    const PF_Err input_err = cb.checkin_layer_pixels(in_data.effect_ref, INPUT_CHECKOUT_ID);
    throw_if_error(mask_err);
    throw_if_error(input_err);
    return PF_Err_NONE;
}

}  // namespace lumatrail
