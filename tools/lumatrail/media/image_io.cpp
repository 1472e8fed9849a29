#include "tools/lumatrail/media/image_io.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/filesystem.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "tools/lumatrail/media/png_read.h"
#include "tools/lumatrail/media/whole_file.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using OIIO::ImageBuf;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// The library joins its messages with newlines, the first saying most; some
// readers say nothing at all about a file cut short.
std::string first_line(std::string message) {
    message.resize(std::min(message.size(), message.find('\n')));
    while (!message.empty() && (message.back() == ' ' || message.back() == '\r')) message.pop_back();
    return message.empty() ? "the file is damaged or cut short" : message;
}

std::uint16_t to_world16(std::uint16_t v) {
    return std::uint16_t((std::uint32_t(v) * 32768u + 32767u) / 65535u);
}
std::uint16_t from_world16(std::uint16_t v) {
    return std::uint16_t((std::min<std::uint32_t>(v, 32768u) * 65535u + 16384u) / 32768u);
}

// A world depth as image files hold it: the channel type, its full value in
// files, and the mapping between file and world values. 8-bit and float files
// hold the world's values as they are.
template <class Pixel>
struct FileDepth {
    using Value = decltype(Pixel::alpha);
    static constexpr TypeDesc::BASETYPE TYPE =
        std::is_same_v<Value, float> ? TypeDesc::FLOAT : TypeDesc::UINT8;
    static constexpr Value FULL = Value(offline::FULL_VALUE<Pixel>);
    static Value to_world(Value v) { return v; }
    static Value to_file(Value v) { return v; }
};
// 16-bit files hold 0..65535, the host's 16-bit worlds 0..32768.
template <>
struct FileDepth<PF_Pixel16> {
    using Value = std::uint16_t;
    static constexpr TypeDesc::BASETYPE TYPE = TypeDesc::UINT16;
    static constexpr Value FULL = 65535;
    static Value to_world(Value v) { return to_world16(v); }
    static Value to_file(Value v) { return from_world16(v); }
};

PF_PixelFormat natural_depth(TypeDesc t) {
    if (t == TypeDesc::UINT8 || t == TypeDesc::INT8) return PF_PixelFormat_ARGB32;
    if (t == TypeDesc::UINT16 || t == TypeDesc::INT16) return PF_PixelFormat_ARGB64;
    return PF_PixelFormat_ARGB128;
}

// Calls put(i, alpha, red, green, blue) for every pixel of values read as
// the file holds its channels: grey fills the three colours, a missing alpha
// is full (a second channel of two is alpha).
template <class Value, class Put>
void each_pixel(const Value* data, const ImageSpec& spec, Value full, Put&& put) {
    const int channels = spec.nchannels, alpha = spec.alpha_channel;
    const std::size_t n = std::size_t(spec.width) * std::size_t(spec.height);
    for (std::size_t i = 0; i < n; ++i) {
        const Value* p = data + i * std::size_t(channels);
        const Value red = p[0], green = channels >= 3 ? p[1] : p[0], blue = channels >= 3 ? p[2] : p[0];
        const Value a = alpha >= 0 && alpha < channels ? p[alpha] : channels == 2 ? p[1] : full;
        put(i, a, red, green, blue);
    }
}

// A picture file open for reading: a PNG file through libpng (its header
// read), any other through the library.
struct Opened {
    std::unique_ptr<ImageInput> in;
    std::optional<PngLayout> png;
};

// A PNG file's values as floats, scaled as the library scales integers.
template <class Stored>
void png_as_floats(const std::string& path, const PngLayout& layout, float* to) {
    const std::size_t n = std::size_t(layout.bytes() / sizeof(Stored));
    auto stored = std::make_unique_for_overwrite<Stored[]>(n);
    read_png(path, layout, stored.get());
    const float scale = 1.0f / float(std::numeric_limits<Stored>::max());
    for (std::size_t i = 0; i < n; ++i) to[i] = float(stored[i]) * scale;
}

