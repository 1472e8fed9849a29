// The host's side of the effect interface: the records, callbacks and
// constants the effect exchanges with the compositing host, declared with the
// host's own names. This is the only file that declares host types; the
// effect, the offline host and the tools all include it.
//
// Conventions of the host: every callback returns a PF_Err (0 = success);
// pixels are premultiplied and stored alpha, red, green, blue; rectangles are
// in layer pixels with right and bottom exclusive; times are rational
// (time / time_scale seconds).
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define LUMATRAIL_EXPORT __declspec(dllexport)
#else
#define LUMATRAIL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

using PF_Err = std::int32_t;
using PF_Cmd = std::int32_t;
using PF_ParamIndex = std::int32_t;
using PF_ProgPtr = void*;  // the host's handle for one effect instance
using PF_PixelFormat = std::int32_t;
using SPErr = std::int32_t;

// Error codes.
enum : PF_Err {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_BAD_CALLBACK_PARAM = 516,
};

// Command numbers sent to EffectMain.
enum : PF_Cmd {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_RENDER = 11,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24,
};

// out_flags and out_flags2 bits.
enum : std::int32_t {
    PF_OutFlag_NON_PARAM_VARY = 0x00000004,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x00000100,
    PF_OutFlag_DEEP_COLOR_AWARE = 0x02000000,
};
enum : std::int32_t {
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 0x00000008,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x00000400,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 0x00001000,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 0x08000000,
};

enum : std::int32_t { PF_WorldFlag_DEEP = 0x1 };
enum : std::int16_t { PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1 };
enum : std::int32_t { PF_ChannelMask_ARGB = 15 };

// Parameter kinds.
enum : std::int32_t {
    PF_Param_LAYER = 0,
    PF_Param_CHECKBOX = 4,
    PF_Param_POPUP = 7,
    PF_Param_FLOAT_SLIDER = 10,
    PF_Param_GROUP_START = 13,
    PF_Param_GROUP_END = 14,
};

// Pixel formats: four characters, the first in the lowest byte.
enum : PF_PixelFormat {
    PF_PixelFormat_ARGB32 = 0x62677261,   // "argb", 8 bits per channel
    PF_PixelFormat_ARGB64 = 0x36316561,   // "ae16", 16 bits per channel
    PF_PixelFormat_ARGB128 = 0x32336561,  // "ae32", float
};

enum { PF_MAX_EFFECT_MSG_LEN = 255, PF_MAX_EFFECT_PARAM_NAME_LEN = 31 };

struct PF_LRect {
    std::int32_t left, top, right, bottom;
};

struct PF_RationalScale {
    std::int32_t num;
    std::uint32_t den;
};

struct PF_Pixel {
    std::uint8_t alpha, red, green, blue;
};
struct PF_Pixel16 {
    std::uint16_t alpha, red, green, blue;
};
struct PF_PixelFloat {
    float alpha, red, green, blue;
};

struct PF_LayerDef {
    std::int32_t world_flags;
    void* data;  // first byte of row 0; may be null
    std::int32_t rowbytes;
    std::int32_t width, height;
    std::int32_t origin_x, origin_y;
};
using PF_EffectWorld = PF_LayerDef;

// --- Parameters -----------------------------------------------------------

struct PF_FloatSliderDef {
    double value;
    float dephault;
    float valid_min, valid_max;
    float slider_min, slider_max;
    std::int16_t precision;
    std::int16_t display_flags;
};

struct PF_PopupDef {
    std::int32_t value;  // one-based choice
    std::int16_t num_choices;
    std::int16_t dephault;
    union {
        const char* namesptr;  // choices separated by '|'
    } u;
};

struct PF_CheckBoxDef {
    std::int32_t value;
    std::uint8_t dephault;
    union {
        const char* nameptr;
    } u;
};

union PF_ParamDefUnion {
    PF_LayerDef ld;
    PF_FloatSliderDef fs_d;
    PF_PopupDef pd;
    PF_CheckBoxDef bd;
};

struct PF_ParamDef {
    union {
        std::int32_t id;
    } uu;
    std::int32_t param_type;
    char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    std::int32_t ui_flags;
    std::int16_t ui_width, ui_height;
    std::int32_t flags;
    PF_ParamDefUnion u;
};

// --- Smart rendering --------------------------------------------------------

struct PF_RenderRequest {
    PF_LRect rect;
    std::int32_t field;
    std::int32_t channel_mask;
    std::uint8_t preserve_rgb_of_zero_alpha;
    std::uint8_t unused[3];
};

struct PF_CheckoutResult {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    std::int32_t solid;
    std::int32_t ref_width, ref_height;
};

using PF_DeletePreRenderDataFunc = void (*)(void* pre_render_data);

struct PF_PreRenderInput {
    PF_RenderRequest output_request;
    std::int16_t bitdepth;
};

struct PF_PreRenderOutput {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    std::uint8_t solid;
    std::uint8_t reserved;
    std::int16_t flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
};

struct PF_PreRenderCallbacks {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, std::int32_t checkout_id,
                             const PF_RenderRequest* req, std::int32_t what_time, std::int32_t time_step,
                             std::uint32_t time_scale, PF_CheckoutResult* checkout_result);
};

struct PF_PreRenderExtra {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
};

struct PF_SmartRenderInput {
    PF_RenderRequest output_request;
    std::int16_t bitdepth;
    void* pre_render_data;
};

struct PF_SmartRenderCallbacks {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, std::int32_t checkout_id, PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, std::int32_t checkout_id);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
};

struct PF_SmartRenderExtra {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
};

// --- Suites -----------------------------------------------------------------

struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, std::int32_t version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, std::int32_t version);
};

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2

struct PF_WorldSuite2 {
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* world, PF_PixelFormat* pixel_format);
};

// --- Command records --------------------------------------------------------

struct PF_InteractCallbacks {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, std::int32_t what_time,
                             std::int32_t time_step, std::uint32_t time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
};

struct PF_InData {
    PF_InteractCallbacks inter;
    PF_ProgPtr effect_ref;
    std::int32_t current_time;
    std::int32_t time_step;
    std::uint32_t time_scale;
    std::int32_t width, height;
    PF_RationalScale downsample_x, downsample_y;
    std::int32_t output_origin_x, output_origin_y;
    SPBasicSuite* pica_basicP;
};

struct PF_OutData {
    std::uint32_t my_version;
    std::int32_t out_flags;
    std::int32_t out_flags2;
    std::int32_t num_params;
    char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
};

// --- Registration -----------------------------------------------------------

using PF_PluginDataPtr = void*;
using PF_PluginDataCB2 = PF_Err (*)(PF_PluginDataPtr context, const char* name, const char* match_name,
                                    const char* category, const char* entry_point_name, std::int32_t kind,
                                    std::int32_t api_version_major, std::int32_t api_version_minor,
                                    std::int32_t reserved_info, const char* support_url);

// The two functions the module exports.
using PF_EffectMainFunc = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void* extra);
using PF_PluginDataEntryFunc2 = PF_Err (*)(PF_PluginDataPtr context, PF_PluginDataCB2 callback,
                                           SPBasicSuite* basic_suite, const char* host_name,
                                           const char* host_version);

LUMATRAIL_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                   PF_ParamDef* params[], PF_LayerDef* output, void* extra);
LUMATRAIL_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr context, PF_PluginDataCB2 callback,
                                                 SPBasicSuite* basic_suite, const char* host_name,
                                                 const char* host_version);

}  // extern "C"
