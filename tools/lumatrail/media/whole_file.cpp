#include "tools/lumatrail/media/whole_file.h"

#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace lumatrail::tools {
namespace {

// The bytes of a file read forward through a buffer of its own, so that a
// large file is checked without being held in memory.
class ByteReader {
public:
    explicit ByteReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
    ~ByteReader() {
        if (file_) std::fclose(file_);
    }
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    bool opened() const { return file_ != nullptr; }
    std::uint64_t position() const { return before_ + at_; }
    // The next byte, or -1 at the end of the file.
    int next() { return at_ < end_ || fill() ? buffer_[at_++] : -1; }
    // False when the file ends first.
    bool skip(std::uint64_t count) {
        while (count > 0) {
            if (at_ == end_ && !fill()) return false;
            const std::size_t step = std::size_t(std::min<std::uint64_t>(count, end_ - at_));
            at_ += step, count -= step;
        }
        return true;
    }
    // Little- or big-endian numbers of `size` bytes; -1 at the end of the file.
    std::int64_t number(int size, bool big_endian) {
        std::int64_t value = 0;
        for (int k = 0; k < size; ++k) {
            const int b = next();
            if (b < 0) return -1;
            value |= std::int64_t(b) << (big_endian ? 8 * (size - 1 - k) : 8 * k);
        }
        return value;
    }

private:
    bool fill() {
        before_ += end_;
        at_ = 0;
        end_ = file_ ? std::fread(buffer_, 1, sizeof buffer_, file_) : 0;
        return end_ > 0;
    }
    std::FILE* file_;
    unsigned char buffer_[65536];
    std::size_t at_ = 0, end_ = 0;
    std::uint64_t before_ = 0;
};

// The next marker's code after the current position, -1 at the end of the
// file. Scan data is passed over: a 0xFF in it is followed by 0 (a stuffed
// byte) or a restart marker. Stray bytes before a marker are passed over as
// the decoder passes over them.
int next_jpeg_marker(ByteReader& in) {
    for (int b = in.next(); b >= 0; b = in.next()) {
        if (b != 0xFF) continue;
        do b = in.next();
        while (b == 0xFF);
        if (b < 0) return -1;
        if (b != 0x00 && !(b >= 0xD0 && b <= 0xD7)) return b;
    }
    return -1;
}

// Segment after segment (each as long as it says, an embedded thumbnail's
// markers skipped with it) up to the end-of-image marker.
std::optional<std::string> jpeg_problem(const std::string& path) {
    ByteReader in(path);
    if (in.next() != 0xFF || in.next() != 0xD8) return std::nullopt;
    for (;;) {
        const int marker = next_jpeg_marker(in);
        if (marker < 0) return "the file is cut short: its image data has no end";
        if (marker == 0xD9) return std::nullopt;
        if (marker == 0x01 || marker == 0xD8) continue;  // markers without a length
        const std::int64_t length = in.number(2, true);
        if (length >= 0 && length < 2) return "the file is damaged: a segment is shorter than its own length";
        if (length < 0 || !in.skip(std::uint64_t(length - 2)))
            return "the file is cut short in a segment of " + std::to_string(length) + " bytes";
    }
}

// What libtiff reports, printed nowhere: every error, and the warnings it
// gives while decoding (an LZW strip without its end code, a JPEG strip
// cut short), which are damage too.
struct TiffNotes {
    int errors = 0;
    bool decoding = false;
};
int note_tiff_error(TIFF*, void* notes, const char*, const char*, va_list) {
    ++static_cast<TiffNotes*>(notes)->errors;
    return 1;
}
int note_tiff_warning(TIFF*, void* notes, const char*, const char*, va_list) {
    auto* n = static_cast<TiffNotes*>(notes);
    if (n->decoding) ++n->errors;
    return 1;
}

using TiffOptions = std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)>;
using TiffFile = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

// The first picture's strips (or tiles) lie within the file.
std::optional<std::string> tiff_layout_problem(TIFF* tif, std::uint64_t file_size) {
    const bool tiled = TIFFIsTiled(tif);
    const std::uint32_t parts = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t k = 0; k < parts; ++k) {
        int error = 0;
        const std::uint64_t at = TIFFGetStrileOffsetWithErr(tif, k, &error);
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, k, &error);
        if (error)
            return "the file is damaged: its " + std::string(tiled ? "tiles" : "strips") + " are not listed";
        if (at > file_size || bytes > file_size - at)
            return "the file is cut short: " + std::string(tiled ? "tile " : "strip ") + std::to_string(k) +
                   " of " + std::to_string(parts) + " lies past its end";
    }
    return std::nullopt;
}