// The frame's values as the file holds its channels, as `type` (for a PNG
// file, its own type or floats).
template <class Value>
std::unique_ptr<Value[]> read_values(const Opened& file, const std::string& path, int frame,
                                     const ImageSpec& spec, TypeDesc type) {
    const std::size_t n = std::size_t(spec.width) * std::size_t(spec.height) * std::size_t(spec.nchannels);
    // Every value is read from the file: no need to clear the buffer first.
    auto data = std::make_unique_for_overwrite<Value[]>(n);
    if (file.png) {
        if constexpr (std::is_same_v<Value, float>) {
            if (file.png->bits == 16)
                png_as_floats<std::uint16_t>(path, *file.png, data.get());
            else
                png_as_floats<std::uint8_t>(path, *file.png, data.get());
        } else {
            read_png(path, *file.png, data.get());
        }
        return data;
    }
    ImageInput& in = *file.in;
    // The readers' own words for a damaged file differ from format to format
    // and name the library; the file's name and what it means say enough.
    if (!in.read_image(frame, 0, 0, spec.nchannels, type, data.get())) {
        in.geterror();
        throw ToolError(EXIT_INPUT, "cannot read " + quoted(path) + ": the file is damaged or cut short");
    }
    return data;
}

// Reads the frame into a world of its pixel type.
template <class Pixel>
void read_pixels(const Opened& in, const std::string& path, int frame, const ImageSpec& spec,
                 offline::OfflineWorld& world) {
    using Depth = FileDepth<Pixel>;
    using Value = typename Depth::Value;
    const auto data = read_values<Value>(in, path, frame, spec, Depth::TYPE);
    auto* pixels = static_cast<Pixel*>(world.world.data);
    each_pixel<Value>(data.get(), spec, Depth::FULL, [&](std::size_t i, Value a, Value r, Value g, Value b) {
        pixels[i] = {Depth::to_world(a), Depth::to_world(r), Depth::to_world(g), Depth::to_world(b)};
    });
}

// Each pixel as four channels 0..1 (the world's values over its full value).
template <class Pixel>
void unit_channels(const Pixel& p, float c[4]) {
    const float full = offline::FULL_VALUE<Pixel>;
    c[0] = float(p.alpha) / full, c[1] = float(p.red) / full, c[2] = float(p.green) / full,
    c[3] = float(p.blue) / full;
}

template <class Pixel>
Pixel from_unit_channels(const float c[4]) {
    if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
        return {c[0], c[1], c[2], c[3]};
    } else {
        auto q = [](float v) {
            return decltype(Pixel::alpha)(
                std::lround(std::clamp(v, 0.0f, 1.0f) * offline::FULL_VALUE<Pixel>));
        };
        return {q(c[0]), q(c[1]), q(c[2]), q(c[3])};
    }
}

// The same picture at another depth (full value 255, 32768 or 1.0).
offline::OfflineWorld convert_depth(const offline::OfflineWorld& src, PF_PixelFormat format) {
    if (src.format == format) return src;
    const std::int32_t w = src.world.width, h = src.world.height;
    offline::OfflineWorld out = offline::make_world(format, w, h);
    offline::with_world_pixel_type(src.format, [&](auto from) {
        offline::with_world_pixel_type(format, [&](auto to) {
            for (std::int32_t y = 0; y < h; ++y)
                for (std::int32_t x = 0; x < w; ++x) {
                    float c[4];
                    unit_channels(*offline::pixel_at<decltype(from)>(src, x, y), c);
                    *offline::pixel_at<decltype(to)>(out, x, y) = from_unit_channels<decltype(to)>(c);
                }
        });
    });
    return out;
}

// The frame's pixels as RGBA floats, premultiplied as the library reads them.
std::vector<float> read_rgba(const Opened& in, const std::string& path, int frame, const ImageSpec& spec) {
    const auto data = read_values<float>(in, path, frame, spec, TypeDesc::FLOAT);
    std::vector<float> rgba(std::size_t(spec.width) * std::size_t(spec.height) * 4);
    each_pixel<float>(data.get(), spec, 1.0f, [&](std::size_t i, float a, float r, float g, float b) {
        float* p = rgba.data() + 4 * i;
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    });
    return rgba;
}

// The world's pixels as RGBA floats 0..1, and a world from them.
std::vector<float> rgba_of(const offline::OfflineWorld& w) {
    const std::size_t width = std::size_t(w.world.width);
    std::vector<float> rgba(width * std::size_t(w.world.height) * 4);
    offline::with_world_pixel_type(w.format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        for (std::int32_t y = 0; y < w.world.height; ++y)
            for (std::size_t x = 0; x < width; ++x) {
                float c[4];
                unit_channels(offline::pixel_at<Pixel>(w, 0, y)[x], c);
                float* p = rgba.data() + 4 * (std::size_t(y) * width + x);
                p[0] = c[1], p[1] = c[2], p[2] = c[3], p[3] = c[0];
            }
    });
    return rgba;
}

