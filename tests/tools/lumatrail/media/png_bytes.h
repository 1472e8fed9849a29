// PNG bytes made by hand for the tests: a header that claims another size.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumatrail::tools::testing_png {

inline void put_big_endian(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + std::size_t(k)] = char(v >> (24 - 8 * k));
}

// A PNG file whose header claims another size, its checksum made to match.
inline std::string claiming_size(std::string png, std::uint32_t w, std::uint32_t h) {
    put_big_endian(png, 16, w);
    put_big_endian(png, 20, h);
    put_big_endian(png, 29, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17)));
    return png;
}

}  // namespace lumatrail::tools::testing_png
