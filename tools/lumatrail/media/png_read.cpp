#include "tools/lumatrail/media/png_read.h"

#include <png.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

constexpr png_byte SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::size_t TEXT_SIZE = 160;

// What libpng reported, and the file it reads from. Plain data only: the
// handlers run inside libpng's frames, and the error handler leaves them
// (and the function that called libpng) by longjmp, which runs no destructor.
struct Report {
    std::FILE* file = nullptr;
    char error[TEXT_SIZE] = {};    // the error that stopped the read, its chunk name taken off
    char warning[TEXT_SIZE] = {};  // the first warning (libpng warns what is wrong before some errors)
    png_uint_32 chunk = 0;         // the chunk being read when it stopped
    png_uint_32 io_state = 0;      // what of the chunk was being read, when the file ended
    int read_errno = 0;            // why a read failed, when the system said
    bool cut_short = false;
};

// libpng's chunk errors read "IDAT: CRC error"; the chunk is recorded apart.
void keep_text(char (&to)[TEXT_SIZE], const char* text) {
    if (to[0]) return;
    const char* colon = std::strstr(text, ": ");
    if (colon && colon - text <= 12 && !std::memchr(text, ' ', std::size_t(colon - text))) text = colon + 2;
    std::snprintf(to, TEXT_SIZE, "%s", text);
}

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
    auto* report = static_cast<Report*>(png_get_error_ptr(png));
    keep_text(report->error, message);
    if (!report->chunk) report->chunk = png_get_io_chunk_type(png);
    png_longjmp(png, 1);
}

void on_warning(png_structp png, png_const_charp message) {
    keep_text(static_cast<Report*>(png_get_error_ptr(png))->warning, message);
}

void read_bytes(png_structp png, png_bytep data, std::size_t length) {
    auto* report = static_cast<Report*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, report->file) == length) return;
    report->cut_short = true;
    report->read_errno = std::ferror(report->file) ? errno : 0;
    report->io_state = png_get_io_state(png);
    report->chunk = png_get_io_chunk_type(png);
    png_error(png, "cut short");
}

// The picture library associates alpha with this gamma: that of a gAMA
// chunk rounded to hundredths, unless an sRGB chunk is there too.
float association_gamma(png_structp png, png_infop info) {
    int intent = 0;
    double gamma = 0.0;
    if (png_get_sRGB(png, info, &intent) || !png_get_gAMA(png, info, &gamma) || !(gamma > 0.0)) return 1.0f;
    const float g = float(1.0 / gamma);
    return std::roundf(float(100.0 * double(g))) / 100.0f;
}

// Reads the header chunks (up to the image data) into `layout`. Only plain
// data lives in this frame, which libpng's errors longjmp back to.
bool read_header(png_structp png, png_infop info, PngLayout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    // Sizes are judged by the caller, which names them: libpng's own limit
    // would stop a claim of 2 million pixels a side before it is said.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    const int colour = png_get_color_type(png, info);
    const bool transparent_colour = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    layout->width = std::int32_t(png_get_image_width(png, info));
    layout->height = std::int32_t(png_get_image_height(png, info));
    layout->bits = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    layout->channels = colour == PNG_COLOR_TYPE_GRAY_ALPHA  ? 2
                       : colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                       : colour == PNG_COLOR_TYPE_GRAY      ? 1 + transparent_colour
                                                            : 3 + transparent_colour;
    layout->gamma = association_gamma(png, info);
    return true;
}

// Sets the expansion up; the bytes of a row it gives, 0 when stopped.
std::size_t start_rows(png_structp png, png_infop info, int bits) {
    if (setjmp(png_jmpbuf(png))) return 0;
    png_set_expand(png);
    if (bits == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info);
}

// Every row, then the chunks up to IEND (their checksums checked).
bool read_rows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

std::string chunk_name(png_uint_32 chunk) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((chunk >> shift) & 0xff);
        name += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? c : '?';
    }
    return name;
}

bool says(const char* text, std::string_view what) {
    return std::string_view(text).find(what) != std::string_view::npos;
}

// What libpng's warning before "Invalid IHDR data" said about the header.
std::string header_reason(const Report& r) {
    const char* w = r.warning;
    if (says(w, "width") || says(w, "height")) return "its header gives a width or height of 0 or over 2^31";
    if (says(w, "bit depth") || says(w, "color type"))
        return "its header gives an unknown bit depth or colour type";
    if (says(w, "interlace")) return "its header gives an unknown interlace method";
    if (says(w, "compression") || says(w, "filter"))
        return "its header gives an unknown compression or filter";
    return "its IHDR chunk is not valid";
}