offline::OfflineWorld world_of_rgba(const std::vector<float>& rgba, std::int32_t w, std::int32_t h,
                                    PF_PixelFormat format) {
    offline::OfflineWorld out = offline::make_world(format, w, h);
    offline::with_world_pixel_type(format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        for (std::int32_t y = 0; y < h; ++y) {
            Pixel* row = offline::pixel_at<Pixel>(out, 0, y);
            for (std::int32_t x = 0; x < w; ++x) {
                const float* p = rgba.data() + 4 * (std::size_t(y) * std::size_t(w) + std::size_t(x));
                const float c[4] = {p[3], p[0], p[1], p[2]};
                row[x] = from_unit_channels<Pixel>(c);
            }
        }
    });
    return out;
}

// Converts RGBA floats from one colour space to another, on the colours
// without their alpha; what went wrong otherwise.
std::optional<std::string> convert_colours(std::vector<float>& rgba, std::int32_t w, std::int32_t h,
                                           const std::string& from, const std::string& to) {
    ImageSpec spec(w, h, 4, TypeDesc::FLOAT);
    spec.alpha_channel = 3;
    ImageBuf buffer(spec, rgba.data());
    if (OIIO::ImageBufAlgo::colorconvert(buffer, buffer, from, to, true)) return std::nullopt;
    return first_line(buffer.geterror());
}

// The picture at the same depth with its colours converted; a failure ends
// with `code`, the reading or the writing side's.
offline::OfflineWorld converted(const offline::OfflineWorld& picture, const std::string& from,
                                const std::string& to, int code) {
    std::vector<float> rgba = rgba_of(picture);
    if (const auto failure = convert_colours(rgba, picture.world.width, picture.world.height, from, to))
        throw ToolError(code, "cannot convert a picture from " + from + " to " + to + ": " + *failure);
    return world_of_rgba(rgba, picture.world.width, picture.world.height, picture.format);
}

// The colour library reads the configuration $OCIO names; one that is not a
// file (a folder, a missing path) it half-loads and gives up on, so that is
// refused first, in our words.
void check_colour_configuration() {
    const char* variable = std::getenv("OCIO");
    if (!variable || !*variable) return;
    std::error_code ec;
    if (!fs::is_regular_file(variable, ec))
        throw ToolError(EXIT_INPUT, "OCIO names \"" + std::string(variable) +
                                        "\", which is not a colour configuration file; point it at a "
                                        "config.ocio or unset it for the built-in colour spaces");
}

std::string linear_of(const OIIO::ColorConfig& config) {
    for (const char* role : {"scene_linear", "linear"})
        if (const char* name = config.getColorSpaceNameByRole(role); name && *name) return name;
    return "linear";
}

bool converts(const OIIO::ColorConfig& config, const std::string& name, const std::string& linear) {
    return !name.empty() && config.createColorProcessor(name, linear) &&
           config.createColorProcessor(linear, name);
}

// The working space, once the name is known to convert to and from it.
std::string linear_for(const std::string& name) {
    check_colour_configuration();
    const OIIO::ColorConfig config;
    std::string linear = linear_of(config);
    if (!converts(config, name, linear))
        throw ToolError(EXIT_USAGE,
                        "unknown colour space \"" + name + "\"; `lumatrail colorspaces` lists them");
    return linear;
}

// Opens the file for its header: a PNG file through libpng, so that nothing
// in it can make libpng print; any other through the library.
// A format's name as users know it, from the library's name for its reader.
std::string format_title(std::string_view format) {
    static constexpr std::pair<std::string_view, std::string_view> TITLES[] = {
        {"targa", "TGA"},       {"hdr", "HDR (Radiance)"}, {"tiff", "TIFF"},
        {"openexr", "OpenEXR"}, {"jpeg", "JPEG"},          {"bmp", "BMP"},
        {"dpx", "DPX"},         {"webp", "WebP"}};
    for (const auto& [name, title] : TITLES)
        if (name == format) return std::string(title);
    std::string title(format);
    for (char& c : title) c = char(std::toupper(static_cast<unsigned char>(c)));
    return title;
}

