// Worlds the offline host allocates and owns: pixel storage at one of the
// three depths with the host's world record in front, in any layout a host
// may hand out (moved origin, padded or negative row stride, no data at all).
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_contract.h"

namespace lumatrail::offline {

struct WorldLayout {
    std::int32_t origin_x = 0, origin_y = 0;
    std::int32_t row_padding = 0;  // bytes after each row
    bool bottom_up = false;        // negative rowbytes: row 0 is the last row in memory
    bool without_data = false;     // a world whose data pointer is null
};

// The world record comes first, so that a PF_EffectWorld the host handed out
// leads back to its OfflineWorld.
// Copies get their own storage with the world's data pointer moved onto it;
// moves keep the storage (and so the pointer) as it is.
struct OfflineWorld {
    PF_EffectWorld world{};
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    std::vector<std::uint8_t> storage;

    OfflineWorld() = default;
    OfflineWorld(const OfflineWorld& other)
        : world(other.world), format(other.format), storage(other.storage) {
        point_into_own_storage(other);
    }
    OfflineWorld& operator=(const OfflineWorld& other) {
        if (this != &other) {
            world = other.world;
            format = other.format;
            storage = other.storage;
            point_into_own_storage(other);
        }
        return *this;
    }
    OfflineWorld(OfflineWorld&&) noexcept = default;
    OfflineWorld& operator=(OfflineWorld&&) noexcept = default;

private:
    void point_into_own_storage(const OfflineWorld& other) {
        if (other.world.data && !other.storage.empty())
            world.data =
                storage.data() + (static_cast<const std::uint8_t*>(other.world.data) - other.storage.data());
    }
};

// Calls visit with a pixel of the format's type (PF_Pixel, PF_Pixel16 or
// PF_PixelFloat), so that one template serves the three depths. Throws
// std::invalid_argument for an unknown format.
template <class Visitor>
decltype(auto) with_world_pixel_type(PF_PixelFormat format, Visitor&& visit) {
    switch (format) {
    case PF_PixelFormat_ARGB32: return visit(PF_Pixel{});
    case PF_PixelFormat_ARGB64: return visit(PF_Pixel16{});
    case PF_PixelFormat_ARGB128: return visit(PF_PixelFloat{});
    default: throw std::invalid_argument("unknown pixel format " + std::to_string(format));
    }
}

// A channel's full value: 255 at 8 bits, 32768 in the host's 16-bit worlds,
// 1 in float.
template <class Pixel>
inline constexpr float FULL_VALUE = 1.0f;
template <>
inline constexpr float FULL_VALUE<PF_Pixel> = 255.0f;
template <>
inline constexpr float FULL_VALUE<PF_Pixel16> = 32768.0f;

// The three depths of the host's worlds, with the short names that frame
// names carry.
struct NamedDepth {
    const char* name;
    PF_PixelFormat format;
};
inline constexpr NamedDepth WORLD_DEPTHS[] = {
    {"8bit", PF_PixelFormat_ARGB32}, {"16bit", PF_PixelFormat_ARGB64}, {"float", PF_PixelFormat_ARGB128}};

std::size_t pixel_size(PF_PixelFormat format);

// A zero-filled world. Throws std::invalid_argument for an unknown format or
// a negative size.
OfflineWorld make_world(PF_PixelFormat format, std::int32_t width, std::int32_t height,
                        const WorldLayout& layout = {});

// The pixel at column x, row y of the world's data (not layer coordinates).
template <class Pixel>
Pixel* pixel_at(OfflineWorld& w, std::int32_t x, std::int32_t y) {
    return reinterpret_cast<Pixel*>(static_cast<std::uint8_t*>(w.world.data) +
                                    std::int64_t(y) * w.world.rowbytes +
                                    std::int64_t(x) * std::int64_t(sizeof(Pixel)));
}
template <class Pixel>
const Pixel* pixel_at(const OfflineWorld& w, std::int32_t x, std::int32_t y) {
    return pixel_at<Pixel>(const_cast<OfflineWorld&>(w), x, y);
}

// The world at another resolution, each pixel taken from the nearest source
// pixel: the host's downsampled copy of a layer.
OfflineWorld resample_nearest(const OfflineWorld& source, std::int32_t width, std::int32_t height,
                              float scale_x, float scale_y);

// The world's pixels, rows top to bottom without padding.
std::vector<std::uint8_t> packed_pixels(const OfflineWorld& world);

// Whether two worlds hold the same pixels (row padding ignored).
bool same_pixels(const OfflineWorld& a, const OfflineWorld& b);

}  // namespace lumatrail::offline