// Whether a deflated strip's stream inflates to its end, its checksum
// right, within the strip's size. libtiff stops once the strip is full, so
// a zeroed tail, which inflates to something, would pass its decoder.
bool inflates_whole(const std::vector<std::uint8_t>& raw, std::vector<std::uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int status = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

// Every strip (or tile) of compressed data decodes without an error, into
// one buffer of a strip's size, bounded by the picture's own size; deflated
// data inflates whole as well.
std::optional<std::string> tiff_decoding_problem(TIFF* tif, TiffNotes& notes, bool deflated) {
    const bool tiled = TIFFIsTiled(tif);
    const std::uint64_t part_size = tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    const std::uint64_t picture_size = TIFFScanlineSize64(tif) * std::uint64_t(height);
    const std::string part = tiled ? "tile " : "strip ";
    if (part_size == 0 || part_size > picture_size + (std::uint64_t(1) << 20))
        return "the file is damaged: its " + part + "size is " + std::to_string(part_size) + " bytes";
    std::vector<std::uint8_t> buffer(part_size), raw;
    const std::uint32_t parts = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    notes.decoding = true;
    for (std::uint32_t k = 0; k < parts; ++k) {
        const tmsize_t size = tmsize_t(buffer.size());
        const tmsize_t got = tiled ? TIFFReadEncodedTile(tif, k, buffer.data(), size)
                                   : TIFFReadEncodedStrip(tif, k, buffer.data(), size);
        bool whole = got >= 0 && notes.errors == 0;
        if (whole && deflated) {
            // The raw bytes lie within the file: checked before.
            raw.resize(std::size_t(TIFFGetStrileByteCount(tif, k)));
            const tmsize_t n = tiled ? TIFFReadRawTile(tif, k, raw.data(), tmsize_t(raw.size()))
                                     : TIFFReadRawStrip(tif, k, raw.data(), tmsize_t(raw.size()));
            whole = n == tmsize_t(raw.size()) && inflates_whole(raw, buffer);
        }
        if (!whole) return "the file is damaged: " + part + std::to_string(k) + " does not decode";
    }
    return std::nullopt;
}

std::optional<std::string> tiff_problem(const std::string& path) {
    TiffNotes notes;
    const TiffOptions options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), note_tiff_error, &notes);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), note_tiff_warning, &notes);
    // What libtiff allocates from the tags' claims (lists of strips) stays small.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(1) << 30);
    const TiffFile tif(TIFFOpenExt(path.c_str(), "r", options.get()), TIFFClose);
    if (!tif || notes.errors > 0) return "the file is damaged: its first picture's tags cannot be read";
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    if (auto problem = tiff_layout_problem(tif.get(), size)) return problem;
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetField(tif.get(), TIFFTAG_COMPRESSION, &compression);
    // Uncompressed data within the file is all there is to check.
    if (compression == COMPRESSION_NONE) return std::nullopt;
    const bool deflated = compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE;
    return tiff_decoding_problem(tif.get(), notes, deflated);
}

// A Targa 2.0 file's last 26 bytes: offsets, then this signature.
constexpr char TARGA_SIGNATURE[] = "TRUEVISION-XFILE.";
constexpr int TARGA_EXTENSION_SIZE = 495;

bool ends_with_targa_footer(const std::string& path, std::uint64_t size) {
    if (size < 26) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char footer[26] = {};
    const bool read = std::fseek(f, long(size - 26), SEEK_SET) == 0 && std::fread(footer, 1, 26, f) == 26;
    std::fclose(f);
    return read && std::memcmp(footer + 8, TARGA_SIGNATURE, sizeof TARGA_SIGNATURE) == 0;
}

// Passes over the pixel data: run-length packets one by one, or the plain
// rows at once. False when the file ends first.
bool skip_targa_pixels(ByteReader& in, bool run_length, std::uint64_t pixels, std::uint64_t pixel_bytes) {
    if (!run_length) return in.skip(pixels * pixel_bytes);
    while (pixels > 0) {
        const int packet = in.next();
        if (packet < 0) return false;
        const std::uint64_t count = std::uint64_t(packet & 0x7F) + 1;
        if (!in.skip((packet & 0x80) ? pixel_bytes : count * pixel_bytes)) return false;
        pixels -= std::min(count, pixels);
    }
    return true;
}

