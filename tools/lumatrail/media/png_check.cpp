#include "tools/lumatrail/media/png_check.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace lumatrail::tools {
namespace {

constexpr std::uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// libpng refuses larger sides unless told otherwise, and the library does not.
constexpr std::uint32_t LIBPNG_MAX_SIDE = 1000000;
constexpr std::uint32_t MAX_CHUNK_LENGTH = 0x7fffffff;

std::uint32_t big_endian(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Header {
    std::uint32_t width = 0, height = 0;
    int bit_depth = 0, colour_type = 0, interlace = 0;
};

int channels_of(int colour_type) {
    switch (colour_type) {
    case 0: return 1;  // grey
    case 2: return 3;  // RGB
    case 3: return 1;  // palette indexes
    case 4: return 2;  // grey and alpha
    case 6: return 4;  // RGBA
    default: return 0;
    }
}

// What libpng's header check refuses, in the same order.
std::optional<std::string> header_problem(const Header& h) {
    if (h.width == 0 || h.height == 0 || h.width > MAX_CHUNK_LENGTH || h.height > MAX_CHUNK_LENGTH)
        return "the file is damaged: its header gives a size of " + std::to_string(h.width) + "x" +
               std::to_string(h.height);
    if (h.width > LIBPNG_MAX_SIDE || h.height > LIBPNG_MAX_SIDE)
        return "the file is " + std::to_string(h.width) + "x" + std::to_string(h.height) +
               "; the PNG reader takes at most " + std::to_string(LIBPNG_MAX_SIDE) + " pixels a side";
    const int d = h.bit_depth;
    const bool depth_fits = (d == 1 || d == 2 || d == 4 || d == 8 || d == 16) &&
                            (h.colour_type != 3 || d <= 8) &&
                            (h.colour_type == 0 || h.colour_type == 3 || d >= 8);
    if (channels_of(h.colour_type) == 0 || !depth_fits)
        return "the file is damaged: its header gives " + std::to_string(d) + "-bit samples of colour type " +
               std::to_string(h.colour_type);
    if (h.interlace > 1) return "the file is damaged: its header gives an unknown interlace method";
    return std::nullopt;
}

// The image data as libpng inflates it: rows of a filter byte and the packed
// pixels, pass after pass when the image is interlaced. Checks that the
// stream is sound, every row's filter is one of the five, and it holds every
// row; what follows the last row libpng never needs.
class ImageData {
public:
    explicit ImageData(const Header& h) {
        const std::uint64_t bits = std::uint64_t(channels_of(h.colour_type)) * std::uint64_t(h.bit_depth);
        auto add = [&](std::uint64_t width, std::uint64_t rows) {
            if (width == 0 || rows == 0) return;  // an empty pass has no rows at all
            runs_.push_back({rows, 1 + (width * bits + 7) / 8});
            remaining_ += rows * runs_.back().row_bytes;
        };
        if (h.interlace == 0) {
            add(h.width, h.height);
        } else {
            // The seven passes: first column and row, then the steps between them.
            constexpr int PASSES[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
            for (const auto& p : PASSES) {
                const auto count = [](std::uint32_t size, int first, int step) -> std::uint64_t {
                    return size > std::uint32_t(first)
                               ? (size - std::uint32_t(first) + std::uint32_t(step) - 1) / std::uint32_t(step)
                               : 0;
                };
                add(count(h.width, p[0], p[2]), count(h.height, p[1], p[3]));
            }
        }
        ok_ = inflateInit(&stream_) == Z_OK;
    }
    ~ImageData() { inflateEnd(&stream_); }
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;

    bool complete() const { return remaining_ == 0; }

    // Inflates the next piece of compressed data; what is wrong once it fails.
    std::optional<std::string> feed(const std::uint8_t* data, std::size_t size) {
        if (!ok_) return "there is not enough memory to check its image data";
        stream_.next_in = const_cast<std::uint8_t*>(data);
        stream_.avail_in = uInt(size);
        while (remaining_ > 0) {
            std::array<std::uint8_t, 1 << 15> out;
            const auto room = uInt(std::min<std::uint64_t>(out.size(), remaining_));
            stream_.next_out = out.data();
            stream_.avail_out = room;
            const uInt had_in = stream_.avail_in;
            const int result = inflate(&stream_, Z_NO_FLUSH);
            const std::size_t produced = room - stream_.avail_out;
            if (auto problem = take_rows(out.data(), produced)) return problem;
            if (result == Z_STREAM_END && remaining_ > 0)
                return std::string("the file is damaged: its image data ends before the last row");
            if (result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END)
                return std::string("the file is damaged: its image data cannot be inflated (") +
                       (stream_.msg ? stream_.msg : "zlib error " + std::to_string(result)) + ")";
            if (produced == 0 && (stream_.avail_in == 0 || stream_.avail_in == had_in)) break;
        }
        return std::nullopt;
    }

private:
    struct Run {
        std::uint64_t rows, row_bytes;  // row_bytes counts the filter byte
    };

    std::optional<std::string> take_rows(const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size;) {
            if (to_next_row_ == 0) {
                if (bytes[i] > 4)
                    return "the file is damaged: a row of its image data has the unknown filter " +
                           std::to_string(bytes[i]);
                while (runs_[run_].rows == 0) ++run_;
                --runs_[run_].rows;
                to_next_row_ = runs_[run_].row_bytes;
            }
            const std::size_t step = std::size_t(std::min<std::uint64_t>(to_next_row_, size - i));
            i += step;
            to_next_row_ -= step;
        }
        remaining_ -= size;
        return std::nullopt;
    }

    z_stream stream_{};
    bool ok_ = false;
    std::vector<Run> runs_;
    std::size_t run_ = 0;
    std::uint64_t remaining_ = 0, to_next_row_ = 0;
};

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// What is wrong with a chunk from its name and length alone, before its
// content is read: a name that is no name, a length no reader would take, a
// first chunk that is not the header, a critical chunk no reader knows, or
// image data that needs a palette not yet given.
std::optional<std::string> chunk_problem(const std::string& type, std::uint32_t length, std::uint64_t at,
                                         bool seen_header, bool palette_missing) {
    for (char c : type)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return std::string("the file is damaged: a chunk at byte ") + std::to_string(at) +
                   " has no valid name";
    if (length > MAX_CHUNK_LENGTH)
        return "the file is damaged: its " + type + " chunk claims " + std::to_string(length) + " bytes";
    if (!seen_header && type != "IHDR")
        return std::string("the file is damaged: it does not start with its IHDR chunk");
    const bool critical = (type[0] & 0x20) == 0;
    const bool known = type == "IHDR" || type == "PLTE" || type == "IDAT" || type == "IEND";
    if (critical && !known) return "the file holds a chunk " + type + " that the PNG reader does not know";
    if (palette_missing) return std::string("the file is damaged: it has no palette before its image data");
    return std::nullopt;
}

// A second header or palette, or one of the wrong size.
std::optional<std::string> repeat_problem(const std::string& type, std::uint32_t length, bool seen_header,
                                          bool seen_palette, const Header& header) {
    if (type == "IHDR" && (seen_header || length != 13))
        return std::string("the file is damaged: its IHDR chunk is not valid");
    if (type != "PLTE") return std::nullopt;
    if (seen_palette) return std::string("the file is damaged: it has two palettes");
    if (header.colour_type == 3 && (length == 0 || length % 3 != 0 || length > 3 * 256))
        return std::string("the file is damaged: its palette is not valid");
    return std::nullopt;
}

// The header chunk's 13 bytes into `header`; what is wrong with them.
std::optional<std::string> read_header(const std::vector<std::uint8_t>& content, Header& header) {
    header = {big_endian(content.data()), big_endian(content.data() + 4), content[8], content[9],
              content[12]};
    if (content[10] != 0 || content[11] != 0)
        return std::string("the file is damaged: its header gives an unknown compression or filter");
    return header_problem(header);
}

}  // namespace

std::optional<std::string> png_problem(const std::string& path, PngScope scope) {
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    std::uint8_t signature[8];
    // Neither a PNG file nor one this check can open: the library says what it makes of it.
    if (!file || std::fread(signature, 1, 8, file.get()) != 8 || std::memcmp(signature, SIGNATURE, 8) != 0)
        return std::nullopt;
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;

    const std::string cut_short = "the file is cut short";
    Header header;
    bool seen_header = false, seen_palette = false;
    enum { BEFORE, IN_RUN, AFTER } image_data = BEFORE;  // the run of consecutive IDAT chunks
    std::unique_ptr<ImageData> inflater;
    std::vector<std::uint8_t> buffer(1 << 16);
    for (std::uint64_t at = 8;;) {
        if (size - at < 12) return cut_short + (at == size ? " before its IEND chunk" : "");
        std::uint8_t head[8];
        if (std::fread(head, 1, 8, file.get()) != 8) return cut_short;
        const std::uint32_t length = big_endian(head);
        const std::string type(reinterpret_cast<const char*>(head) + 4, 4);
        const bool critical = (type[0] & 0x20) == 0;
        if (auto problem = chunk_problem(type, length, at, seen_header,
                                         type == "IDAT" && header.colour_type == 3 && !seen_palette))
            return problem;
        // Opening the file reads up to the first image data chunk's name.
        if (type == "IDAT" && scope == PngScope::header) return std::nullopt;
        if (length + std::uint64_t(12) > size - at) return cut_short + " in its " + type + " chunk";
        if (auto problem = repeat_problem(type, length, seen_header, seen_palette, header)) return problem;
        seen_palette = seen_palette || type == "PLTE";

        if (type == "IDAT") {
            if (image_data == BEFORE) {
                image_data = IN_RUN;
                inflater = std::make_unique<ImageData>(header);
            }
        } else if (image_data == IN_RUN) {
            image_data = AFTER;
            if (!inflater->complete())
                return std::string("the file is damaged: its image data ends before the last row");
        }
        if (!critical) {
            // libpng passes over what is wrong with these.
            if (std::fseek(file.get(), long(length) + 4, SEEK_CUR) != 0) return cut_short;
            at += 12 + std::uint64_t(length);
            continue;
        }

        uLong crc = crc32(0, head + 4, 4);
        std::vector<std::uint8_t> content;  // of the header
        for (std::uint32_t left = length; left > 0;) {
            const auto n = std::size_t(std::min<std::uint32_t>(left, std::uint32_t(buffer.size())));
            if (std::fread(buffer.data(), 1, n, file.get()) != n) return cut_short;
            crc = crc32(crc, buffer.data(), uInt(n));
            if (type == "IDAT") {
                if (image_data == IN_RUN && !inflater->complete())
                    if (auto problem = inflater->feed(buffer.data(), n)) return problem;
            } else if (type == "IHDR") {
                content.insert(content.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(n));
            }
            left -= std::uint32_t(n);
        }
        std::uint8_t stored[4];
        if (std::fread(stored, 1, 4, file.get()) != 4) return cut_short;
        if (big_endian(stored) != std::uint32_t(crc))
            return "the file is damaged: its " + type + " chunk fails its checksum";

        if (type == "IHDR") {
            seen_header = true;
            if (auto problem = read_header(content, header)) return problem;
        } else if (type == "IEND") {
            if (image_data == BEFORE) return std::string("the file is damaged: it holds no image data");
            return std::nullopt;
        }
        at += 12 + std::uint64_t(length);
    }
}

}  // namespace lumatrail::tools
