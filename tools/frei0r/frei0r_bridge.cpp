#include "tools/frei0r/frei0r_bridge.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "host/parameters.h"
#include "offline/frei0r_controls.h"
#include "offline/frei0r_text.h"
#include "offline/offline_frame.h"
#include "offline/param_values.h"

namespace lumatrail::frei0r {
namespace {

double current_value(const offline::OfflineParam& p) { return p.keys.front().value; }

ParamKind kind_of(std::int32_t param_type) {
    return param_type == PF_Param_POPUP      ? ParamKind::String
           : param_type == PF_Param_CHECKBOX ? ParamKind::Bool
                                             : ParamKind::Double;
}

std::vector<ExposedParam> learn_params() noexcept {
    try {
        offline::OfflineHost host;
        if (offline::load_parameters(host, EffectMain) != PF_Err_NONE) return {};
        std::vector<ExposedParam> params;
        for (const std::int32_t index : offline::frei0r_controls()) {
            const offline::OfflineParam& p = host.params.at(std::size_t(index));
            params.push_back({index, kind_of(p.declared.param_type), p.name,
                              offline::frei0r_explanation(p, param_row(index))});
        }
        return params;
    } catch (...) {
        return {};
    }
}

const ExposedParam* exposed(int index) {
    const std::vector<ExposedParam>& params = exposed_params();
    return index >= 0 && std::size_t(index) < params.size() ? &params[std::size_t(index)] : nullptr;
}

// The largest time in seconds the host's 32-bit count holds at its scale.
constexpr double LONGEST_TIME = double(std::numeric_limits<std::int32_t>::max() / 24000);

}  // namespace

const std::vector<ExposedParam>& exposed_params() {
    static const std::vector<ExposedParam> params = learn_params();
    return params;
}

HostKind loading_host() {
    if (dlsym(RTLD_DEFAULT, "mlt_factory_init")) return HostKind::Other;
    if (dlsym(RTLD_DEFAULT, "avfilter_version")) return HostKind::Libavfilter;
    return HostKind::Other;
}

TimeUnit time_unit_of(HostKind host) {
    return host == HostKind::Libavfilter ? TimeUnit::Milliseconds : TimeUnit::Seconds;
}

bool pads_rows(HostKind host, unsigned width) { return host == HostKind::Libavfilter && width % 16 != 0; }

std::string padded_rows_message(unsigned width, unsigned height) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    const std::string padded = std::to_string((std::uint64_t(width) + 15) / 16 * 16);
    return "lumatrail: ffmpeg pads the rows of a picture " + w +
           " pixels wide and a frei0r filter cannot see the padding; pad the width to a multiple of 16 "
           "first and crop back: -vf \"pad=" +
           padded + ":" + h + ",frei0r=lumatrail,crop=" + w + ":" + h + ":0:0\"";
}

std::unique_ptr<Instance> make_instance(unsigned width, unsigned height, HostKind host_kind) {
    constexpr unsigned LARGEST = unsigned(std::numeric_limits<std::int32_t>::max());
    if (width == 0 || height == 0 || width > LARGEST || height > LARGEST || exposed_params().empty())
        return nullptr;
    try {
        if (pads_rows(host_kind, width)) {
            std::fprintf(stderr, "%s\n", padded_rows_message(width, height).c_str());
            return nullptr;
        }
        auto instance = std::make_unique<Instance>();
        if (offline::load_parameters(instance->host, EffectMain) != PF_Err_NONE) return nullptr;
        offline::clear_calls(instance->host);  // the record of parameter setup is of no use here
        instance->width = std::int32_t(width);
        instance->height = std::int32_t(height);
        instance->time_unit = time_unit_of(host_kind);
        return instance;
    } catch (...) {
        return nullptr;
    }
}

void set_param(Instance& instance, int index, const void* value) {
    const ExposedParam* e = exposed(index);
    if (!e || !value) return;
    offline::OfflineParam& p = instance.host.params[std::size_t(e->host_index)];
    try {
        switch (e->kind) {
        case ParamKind::Double: {
            const double v =
                offline::units_from_frei0r(param_row(e->host_index), *static_cast<const double*>(value));
            if (!std::isnan(v)) offline::set_param_value(instance.host, e->host_index, v);
            break;
        }
        case ParamKind::Bool: {
            const double v = *static_cast<const double*>(value);
            if (!std::isnan(v)) offline::set_param_value(instance.host, e->host_index, v >= 0.5 ? 1.0 : 0.0);
            break;
        }
        case ParamKind::String: {
            const char* text = *static_cast<const char* const*>(value);
            if (text) offline::set_param_value(instance.host, e->host_index, offline::parse_value(p, text));
            break;
        }
        }
    } catch (const std::exception&) {
        // An unknown choice or a choice number out of range: the value stays.
    }
}

