// The effect as a frei0r filter: the frei0r host's calls become what the
// offline host does for the lumatrail command line. An instance holds an
// offline host with the effect's own parameter list and the values set on it;
// each frame goes through EffectMain (smart pre-render, smart render) at the
// frame's time, as `lumatrail render IN --time T --set ...` renders it.
//
// frei0r parameters: the controls of offline/frei0r_controls.h, in its order.
//   sliders    F0R_PARAM_DOUBLE: the value in units over the control's scale
//              (% over 100, so Center X 0 to 1 is the left to the right edge;
//              degrees over 360, one turn; the others over the slider's top);
//              values beyond reach the rest of the valid range and are
//              limited to it
//   popups     F0R_PARAM_STRING: the choice's text, its slug or its number
//   checkboxes F0R_PARAM_BOOL: 0.5 and above is on
// A NaN, an unknown choice or a bad index changes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "offline/offline_host.h"
#include "offline/offline_world.h"

namespace lumatrail::frei0r {

// The frei0r parameter kinds (as frei0r.h numbers them).
enum class ParamKind : int { Bool = 0, Double = 1, String = 4 };

struct ExposedParam {
    std::int32_t host_index = 0;  // the effect's parameter index
    ParamKind kind = ParamKind::Double;
    std::string name;         // the effect's UI name
    std::string explanation;  // the range, the choices or the default, from the declaration
};

// The parameters frei0r sees, learned once from the effect's parameter setup
// and never changed after; empty if parameter setup failed.
const std::vector<ExposedParam>& exposed_params();

// Which unit a frei0r host counts f0r_update's time in. The frei0r filter of
// libavfilter (ffmpeg) passes milliseconds; MLT (melt, and the editors on it)
// and the other hosts pass seconds.
enum class TimeUnit { Seconds, Milliseconds };

// The kind of program that loaded the module, as far as it matters here:
// libavfilter's frei0r filter (libavfilter loaded without MLT), or another
// host (MLT, GStreamer, ...).
enum class HostKind { Libavfilter, Other };
HostKind loading_host();

// The host's unit: milliseconds for libavfilter, seconds for the others.
TimeUnit time_unit_of(HostKind host);

// Whether the host hands pictures `width` pixels wide with padded rows, which
// a frei0r filter (given no row stride) would read sheared. libavfilter pads
// each row to its buffers' alignment, up to 64 bytes, so only widths that are
// a multiple of 16 come packed; MLT and GStreamer pass packed rows.
bool pads_rows(HostKind host, unsigned width);

// The one line that refuses such a picture and names the fix: a chain that
// pads the width to a multiple of 16 and crops back.
std::string padded_rows_message(unsigned width, unsigned height);

struct Instance {
    offline::OfflineHost host;  // the effect's parameters with this instance's values
    std::int32_t width = 0, height = 0;
    TimeUnit time_unit = TimeUnit::Seconds;
};

// A new instance for frames of width x height from `host` with the effect's
// defaults, or null when the size is zero, parameter setup fails, or the host
// pads the rows of pictures that wide (then after printing
// padded_rows_message on stderr).
std::unique_ptr<Instance> make_instance(unsigned width, unsigned height, HostKind host);

// frei0r's set and get: `value` points at a double (Bool, Double) or at a
// char* (String). A bad index is ignored; set ignores what it cannot take.
void set_param(Instance& instance, int index, const void* value);
void get_param(const Instance& instance, int index, void* value);

// frei0r RGBA8888 (bytes R, G, B, A, straight alpha) to the host's 8-bit
// world (premultiplied ARGB) and back. Premultiplying truncates, as the PNG
// reader of the command line does: c * a / 255. Unpremultiplying rounds to
// the nearest: (c * 255 + a / 2) / a, at most 255; a pixel with alpha 0 is
// 0, 0, 0, 0. Opaque pixels pass through unchanged either way.
offline::OfflineWorld world_from_rgba(const std::uint32_t* rgba, std::int32_t width, std::int32_t height);
void rgba_from_world(const offline::OfflineWorld& world, std::uint32_t* rgba);

// The host's time for f0r_update's time in the host's unit; a time that is
// not finite or beyond the host's range (about 24.8 hours either way) is 0.
offline::HostTime frame_time(double time, TimeUnit unit);

// One frame through EffectMain. Returns false when the effect fails (the
// output is then a copy of the input: frei0r has no way to report errors).
bool render(Instance& instance, double time, const std::uint32_t* in, std::uint32_t* out);

}  // namespace lumatrail::frei0r
