// PNG files read through libpng, with its error and warning handlers our own:
// nothing the library says reaches the terminal, and what stops a read is
// turned into one line in the program's words.
//
// The pixels come out as the picture library gives every other format:
// 1-, 2- and 4-bit grey, palettes and a transparent colour (tRNS) expanded to
// 8-bit grey, grey and alpha, RGB or RGBA; 16-bit files keep their 16 bits,
// in the machine's byte order; colours associated with (multiplied by) alpha
// as the picture library associates them, so that a PNG reads into the same
// world as it always did.
#pragma once

#include <cstdint>
#include <string>

namespace lumatrail::tools {

// A PNG file's pixels as read_png gives them.
struct PngLayout {
    std::int32_t width = 0, height = 0;  // as the header claims them, however large
    int channels = 0;                    // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    int bits = 8;                        // 8 or 16 bits a value
    // The value that alpha multiplies the colours with is alpha^gamma, as the
    // picture library does it for a file with a gAMA chunk and no sRGB chunk.
    float gamma = 1.0f;

    int alpha_channel() const { return channels == 2 ? 1 : channels == 4 ? 3 : -1; }
    std::uint64_t bytes() const {
        return std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(channels) *
               std::uint64_t(bits / 8);
    }
};

// Whether the file starts with the PNG signature (false when it cannot be read).
bool is_png(const std::string& path);

// The header, read up to the image data. Throws ToolError(EXIT_INPUT) naming
// the file and saying what is wrong when the file is damaged, cut short or
// cannot be read.
PngLayout read_png_layout(const std::string& path);

// Decodes the whole file, up to and including its IEND chunk, into `values`
// (layout.bytes() of them, rows top to bottom, channels interleaved); the
// layout is the one read_png_layout gave. Throws as read_png_layout does.
void read_png(const std::string& path, const PngLayout& layout, void* values);

}  // namespace lumatrail::tools