void get_param(const Instance& instance, int index, void* value) {
    const ExposedParam* e = exposed(index);
    if (!e || !value) return;
    const offline::OfflineParam& p = instance.host.params[std::size_t(e->host_index)];
    switch (e->kind) {
    case ParamKind::Double:
        *static_cast<double*>(value) = offline::frei0r_from_units(param_row(e->host_index), current_value(p));
        break;
    case ParamKind::Bool: *static_cast<double*>(value) = current_value(p) != 0 ? 1.0 : 0.0; break;
    case ParamKind::String:
        // frei0r hands out the plug-in's own copy; the choices live as long as the instance.
        *static_cast<const char**>(value) = p.choices[std::size_t(current_value(p)) - 1].c_str();
        break;
    }
}

offline::OfflineWorld world_from_rgba(const std::uint32_t* rgba, std::int32_t width, std::int32_t height) {
    offline::OfflineWorld world = offline::make_world(PF_PixelFormat_ARGB32, width, height);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(rgba);
    for (std::int32_t y = 0; y < height; ++y) {
        PF_Pixel* row = offline::pixel_at<PF_Pixel>(world, 0, y);
        for (std::int32_t x = 0; x < width; ++x, bytes += 4) {
            const unsigned a = bytes[3];
            const auto premultiplied = [a](unsigned c) { return std::uint8_t(c * a / 255u); };
            row[x] = {std::uint8_t(a), premultiplied(bytes[0]), premultiplied(bytes[1]),
                      premultiplied(bytes[2])};
        }
    }
    return world;
}

void rgba_from_world(const offline::OfflineWorld& world, std::uint32_t* rgba) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(rgba);
    for (std::int32_t y = 0; y < world.world.height; ++y) {
        const PF_Pixel* row = offline::pixel_at<PF_Pixel>(world, 0, y);
        for (std::int32_t x = 0; x < world.world.width; ++x, bytes += 4) {
            const unsigned a = row[x].alpha;
            if (a == 255) {  // the usual case: nothing to divide
                bytes[0] = row[x].red, bytes[1] = row[x].green, bytes[2] = row[x].blue, bytes[3] = 255;
                continue;
            }
            const auto straight = [a](unsigned c) {
                return a == 0 ? std::uint8_t(0) : std::uint8_t(std::min(255u, (c * 255u + a / 2u) / a));
            };
            bytes[0] = straight(row[x].red);
            bytes[1] = straight(row[x].green);
            bytes[2] = straight(row[x].blue);
            bytes[3] = std::uint8_t(a);
        }
    }
}

offline::HostTime frame_time(double time, TimeUnit unit) {
    const double seconds = unit == TimeUnit::Milliseconds ? time / 1000.0 : time;
    // No time at all (ffmpeg passes its "no timestamp" for some stills) renders at 0.
    return offline::host_time(std::isfinite(seconds) && std::abs(seconds) <= LONGEST_TIME ? seconds : 0.0);
}

bool render(Instance& instance, double time, const std::uint32_t* in, std::uint32_t* out) {
    const std::size_t bytes = std::size_t(instance.width) * std::size_t(instance.height) * 4u;
    try {
        const offline::OfflineLayer input{world_from_rgba(in, instance.width, instance.height), {}, {}, {}};
        offline::FrameRequest request;
        request.input = &input;
        request.time = frame_time(time, instance.time_unit);
        const offline::FrameResult result = offline::request_frame(instance.host, EffectMain, request);
        const PF_EffectWorld& w = result.output.world;
        if (result.pre_render == PF_Err_NONE && result.render == PF_Err_NONE && w.data &&
            result.output.format == PF_PixelFormat_ARGB32 && w.width == instance.width &&
            w.height == instance.height) {
            rgba_from_world(result.output, out);
            return true;
        }
    } catch (...) {
        // Out of memory or a frame the host cannot hand out: the input passes through.
    }
    if (out != in) std::memmove(out, in, bytes);
    return false;
}

}  // namespace lumatrail::frei0r