// Why the library could not open the file, in the program's words: a folder,
// what the system said when the file would not open, an empty file, or a
// header the reader its extension names cannot take.
std::string open_failure(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return "it is a folder, not a picture";
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        return std::string("the system could not open it (") + std::strerror(errno) + ")";
    }
    if (fs::file_size(path, ec) == 0 && !ec) return "the file is empty";
    // The format its extension names, whose reader refused the header.
    std::string extension = fs::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [format, extensions] : OIIO::get_extension_map())
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end() &&
            format != "ffmpeg")
            return "it is not a whole " + format_title(format) +
                   " file: its header is damaged or the file is cut short";
    return "it is not a picture this program reads";
}

Opened open_input(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw ToolError(EXIT_INPUT, "no such file: " + quoted(path));
    if (fs::is_directory(path, ec) || access(path.c_str(), R_OK) != 0)
        throw ToolError(EXIT_INPUT, "cannot read " + quoted(path) + ": " + open_failure(path));
    if (is_png(path)) return {nullptr, read_png_layout(path)};
    // Movies are read through FFmpeg's libraries (movie_reader), never by the
    // picture library's own movie reader, which can abort the process.
    if (const auto reader = ImageInput::create(path, false);
        reader && std::string_view(reader->format_name()) == "FFmpeg movie")
        throw ToolError(EXIT_INPUT,
                        quoted(path) + " is a movie, not a picture (give it as the input to render it)");
    auto in = ImageInput::open(path);
    if (!in) {
        // The library's words name itself and its plug-ins, and say no more.
        OIIO::geterror();
        throw ToolError(EXIT_INPUT, "cannot read " + quoted(path) + ": " + open_failure(path));
    }
    return {std::move(in), std::nullopt};
}

// The picture's first (or only) spec; a PNG file's as the library would give it.
ImageSpec spec_of(const Opened& file, int frame = 0) {
    if (file.in) return frame == 0 ? file.in->spec() : file.in->spec(frame, 0);
    const PngLayout& png = *file.png;
    ImageSpec spec(png.width, png.height, png.channels, png.bits == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8);
    spec.alpha_channel = png.alpha_channel();
    return spec;
}

ImageInfo info_of(const Opened& file) {
    const ImageSpec spec = spec_of(file);
    ImageInfo info;
    info.width = spec.width;
    info.height = spec.height;
    info.depth = natural_depth(spec.format);
    // Files of several pictures (multi-page TIFF) give each as a subimage.
    info.frames = file.in ? spec.get_int_attribute("oiio:subimages", 1) : 1;
    return info;
}

// The most a read holds at once: the file's values with the world they fill
// and the world at another depth, or with a colour conversion the values as
// floats, the RGBA floats converted and the world made from them.
std::uint64_t bytes_to_read(const ImageSpec& spec, PF_PixelFormat natural, PF_PixelFormat target,
                            bool convert_colour) {
    const std::uint64_t pixels = std::uint64_t(spec.width) * std::uint64_t(spec.height);
    const auto channels = std::uint64_t(std::max(spec.nchannels, 1));
    if (convert_colour)
        return pixels * (channels * sizeof(float) + 4 * sizeof(float) + offline::pixel_size(target));
    return pixels * (channels * (offline::pixel_size(natural) / 4) + offline::pixel_size(natural) +
                     (target != natural ? offline::pixel_size(target) : 0));
}

// The library's writes into a pending file. Nothing may be thrown through
// the library, so a failure is recorded (the first error number) and
// reported as nothing written, and every later write is refused: an encoder
// that ignores a failed write cannot go on to leave a file with a hole in
// it. The cancel flag is a failure too (ECANCELED), seen at the next write.
// Some encoders write a few bytes at a time, so writes that follow on from
// each other are gathered before they reach the system.
class PendingProxy final : public OIIO::Filesystem::IOProxy {
public:
    PendingProxy(const PendingFile& file, const std::atomic<bool>* cancel)
        : IOProxy(file.temporary_path(), Write), fd_(file.fd()), cancel_(cancel) {
        gathered_.reserve(GATHER);
    }
    const char* proxytype() const override { return "pending"; }
    bool seek(int64_t offset) override {
        m_pos = std::max<int64_t>(offset, 0);
        return offset >= 0;
    }
    size_t write(const void* data, size_t size) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        const size_t n = put(data, size, m_pos);
        m_pos += int64_t(n);
        return n;
    }
    size_t pwrite(const void* data, size_t size, int64_t offset) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return put(data, size, offset);
    }
    // Some writers read back what they wrote (a header to patch).
    size_t read(void* data, size_t size) override {
        const size_t n = pread(data, size, m_pos);
        m_pos += int64_t(n);
        return n;
    }
    size_t pread(void* data, size_t size, int64_t offset) override;
    size_t size() const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return size_t(end_);
    }
    void flush() const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        send();
    }
    // Whether writing may go on, the cancel flag checked (and recorded) now.
    bool writable() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return check();
    }
    // After the library is done: what was gathered sent, 0 or the first error.
    int finish() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        send();
        return error_;
    }