// What stopped the read, as text to follow "cannot read "name": ".
std::string reason(const Report& r) {
    const std::string chunk = chunk_name(r.chunk);
    if (r.read_errno)
        return std::string("the system could not read it (") + std::strerror(r.read_errno) + ")";
    if (r.cut_short)
        return r.chunk == 0                    ? "the file is cut short"
               : r.io_state & PNG_IO_CHUNK_HDR ? "the file is cut short after its " + chunk + " chunk"
                                               : "the file is cut short in its " + chunk + " chunk";
    const char* e = r.error;
    if (says(e, "memory") || says(e, "Memory")) return "there is not enough memory to read it";
    const std::string damaged = "the file is damaged: ";
    if (says(e, "CRC error")) return damaged + "its " + chunk + " chunk fails its checksum";
    if (says(e, "IHDR data") || says(e, "IHDR length")) return damaged + header_reason(r);
    if (says(e, "Missing IHDR") || says(e, "missing IHDR"))
        return damaged + "it does not start with its IHDR chunk";
    if (says(e, "Missing PLTE")) return damaged + "it has no palette before its image data";
    if (says(e, "palette") || (chunk == "PLTE" && says(e, "invalid")))
        return damaged + "its palette is not valid";
    if (says(e, "Not enough image data") || says(e, "Not enough compressed data"))
        return damaged + "its image data ends before the last row";
    if (says(e, "filter value")) return damaged + "a row of its image data has an unknown filter";
    if (says(e, "unknown critical chunk"))
        return "the file holds a chunk " + chunk + " that the PNG reader does not know";
    if (says(e, "chunk type")) return damaged + "a chunk has no valid name";
    if (says(e, "too large") || says(e, "out of range"))
        return damaged + "a chunk claims more bytes than a chunk may hold";
    if (says(e, "out of place") || says(e, "duplicate"))
        return damaged + "its " + chunk + " chunk is out of place";
    if (chunk == "IDAT") return damaged + "its image data cannot be inflated";
    return r.chunk ? damaged + "its " + chunk + " chunk is not valid" : "the file is damaged";
}

// A read structure whose handlers report into `report`, freed on the way out.
struct Reader {
    explicit Reader(Report& report) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &report, on_error, on_warning);
        if (png) info = png_create_info_struct(png);
        if (png) png_set_read_fn(png, &report, read_bytes);
    }
    ~Reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File open_file(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) throw ToolError(EXIT_INPUT, "cannot read \"" + path + "\": " + std::strerror(errno));
    return file;
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw ToolError(EXIT_INPUT, "cannot read \"" + path + "\": " + why);
}

// The header read through `reader`, or the read refused.
PngLayout header_of(const std::string& path, Reader& reader, const Report& report) {
    if (!reader.png || !reader.info) refuse(path, "there is not enough memory to read it");
    PngLayout layout;
    if (!read_header(reader.png, reader.info, &layout)) refuse(path, reason(report));
    return layout;
}

template <class T>
void associate(T* values, std::size_t pixels, int channels, int alpha, float gamma) {
    const T max = std::numeric_limits<T>::max();
    if (gamma == 1.0f) {
        for (std::size_t i = 0; i < pixels; ++i, values += channels)
            for (int c = 0; c < channels; ++c)
                if (c != alpha) values[c] = T((unsigned(values[c]) * values[alpha]) / max);
        return;
    }
    // In gamma-encoded values: each colour times alpha^gamma.
    const float inv_max = float(1.0 / max);
    for (std::size_t i = 0; i < pixels; ++i, values += channels) {
        const float a = std::pow(float(values[alpha]) * inv_max, gamma);
        for (int c = 0; c < channels; ++c)
            if (c != alpha) values[c] = T(float(values[c]) * a);
    }
}

}  // namespace

bool is_png(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    png_byte signature[8];
    return file && std::fread(signature, 1, 8, file.get()) == 8 && std::memcmp(signature, SIGNATURE, 8) == 0;
}

PngLayout read_png_layout(const std::string& path) {
    const File file = open_file(path);
    Report report;
    report.file = file.get();
    Reader reader(report);
    return header_of(path, reader, report);
}

void read_png(const std::string& path, const PngLayout& layout, void* values) {
    const File file = open_file(path);
    Report report;
    report.file = file.get();
    Reader reader(report);
    const PngLayout found = header_of(path, reader, report);
    if (found.width != layout.width || found.height != layout.height || found.channels != layout.channels ||
        found.bits != layout.bits)
        refuse(path, "the file changed while it was read");
    const std::size_t row_bytes = std::size_t(layout.bytes() / std::uint64_t(layout.height));
    const std::size_t given = start_rows(reader.png, reader.info, layout.bits);
    if (given == 0) refuse(path, reason(report));
    if (given != row_bytes) refuse(path, "the file is damaged: its rows are not the size its header gives");
    std::vector<png_bytep> rows(std::size_t(layout.height));
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = static_cast<png_bytep>(values) + y * row_bytes;
    if (!read_rows(reader.png, rows.data())) refuse(path, reason(report));
    const std::size_t pixels = std::size_t(layout.width) * std::size_t(layout.height);
    if (layout.alpha_channel() < 0) return;
    if (layout.bits == 16)
        associate(static_cast<std::uint16_t*>(values), pixels, layout.channels, layout.alpha_channel(),
                  layout.gamma);
    else
        associate(static_cast<std::uint8_t*>(values), pixels, layout.channels, layout.alpha_channel(),
                  layout.gamma);
}

}  // namespace lumatrail::tools
