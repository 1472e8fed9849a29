#include "tools/lumatrail/image_io.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

std::uint16_t to_world16(std::uint16_t v) { return std::uint16_t((std::uint32_t(v) * 32768u + 32767u) / 65535u); }
std::uint16_t from_world16(std::uint16_t v) {
    return std::uint16_t((std::min<std::uint32_t>(v, 32768u) * 65535u + 16384u) / 32768u);
}

PF_PixelFormat natural_depth(TypeDesc t) {
    if (t == TypeDesc::UINT8 || t == TypeDesc::INT8) return PF_PixelFormat_ARGB32;
    if (t == TypeDesc::UINT16 || t == TypeDesc::INT16) return PF_PixelFormat_ARGB64;
    return PF_PixelFormat_ARGB128;
}

// RGBA of pixel i from the file's interleaved channels.
template <class T>
void rgba_of(const std::vector<T>& data, int channels, int alpha_channel, std::size_t i, T full, T out[4]) {
    const T* p = data.data() + i * std::size_t(channels);
    if (channels >= 3) {
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
    } else {
        out[0] = out[1] = out[2] = p[0];
    }
    out[3] = alpha_channel >= 0 && alpha_channel < channels ? p[alpha_channel]
             : channels == 2                                ? p[1]
                                                            : full;
}

template <class T>
std::vector<T> read_pixels(ImageInput& in, TypeDesc type, const std::string& path) {
    const ImageSpec& spec = in.spec();
    std::vector<T> data(std::size_t(spec.width) * std::size_t(spec.height) * std::size_t(spec.nchannels));
    if (!in.read_image(0, 0, 0, spec.nchannels, type, data.data()))
        throw ToolError(EXIT_INPUT, "cannot read \"" + path + "\": " + in.geterror());
    return data;
}

}  // namespace

offline::OfflineWorld convert_depth(const offline::OfflineWorld& src, PF_PixelFormat format) {
    if (src.format == format) return src;
    const std::int32_t w = src.world.width, h = src.world.height;
    offline::OfflineWorld out = offline::make_world(format, w, h);
    auto unit = [&](std::int32_t x, std::int32_t y, float c[4]) {
        switch (src.format) {
        case PF_PixelFormat_ARGB32: {
            const PF_Pixel& p = *offline::pixel_at<PF_Pixel>(src, x, y);
            c[0] = p.alpha / 255.0f, c[1] = p.red / 255.0f, c[2] = p.green / 255.0f, c[3] = p.blue / 255.0f;
            break;
        }
        case PF_PixelFormat_ARGB64: {
            const PF_Pixel16& p = *offline::pixel_at<PF_Pixel16>(src, x, y);
            c[0] = p.alpha / 32768.0f, c[1] = p.red / 32768.0f, c[2] = p.green / 32768.0f, c[3] = p.blue / 32768.0f;
            break;
        }
        default: {
            const PF_PixelFloat& p = *offline::pixel_at<PF_PixelFloat>(src, x, y);
            c[0] = p.alpha, c[1] = p.red, c[2] = p.green, c[3] = p.blue;
        }
        }
    };
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            float c[4];
            unit(x, y, c);
            if (format == PF_PixelFormat_ARGB128) {
                *offline::pixel_at<PF_PixelFloat>(out, x, y) = {c[0], c[1], c[2], c[3]};
            } else {
                const float full = format == PF_PixelFormat_ARGB64 ? 32768.0f : 255.0f;
                auto q = [full](float v) { return std::uint16_t(std::lround(std::clamp(v, 0.0f, 1.0f) * full)); };
                if (format == PF_PixelFormat_ARGB64)
                    *offline::pixel_at<PF_Pixel16>(out, x, y) = {q(c[0]), q(c[1]), q(c[2]), q(c[3])};
                else
                    *offline::pixel_at<PF_Pixel>(out, x, y) = {std::uint8_t(q(c[0])), std::uint8_t(q(c[1])),
                                                               std::uint8_t(q(c[2])), std::uint8_t(q(c[3]))};
            }
        }
    return out;
}