private:
    static constexpr std::size_t GATHER = 256 * 1024;
    bool check() const {
        if (!error_ && cancel_ && cancel_->load()) error_ = ECANCELED;
        return error_ == 0;
    }
    size_t put(const void* data, size_t size, int64_t offset);
    bool send() const;

    int fd_;
    const std::atomic<bool>* cancel_;
    mutable std::mutex mutex_;
    mutable std::vector<char> gathered_;  // bytes that go at gathered_at_
    mutable int64_t gathered_at_ = 0;
    mutable int error_ = 0;
    int64_t end_ = 0;  // the file's size as written so far
};

bool PendingProxy::send() const {
    if (!gathered_.empty() && !error_)
        error_ = write_all_at(fd_, gathered_.data(), gathered_.size(), std::uint64_t(gathered_at_));
    gathered_.clear();
    return error_ == 0;
}

size_t PendingProxy::put(const void* data, size_t size, int64_t offset) {
    if (!check()) return 0;
    if (offset < 0) {
        error_ = EINVAL;
        return 0;
    }
    const auto* bytes = static_cast<const char*>(data);
    const bool follows = !gathered_.empty() && offset == gathered_at_ + int64_t(gathered_.size());
    if (!follows || gathered_.size() + size > GATHER) {
        if (!send()) return 0;
        gathered_at_ = offset;
    }
    if (size >= GATHER) {
        if ((error_ = write_all_at(fd_, bytes, size, std::uint64_t(offset)))) return 0;
    } else {
        gathered_.insert(gathered_.end(), bytes, bytes + size);
    }
    end_ = std::max(end_, offset + int64_t(size));
    return size;
}

size_t PendingProxy::pread(void* data, size_t size, int64_t offset) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!send() || offset < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd_, static_cast<char*>(data) + done, size - done, off_t(offset) + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

// Rows go to the library a chunk of about a megabyte at a time, the proxy
// asked between chunks whether to go on: some encoders (PNG, JPEG) take
// every row they are given before they write a byte, and would grind on
// through the whole picture after a cancel. Not before the first chunk
// (checked before the file is opened): the PNG writer closed without a row
// has libpng print an error of its own.
bool write_rows(ImageOutput& out, const ImageSpec& spec, TypeDesc type, const void* data,
                OIIO::stride_t xstride, const PendingProxy& proxy) {
    const OIIO::stride_t ystride = xstride * spec.width;
    const int rows = int(std::clamp<OIIO::stride_t>((OIIO::stride_t(1) << 20) / ystride, 1, spec.height));
    for (int y = 0; y < spec.height; y += rows) {
        if (y > 0 && !proxy.writable()) return false;
        const auto* first = static_cast<const char*>(data) + OIIO::stride_t(y) * ystride;
        if (!out.write_scanlines(y, std::min(spec.height, y + rows), 0, type, first, xstride, ystride))
            return false;
    }
    return true;
}

// The world's pixels as the library takes them: RGB(A) interleaved at the
// world's depth, or (filled by the caller) RGBA floats in another colour space.
struct FileValues {
    TypeDesc type;
    std::unique_ptr<std::uint8_t[]> bytes;
    std::vector<float> rgba;
};

FileValues file_values(const offline::OfflineWorld& w, bool alpha) {
    const int channels = alpha ? 4 : 3;
    return offline::with_world_pixel_type(w.format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        using Depth = FileDepth<Pixel>;
        const std::size_t width = std::size_t(w.world.width);
        // Every value is set below: no need to clear the buffer first.
        auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(
            width * std::size_t(w.world.height) * std::size_t(channels) * sizeof(typename Depth::Value));
        auto* values = reinterpret_cast<typename Depth::Value*>(bytes.get());
        for (std::int32_t y = 0; y < w.world.height; ++y) {
            const Pixel* row = offline::pixel_at<Pixel>(w, 0, y);
            typename Depth::Value* to = values + std::size_t(y) * width * std::size_t(channels);
            for (std::size_t x = 0; x < width; ++x, to += channels) {
                const Pixel& p = row[x];
                to[0] = Depth::to_file(p.red);
                to[1] = Depth::to_file(p.green);
                to[2] = Depth::to_file(p.blue);
                if (alpha) to[3] = Depth::to_file(p.alpha);
            }
        }
        return FileValues{TypeDesc(Depth::TYPE), std::move(bytes), {}};
    });
}

