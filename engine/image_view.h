// ImageView: a non-owning description of one host world, addressed in layer
// coordinates. Pixel (X, Y) lives at column X − origin_x and row Y − origin_y;
// rows are row_bytes apart, which may be negative (rows going downward in
// memory from data).
//
// Reads of pixels that do not exist (no data, or outside the world) give
// transparent black; writes there are dropped. Neither is an error.
#pragma once

#include <cstdint>
#include <cstring>

namespace lumatrail {

struct ImageView {
    std::uint8_t* data = nullptr;  // first byte of row 0; may be null
    std::int32_t width = 0, height = 0;
    std::int64_t row_bytes = 0;
    std::int32_t origin_x = 0, origin_y = 0;
};

// Address of the pixel at layer (x, y), or null when it does not exist.
template <class Pixel>
std::uint8_t* pixel_address(const ImageView& view, std::int32_t x, std::int32_t y) {
    const std::int64_t u = std::int64_t(x) - view.origin_x;
    const std::int64_t v = std::int64_t(y) - view.origin_y;
    if (!view.data || u < 0 || v < 0 || u >= view.width || v >= view.height) return nullptr;
    return view.data + v * view.row_bytes + u * std::int64_t(sizeof(Pixel));
}

template <class Pixel>
Pixel read_pixel_or_zero(const ImageView& view, std::int32_t x, std::int32_t y) {
    Pixel p{};
    if (const std::uint8_t* at = pixel_address<Pixel>(view, x, y)) std::memcpy(&p, at, sizeof p);
    return p;
}

template <class Pixel>
void write_pixel_if_inside(const ImageView& view, std::int32_t x, std::int32_t y, const Pixel& p) {
    if (std::uint8_t* at = pixel_address<Pixel>(view, x, y)) std::memcpy(at, &p, sizeof p);
}

}  // namespace lumatrail