offline::OfflineWorld read_image(const std::string& path, std::optional<PF_PixelFormat> depth) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw ToolError(EXIT_INPUT, "no such file: \"" + path + "\"");
    auto in = ImageInput::open(path);
    if (!in) throw ToolError(EXIT_INPUT, "cannot read \"" + path + "\": " + OIIO::geterror());
    const ImageSpec spec = in->spec();
    if (spec.width < 1 || spec.height < 1 || spec.width > 65536 || spec.height > 65536)
        throw ToolError(EXIT_INPUT, "\"" + path + "\" is " + std::to_string(spec.width) + "x" +
                                        std::to_string(spec.height) + "; sizes from 1 to 65536 are supported");
    const PF_PixelFormat format = natural_depth(spec.format);
    offline::OfflineWorld world = offline::make_world(format, spec.width, spec.height);
    const std::size_t n = std::size_t(spec.width) * std::size_t(spec.height);
    const int ch = spec.nchannels, ac = spec.alpha_channel;
    if (format == PF_PixelFormat_ARGB32) {
        const auto data = read_pixels<std::uint8_t>(*in, TypeDesc::UINT8, path);
        auto* px = static_cast<PF_Pixel*>(world.world.data);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t c[4];
            rgba_of<std::uint8_t>(data, ch, ac, i, 255, c);
            px[i] = {c[3], c[0], c[1], c[2]};
        }
    } else if (format == PF_PixelFormat_ARGB64) {
        const auto data = read_pixels<std::uint16_t>(*in, TypeDesc::UINT16, path);
        auto* px = static_cast<PF_Pixel16*>(world.world.data);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint16_t c[4];
            rgba_of<std::uint16_t>(data, ch, ac, i, 65535, c);
            px[i] = {to_world16(c[3]), to_world16(c[0]), to_world16(c[1]), to_world16(c[2])};
        }
    } else {
        const auto data = read_pixels<float>(*in, TypeDesc::FLOAT, path);
        auto* px = static_cast<PF_PixelFloat*>(world.world.data);
        for (std::size_t i = 0; i < n; ++i) {
            float c[4];
            rgba_of<float>(data, ch, ac, i, 1.0f, c);
            px[i] = {c[3], c[0], c[1], c[2]};
        }
    }
    in->close();
    return depth ? convert_depth(world, *depth) : world;
}

bool can_write(const std::string& path) {
    return ImageOutput::create(path) != nullptr;
}

void write_image(const offline::OfflineWorld& w, const std::string& path) {
    if (!w.world.data) throw ToolError(EXIT_OUTPUT, "nothing was rendered to write to \"" + path + "\"");
    const fs::path target(path);
    std::error_code ec;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec))
        throw ToolError(EXIT_OUTPUT, "the folder \"" + folder.string() + "\" for \"" + path + "\" does not exist");
    auto out = ImageOutput::create(path);
    if (!out)
        throw ToolError(EXIT_OUTPUT, "cannot write \"" + path + "\": no image format is known for its extension "
                                     "(try .png, .tif, .exr, .jpg or .dpx)");
    const bool alpha = out->supports("alpha");
    const int channels = alpha ? 4 : 3;
    const TypeDesc type = w.format == PF_PixelFormat_ARGB32   ? TypeDesc::UINT8
                          : w.format == PF_PixelFormat_ARGB64 ? TypeDesc::UINT16
                                                              : TypeDesc::FLOAT;
    ImageSpec spec(w.world.width, w.world.height, channels, type);
    spec.alpha_channel = alpha ? 3 : -1;

    const std::size_t n = std::size_t(w.world.width) * std::size_t(w.world.height);
    std::vector<std::uint8_t> buffer(n * std::size_t(channels) * type.size());
    for (std::int32_t y = 0; y < w.world.height; ++y)
        for (std::int32_t x = 0; x < w.world.width; ++x) {
            const std::size_t i = (std::size_t(y) * std::size_t(w.world.width) + std::size_t(x)) * std::size_t(channels);
            if (type == TypeDesc::UINT8) {
                const PF_Pixel& p = *offline::pixel_at<PF_Pixel>(w, x, y);
                const std::uint8_t c[4] = {p.red, p.green, p.blue, p.alpha};
                std::copy_n(c, channels, buffer.data() + i);
            } else if (type == TypeDesc::UINT16) {
                const PF_Pixel16& p = *offline::pixel_at<PF_Pixel16>(w, x, y);
                const std::uint16_t c[4] = {from_world16(p.red), from_world16(p.green), from_world16(p.blue),
                                            from_world16(p.alpha)};
                std::copy_n(c, channels, reinterpret_cast<std::uint16_t*>(buffer.data()) + i);
            } else {
                const PF_PixelFloat& p = *offline::pixel_at<PF_PixelFloat>(w, x, y);
                const float c[4] = {p.red, p.green, p.blue, p.alpha};
                std::copy_n(c, channels, reinterpret_cast<float*>(buffer.data()) + i);
            }
        }

    // Same folder, so the rename cannot cross file systems; the real name's
    // format was chosen above.
    std::string hidden_name(1, '.');
    hidden_name.append(target.filename().string()).append(".partial");
    const std::string temporary = (folder / hidden_name).string();
    const bool ok = out->open(temporary, spec) && out->write_image(type, buffer.data()) && out->close();
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = ok ? "cannot rename the finished file into place" : out->geterror();
        std::remove(temporary.c_str());
        throw ToolError(EXIT_OUTPUT, "cannot write \"" + path + "\": " + reason);
    }
}

}  // namespace lumatrail::tools