// The library's message about the file, under the name the user gave.
std::string library_reason(ImageOutput& out, const PendingFile& file) {
    std::string text = first_line(out.geterror());
    for (std::size_t at; (at = text.find(file.temporary_path())) != std::string::npos;)
        text.replace(at, file.temporary_path().size(), file.final_path());
    return text;
}

// Writes the values into the pending file and commits it. The proxy's own
// record decides first: some encoders report success after failed writes.
// A format the library cannot write through a proxy writes the temporary by
// name instead, still renamed into place only when complete.
void write_pending(std::unique_ptr<ImageOutput> out, ImageSpec spec, const FileValues& values,
                   PendingFile& file, const std::atomic<bool>* cancel) {
    PendingProxy proxy(file, cancel);
    if (!proxy.writable()) {
        file.abandon();
        throw ToolError(EXIT_CANCELLED, "cancelled before " + quoted(file.final_path()) + " was written");
    }
    if (out->supports("ioproxy")) {
        OIIO::Filesystem::IOProxy* pointer = &proxy;
        spec.attribute("oiio:ioproxy", TypeDesc::PTR, &pointer);
    }
    const auto write = [&] {
        if (values.rgba.empty())
            return write_rows(*out, spec, values.type, values.bytes.get(),
                              OIIO::stride_t(spec.nchannels * values.type.size()), proxy);
        return write_rows(*out, spec, TypeDesc::FLOAT, values.rgba.data(), OIIO::stride_t(4 * sizeof(float)),
                          proxy);
    };
    const bool written = out->open(file.temporary_path(), spec) && write();
    const bool closed = out->close();
    const std::string reason = written && closed ? "" : library_reason(*out, file);
    // The writer goes before the proxy it points to.
    out.reset();
    if (const int error = proxy.finish()) {
        if (error != ECANCELED) file.fail(error);
        file.abandon();
        throw ToolError(EXIT_CANCELLED, "cancelled while writing " + quoted(file.final_path()));
    }
    if (!written || !closed) file.fail(reason);
    file.commit();
}

}  // namespace

std::string size_text(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1000000000u)
        std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    else
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

std::uint64_t available_memory() {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    unsigned long long kib = 0;
    if (f) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) break;
        std::fclose(f);
    }
    if (kib > 0) return std::uint64_t(kib) * 1024u;
    const long pages = sysconf(_SC_AVPHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? std::uint64_t(pages) * std::uint64_t(page) : UINT64_MAX;
}

ImageInfo probe_image(const std::string& path) { return info_of(open_input(path)); }