// The header, image ID and colour map, the pixels, then either the end, a
// whole 2.0 tail (extension area and footer), or bytes that are no start of one.
std::optional<std::string> targa_problem(const std::string& path) {
    ByteReader in(path);
    unsigned char header[18];
    for (unsigned char& b : header) {
        const int v = in.next();
        if (v < 0) return "the file is cut short in its header";
        b = static_cast<unsigned char>(v);
    }
    const int type = header[2];
    const bool run_length = type >= 9;
    if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return std::nullopt;
    const std::uint64_t map_bytes =
        header[1] ? std::uint64_t(header[5] | header[6] << 8) * ((header[7] + 7u) / 8u) : 0;
    const std::uint64_t pixels =
        std::uint64_t(header[12] | header[13] << 8) * std::uint64_t(header[14] | header[15] << 8);
    if (!in.skip(header[0] + map_bytes) || !skip_targa_pixels(in, run_length, pixels, (header[16] + 7u) / 8u))
        return "the file is cut short in its pixel data";
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec || in.position() >= size || ends_with_targa_footer(path, size)) return std::nullopt;
    if (in.number(2, false) == TARGA_EXTENSION_SIZE) return "the file is cut short after its pixel data";
    return std::nullopt;
}

// Samples a pixel of a DPX element holds, by its descriptor; 0 unknown.
int dpx_samples(int descriptor) {
    switch (descriptor) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 7:
    case 8: return 1;  // one component
    case 50:
    case 102: return 3;  // RGB, CbYCr
    case 51:
    case 52:
    case 103: return 4;  // RGBA, ABGR, CbYCrA
    case 100: return 2;  // CbYCrY, 4:2:2
    case 101: return 3;  // CbYACrYA
    default: return 0;
    }
}

// The bytes a row of a DPX element takes at the least: 10-bit samples
// filled three to a 32-bit word, 12-bit ones one to 16 bits, other packed
// depths in whole 32-bit words, 8 bits and more by the byte.
std::uint64_t dpx_row_bytes(std::uint64_t samples, int bits, std::uint64_t packing) {
    if (bits == 10 && packing != 0) return (samples + 2) / 3 * 4;
    if (bits == 12 && packing != 0) return samples * 2;
    if (bits % 8 == 0) return samples * std::uint64_t(bits / 8);
    return (samples * std::uint64_t(bits) + 31) / 32 * 4;
}

// The size the header gives the file, and the first element's pixel data
// at the least its size and bit depth take (rows may be padded beyond it).
// The header: the size at 16, the picture's width and rows at 772 and 776,
// the first element's descriptor (800), bits (803), packing (804), encoding
// (806) and data offset (808), in the byte order its magic number says.
std::optional<std::string> dpx_problem(const std::string& path) {
    ByteReader in(path);
    unsigned char h[812];
    std::size_t got = 0;
    for (int b; got < sizeof h && (b = in.next()) >= 0; ++got) h[got] = static_cast<unsigned char>(b);
    const bool big = got >= 4 && std::memcmp(h, "SDPX", 4) == 0;
    if (!big && (got < 4 || std::memcmp(h, "XPDS", 4) != 0)) return std::nullopt;
    if (got < sizeof h) return "the file is cut short in its header";
    const auto number = [&](int at, int bytes) {
        std::uint64_t v = 0;
        for (int k = 0; k < bytes; ++k) v = v << 8 | h[big ? at + k : at + bytes - 1 - k];
        return v;
    };
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    if (number(16, 4) > size)
        return "the file is cut short: its header gives " + std::to_string(number(16, 4)) +
               " bytes, it holds " + std::to_string(size);
    const std::uint64_t width = number(772, 4), rows = number(776, 4), samples = dpx_samples(h[800]);
    if (number(806, 2) != 0 || samples == 0 || width > (1u << 20) || rows > (1u << 20)) return std::nullopt;
    const std::uint64_t at = number(808, 4) == 0xFFFFFFFFu ? number(4, 4) : number(808, 4);
    if (at + rows * dpx_row_bytes(width * samples, h[803], number(804, 2)) > size)
        return "the file is cut short in its pixel data";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> whole_file_problem(const std::string& path, const std::string& format) {
    if (format == "jpeg") return jpeg_problem(path);
    if (format == "tiff") return tiff_problem(path);
    if (format == "targa") return targa_problem(path);
    if (format == "dpx") return dpx_problem(path);
    return std::nullopt;
}

}  // namespace lumatrail::tools
