#include "offline/offline_world.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace lumatrail::offline {

std::size_t pixel_size(PF_PixelFormat format) {
    return with_world_pixel_type(format, [](auto pixel) { return sizeof pixel; });
}

OfflineWorld make_world(PF_PixelFormat format, std::int32_t width, std::int32_t height,
                        const WorldLayout& layout) {
    if (width < 0 || height < 0) throw std::invalid_argument("a world cannot have a negative size");
    OfflineWorld w;
    w.format = format;
    const std::int64_t row = std::int64_t(width) * std::int64_t(pixel_size(format)) + layout.row_padding;
    w.world.width = width;
    w.world.height = height;
    w.world.origin_x = layout.origin_x;
    w.world.origin_y = layout.origin_y;
    w.world.world_flags = format == PF_PixelFormat_ARGB64 ? PF_WorldFlag_DEEP : 0;
    w.world.rowbytes = std::int32_t(layout.bottom_up ? -row : row);
    if (!layout.without_data && width > 0 && height > 0) {
        w.storage.assign(std::size_t(row) * std::size_t(height), 0);
        w.world.data = w.storage.data() + (layout.bottom_up ? std::size_t(row) * std::size_t(height - 1) : 0);
    }
    return w;
}

OfflineWorld resample_nearest(const OfflineWorld& source, std::int32_t width, std::int32_t height,
                              float scale_x, float scale_y) {
    OfflineWorld out = make_world(source.format, width, height);
    if (!source.world.data || source.world.width <= 0 || source.world.height <= 0) return out;
    const std::size_t size = pixel_size(source.format);
    // The source column of each output column is the same on every row; when
    // every column is its own (full resolution), rows are copied whole.
    std::vector<std::int32_t> columns(static_cast<std::size_t>(width));
    bool same_columns = width == source.world.width;
    for (std::int32_t x = 0; x < width; ++x) {
        columns[std::size_t(x)] =
            std::min(std::int32_t(std::floor((float(x) + 0.5f) / scale_x)), source.world.width - 1);
        same_columns = same_columns && columns[std::size_t(x)] == x;
    }
    for (std::int32_t y = 0; y < height; ++y) {
        const auto sy =
            std::min(std::int32_t(std::floor((float(y) + 0.5f) / scale_y)), source.world.height - 1);
        std::uint8_t* to = pixel_at<std::uint8_t>(out, 0, y);
        const std::uint8_t* from = pixel_at<std::uint8_t>(source, 0, sy);
        if (same_columns) {
            std::memcpy(to, from, std::size_t(width) * size);
            continue;
        }
        for (std::int32_t x = 0; x < width; ++x)
            std::memcpy(to + std::size_t(x) * size, from + std::size_t(columns[std::size_t(x)]) * size, size);
    }
    return out;
}

std::vector<std::uint8_t> packed_pixels(const OfflineWorld& world) {
    const std::size_t row = std::size_t(world.world.width) * pixel_size(world.format);
    std::vector<std::uint8_t> bytes(row * std::size_t(world.world.height));
    for (std::int32_t y = 0; y < world.world.height; ++y)
        std::memcpy(bytes.data() + std::size_t(y) * row, pixel_at<std::uint8_t>(world, 0, y), row);
    return bytes;
}

bool same_pixels(const OfflineWorld& a, const OfflineWorld& b) {
    if (a.format != b.format || a.world.width != b.world.width || a.world.height != b.world.height)
        return false;
    if (!a.world.data || !b.world.data) return a.world.data == b.world.data;
    const std::size_t row = std::size_t(a.world.width) * pixel_size(a.format);
    for (std::int32_t y = 0; y < a.world.height; ++y)
        if (std::memcmp(pixel_at<std::uint8_t>(a, 0, y), pixel_at<std::uint8_t>(b, 0, y), row) != 0)
            return false;
    return true;
}

}  // namespace lumatrail::offline