offline::OfflineWorld read_image(const std::string& path, std::optional<PF_PixelFormat> depth,
                                 std::int32_t frame, const std::string& input_colorspace,
                                 std::optional<std::uint64_t> memory_budget) {
    const std::string linear = input_colorspace.empty() ? "" : linear_for(input_colorspace);
    const Opened in = open_input(path);
    const ImageInfo info = info_of(in);
    if (frame < 0 || frame >= info.frames)
        throw ToolError(EXIT_INPUT, quoted(path) + " has no frame " + std::to_string(frame) + ": it holds " +
                                        std::to_string(info.frames) +
                                        (info.frames == 1 ? " frame" : " frames") + ", counted from 0");
    const ImageSpec spec = spec_of(in, frame);
    const std::string size = std::to_string(spec.width) + "x" + std::to_string(spec.height);
    if (spec.width < 1 || spec.height < 1 || spec.width > 65536 || spec.height > 65536)
        throw ToolError(EXIT_INPUT, quoted(path) + " is " + size + "; sizes from 1 to 65536 are supported");
    const PF_PixelFormat natural = natural_depth(spec.format), target = depth.value_or(natural);
    const std::uint64_t needed = bytes_to_read(spec, natural, target, !input_colorspace.empty());
    const std::uint64_t allowed = memory_budget.value_or(available_memory());
    if (needed > allowed)
        throw ToolError(EXIT_INPUT, quoted(path) + " is " + size + ": reading it would take " +
                                        size_text(needed) + ", more than the " + size_text(allowed) +
                                        " allowed");
    // Only now the whole file, so that a huge claim is refused from its header alone.
    if (const auto problem = in.in ? whole_file_problem(path, in.in->format_name()) : std::nullopt)
        throw ToolError(EXIT_INPUT, "cannot read " + quoted(path) + ": " + *problem);
    try {
        if (!input_colorspace.empty()) {
            std::vector<float> rgba = read_rgba(in, path, frame, spec);
            if (const auto failure = convert_colours(rgba, spec.width, spec.height, input_colorspace, linear))
                throw ToolError(EXIT_INPUT, "cannot convert " + quoted(path) + " from " + input_colorspace +
                                                ": " + *failure);
            return world_of_rgba(rgba, spec.width, spec.height, target);
        }
        offline::OfflineWorld world = offline::make_world(natural, spec.width, spec.height);
        offline::with_world_pixel_type(
            natural, [&](auto pixel) { read_pixels<decltype(pixel)>(in, path, frame, spec, world); });
        // Returned by name, so that the picture is moved out rather than copied.
        if (target != natural) return convert_depth(world, target);
        return world;
    } catch (const std::bad_alloc&) {
        throw ToolError(EXIT_INPUT, quoted(path) + " is " + size + ", too large to read into memory");
    }
}

bool is_whole_image(const std::string& path) {
    try {
        read_image(path);
        return true;
    } catch (...) {
        // Whatever stops the read (a damaged file, too little memory), the
        // file is not known to be whole.
        return false;
    }
}

bool can_write(const std::string& path) { return ImageOutput::create(path) != nullptr; }

void write_image(const offline::OfflineWorld& w, const std::string& path,
                 const std::string& output_colorspace, const WriteControl& control) {
    const std::string linear = output_colorspace.empty() ? "" : linear_for(output_colorspace);
    if (!w.world.data) throw ToolError(EXIT_OUTPUT, "nothing was rendered to write to \"" + path + "\"");
    const fs::path target(path);
    std::error_code ec;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec))
        throw ToolError(EXIT_OUTPUT,
                        "the folder \"" + folder.string() + "\" for \"" + path + "\" does not exist");
    auto out = ImageOutput::create(path);
    if (!out)
        throw ToolError(EXIT_OUTPUT, "cannot write \"" + path +
                                         "\": no image format is known for its extension "
                                         "(try .png, .tif, .exr, .jpg or .dpx)");
    const bool alpha = out->supports("alpha");
    FileValues values = file_values(w, alpha);
    // Converted colours go to the library as RGBA floats, which it turns into
    // the file's values (without alpha: the first three of every four).
    if (!output_colorspace.empty()) {
        values.rgba = rgba_of(w);
        if (const auto failure =
                convert_colours(values.rgba, w.world.width, w.world.height, linear, output_colorspace))
            throw ToolError(EXIT_OUTPUT, "cannot convert the picture for " + quoted(path) + " to " +
                                             output_colorspace + ": " + *failure);
    }
    ImageSpec spec(w.world.width, w.world.height, alpha ? 4 : 3, values.type);
    spec.alpha_channel = alpha ? 3 : -1;
    PendingFile file(path, control.pending);
    write_pending(std::move(out), spec, values, file, control.cancel);
}

std::vector<std::string> known_colorspaces() {
    check_colour_configuration();
    const OIIO::ColorConfig config;
    const std::string linear = linear_of(config);
    std::vector<std::string> names;
    for (const std::string& name : config.getColorSpaceNames())
        if (converts(config, name, linear)) names.push_back(name);
    return names;
}

std::string linear_colorspace() {
    check_colour_configuration();
    return linear_of(OIIO::ColorConfig());
}

void check_colorspace(const std::string& name) { linear_for(name); }

offline::OfflineWorld convert_from_colorspace(const offline::OfflineWorld& picture, const std::string& name) {
    return converted(picture, name, linear_for(name), EXIT_INPUT);
}

offline::OfflineWorld convert_to_colorspace(const offline::OfflineWorld& picture, const std::string& name) {
    return converted(picture, linear_for(name), name, EXIT_OUTPUT);
}

}  // namespace lumatrail::tools
