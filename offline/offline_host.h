// The offline host: plays the compositing host's side of the effect interface
// in tests and tools. It learns the parameter list from the effect itself
// (parameter setup), keeps a value (or keyframes) per parameter, answers
// parameter check-outs at a frame's time, hands out layers and worlds, renders
// frames through the smart-render protocol (offline/offline_frame.h), records
// the calls the effect makes, and can be told to fail chosen calls.
//
// The effect reaches the host through the callbacks of PF_InData, whose
// effect_ref points at an OfflineContext. Several frames may render at once on
// several threads: the parameter list is read-only while commands run, every
// frame keeps its own state and call record, and the host's own record is
// guarded by a mutex.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_contract.h"
#include "offline/offline_world.h"

namespace lumatrail::offline {

// A value from a time on; sliders interpolate linearly between keys, popups
// and checkboxes hold each key's value until the next.
struct ParamKey {
    double time_seconds;
    double value;
};

struct OfflineParam {
    PF_ParamDef declared;  // as the effect declared it; string pointers cleared
    std::string name;
    std::string choices_text;          // popups: "A|B|C"
    std::vector<std::string> choices;  // popups: the choices split
    std::vector<ParamKey> keys;        // sorted by time; never empty for values
};

// Calls of parameter setup to fail. Counts are one-based; 0 or -1 means never.
struct FaultPlan {
    int fail_add_param_call = 0;  // the k-th add_param call returns add_param_error
    PF_Err add_param_error = PF_Err_OUT_OF_MEMORY;
    PF_ParamIndex fail_checkout_param = -1;  // check-outs of this index fail
    PF_Err checkout_param_error = PF_Err_BAD_CALLBACK_PARAM;
};

enum class CallKind {
    AddParam,
    CheckoutParam,
    CheckinParam,
    CheckoutLayer,        // index: checkout id
    CheckoutLayerPixels,  // index: checkout id
    CheckinLayerPixels,   // index: checkout id
    CheckoutOutput,
    AcquireSuite,
    ReleaseSuite,
    GetPixelFormat,
    DeletePreRenderData,
};

struct HostCall {
    CallKind kind;
    std::int32_t index;  // parameter index or checkout id; -1 where none
};

// A frame time as the host passes it: time / time_scale seconds.
struct HostTime {
    std::int32_t time = 0;
    std::int32_t time_step = 1;
    std::uint32_t time_scale = 30;
};

struct FrameState;

// What effect_ref points at: the host, and the frame being rendered with its
// own call record (or none).
struct OfflineContext {
    struct OfflineHost* host;
    FrameState* frame;
    std::vector<HostCall>* frame_calls;
};

struct OfflineHost {
    std::vector<OfflineParam> params;  // index 0 is the input layer, as in the host
    FaultPlan faults;
    mutable std::mutex calls_mutex;
    std::vector<HostCall> calls;  // calls made outside frames
    OfflineContext context{this, nullptr, nullptr};
};

// Runs parameter setup (command 4) through the effect's entry point and keeps
// what the effect declares. On failure the effect's code is returned and the
// list holds what was accepted before it.
PF_Err load_parameters(OfflineHost& host, PF_EffectMainFunc effect_main);

// In-data for one command at the given time, with the host's callbacks.
PF_InData make_in_data(OfflineHost& host, HostTime time = {});
// The same for a command whose effect_ref is the given context (a frame's).
PF_InData make_in_data(OfflineContext& context, HostTime time);

// Sends a command that takes no parameters, layers or extra data (About,
// global setup, parameter setup) at time 0; returns the effect's code.
PF_Err send_command(OfflineHost& host, PF_EffectMainFunc effect_main, PF_Cmd cmd, PF_OutData& out_data);

// Index of the parameter with this UI name, or -1.
std::int32_t find_param(const OfflineHost& host, std::string_view ui_name);

// Sets a constant value (slider value, one-based popup choice, checkbox 0 or
// 1). Throws std::invalid_argument saying what the parameter accepts when the
// value is outside its valid range or the parameter holds no value. Slider
// ranges are compared in single precision, as declared; a value that rounds
// onto an end is kept as exactly that end.
void set_param_value(OfflineHost& host, std::int32_t index, double value);
void set_param_value(OfflineHost& host, std::string_view ui_name, double value);

// Sets keyframes; each value is checked as set_param_value does.
void set_param_keys(OfflineHost& host, std::int32_t index, std::vector<ParamKey> keys);

// Copies of the host's call record (calls outside frames) and counts in it.
std::vector<HostCall> recorded_calls(const OfflineHost& host);
std::size_t count_calls(const OfflineHost& host, CallKind kind);
void clear_calls(OfflineHost& host);

// Names of the parameter kinds, for messages and tables.
std::string_view param_kind_name(std::int32_t param_type);

}  // namespace lumatrail::offline
