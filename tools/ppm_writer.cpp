#include "tools/ppm_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace lumatrail::tools {
namespace {

std::uint8_t to_byte(float v) { return std::uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

void rgb_row(const offline::OfflineWorld& w, std::int32_t y, std::uint8_t* out) {
    for (std::int32_t x = 0; x < w.world.width; ++x, out += 3) {
        switch (w.format) {
        case PF_PixelFormat_ARGB64: {
            const PF_Pixel16& p = *offline::pixel_at<PF_Pixel16>(w, x, y);
            out[0] = to_byte(p.red / 32768.0f), out[1] = to_byte(p.green / 32768.0f), out[2] = to_byte(p.blue / 32768.0f);
            break;
        }
        case PF_PixelFormat_ARGB128: {
            const PF_PixelFloat& p = *offline::pixel_at<PF_PixelFloat>(w, x, y);
            out[0] = to_byte(p.red), out[1] = to_byte(p.green), out[2] = to_byte(p.blue);
            break;
        }
        default: {
            const PF_Pixel& p = *offline::pixel_at<PF_Pixel>(w, x, y);
            out[0] = p.red, out[1] = p.green, out[2] = p.blue;
        }
        }
    }
}

}  // namespace

void write_ppm(const offline::OfflineWorld& w, const std::string& path) {
    if (!w.world.data) throw std::runtime_error("nothing was rendered to write to \"" + path + "\"");
    const std::string temporary = path + ".partial";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write \"" + path + "\": " + std::strerror(errno));
    bool ok = std::fprintf(f, "P6\n%d %d\n255\n", w.world.width, w.world.height) > 0;
    std::vector<std::uint8_t> row(std::size_t(w.world.width) * 3);
    for (std::int32_t y = 0; ok && y < w.world.height; ++y) {
        rgb_row(w, y, row.data());
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write \"" + path + "\": " + reason);
    }
}

}  // namespace lumatrail::tools
