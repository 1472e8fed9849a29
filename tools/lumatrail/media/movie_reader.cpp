#include "tools/lumatrail/media/movie_reader.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <climits>
#include <fstream>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "tools/lumatrail/media/movie_libav.h"

namespace lumatrail::tools {
namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

[[noreturn]] void cannot_read(const std::string& path, const std::string& why) {
    throw ToolError(EXIT_INPUT, "cannot read " + quoted(path) + ": " + why);
}

std::string frames_text(std::int64_t n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

// Demuxers that open single pictures or numbered sequences of them, and the
// one that shows a text file as a picture: none of them opens a movie.
bool still_demuxer(const AVInputFormat& format) {
    const std::string_view name = format.name;
    return name == "image2" || name == "image2pipe" || name.ends_with("_pipe") || name == "tty";
}

// Whether the file's first bytes are those of a container the libraries
// know for movies, whatever its name says: a movie whose index is damaged,
// so that the libraries cannot open it, is still a movie, and its error is
// the movie reader's to give (the picture library would only call it a
// movie, or read it with its own movie reader).
bool starts_like_a_movie(const std::string& path) {
    constexpr int PROBE_BYTES = 4096;
    std::vector<unsigned char> bytes(PROBE_BYTES + AVPROBE_PADDING_SIZE, 0);
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), PROBE_BYTES) && file.gcount() <= 0) return false;
    AVProbeData probe{};
    probe.filename = "";  // by content only: an empty or text file named .mov is no movie
    probe.buf = bytes.data();
    probe.buf_size = int(file.gcount());
    int score = AVPROBE_SCORE_RETRY;  // a format must be more certain than this
    const AVInputFormat* format = av_probe_input_format2(&probe, 1, &score);
    return format && !still_demuxer(*format);
}

// The container's main video stream: the one the libraries rank first,
// unless it is a cover picture; -1 when there is none.
int video_stream(const AVFormatContext& input) {
    const int best =
        av_find_best_stream(const_cast<AVFormatContext*>(&input), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    auto usable = [&](int i) {
        const AVStream& s = *input.streams[i];
        return s.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s.disposition & AV_DISPOSITION_ATTACHED_PIC);
    };
    if (best >= 0 && usable(best)) return best;
    for (unsigned i = 0; i < input.nb_streams; ++i)
        if (usable(int(i))) return int(i);
    return -1;
}

// An opened container and its video stream.
struct Opened {
    libav::Input input;
    int stream = -1;
};

// Opens the container and looks into its streams; the error is the
// libraries' code, or 0 with no video stream for a container without one.
std::pair<Opened, int> open_container(const std::string& path) {
    libav::quiet();
    AVFormatContext* raw = nullptr;
    if (const int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); err < 0)
        return {Opened{}, err};
    Opened opened{libav::Input(raw), -1};
    if (still_demuxer(*opened.input->iformat)) return {std::move(opened), 0};
    if (const int err = avformat_find_stream_info(opened.input.get(), nullptr); err < 0)
        return {std::move(opened), err};
    opened.stream = video_stream(*opened.input);
    return {std::move(opened), 0};
}

Opened open_movie(const std::string& path) {
    auto [opened, err] = open_container(path);
    // A damaged index can claim more entries than memory holds.
    if (err == AVERROR(ENOMEM))
        cannot_read(path, "its index is damaged: it claims more entries than memory holds");
    if (err < 0) cannot_read(path, libav::reason(err));
    if (still_demuxer(*opened.input->iformat)) cannot_read(path, "it is a picture, not a movie");
    if (opened.stream < 0) cannot_read(path, "it holds no video");
    return std::move(opened);
}

const AVStream& stream_of(const Opened& opened) { return *opened.input->streams[opened.stream]; }

std::optional<FrameRate> rate_of(const AVStream& stream) {
    for (const AVRational r : {stream.avg_frame_rate, stream.r_frame_rate}) {
        if (r.num <= 0 || r.den <= 0) continue;
        int num = 0, den = 0;
        av_reduce(&num, &den, r.num, r.den, INT_MAX);
        return FrameRate{num, den};
    }
    return std::nullopt;
}

int bits_of(const AVPixFmtDescriptor& format) {
    int bits = 0;
    for (int i = 0; i < format.nb_components; ++i) bits = std::max(bits, format.comp[i].depth);
    return bits;
}

// Whether the pictures carry alpha: a pixel format with alpha, or VP9's
// alpha, which Matroska keeps beside the pictures and says so in a tag.
bool carries_alpha(const AVStream& stream, const AVPixFmtDescriptor* format) {
    if (format && (format->flags & AV_PIX_FMT_FLAG_ALPHA)) return true;
    const AVDictionaryEntry* mode = av_dict_get(stream.metadata, "alpha_mode", nullptr, 0);
    return stream.codecpar->codec_id == AV_CODEC_ID_VP9 && mode && std::string_view(mode->value) == "1";
}

// The video packets of the whole file, read without decoding them (those the
// container marks to be dropped are not presented, so not counted).
std::int64_t count_packets(AVFormatContext& input, int stream, const std::string& path) {
    const libav::Packet packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    std::int64_t count = 0;
    for (;;) {
        const int err = av_read_frame(&input, packet.get());
        if (err == AVERROR_EOF) return count;
        if (err < 0) cannot_read(path, libav::reason(err));
        if (packet->stream_index == stream && !(packet->flags & AV_PKT_FLAG_DISCARD)) ++count;
        av_packet_unref(packet.get());
    }
}

// The decoder for the stream: for VP9 with alpha, the one that decodes the
// alpha too, where this build has it.
const AVCodec* decoder_for(const AVCodecParameters& codec, bool alpha) {
    if (codec.codec_id == AV_CODEC_ID_VP9 && alpha)
        if (const AVCodec* with_alpha = avcodec_find_decoder_by_name("libvpx-vp9")) return with_alpha;
    return avcodec_find_decoder(codec.codec_id);
}

// Everything but the frame count, from the stream's header.
MovieInfo header_info(const Opened& opened, const std::string& path) {
    const AVStream& stream = stream_of(opened);
    const AVCodecParameters& codec = *stream.codecpar;
    MovieInfo info;
    info.codec = avcodec_get_name(codec.codec_id);
    info.width = codec.width;
    info.height = codec.height;
    if (info.width < 1 || info.height < 1 || info.width > 65536 || info.height > 65536)
        cannot_read(path, "its pictures are " + std::to_string(info.width) + "x" +
                              std::to_string(info.height) + "; sizes from 1 to 65536 are supported");
    const auto rate = rate_of(stream);
    if (!rate) cannot_read(path, "its video gives no frame rate");
    info.rate = *rate;
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(codec.format));
    info.depth = format && bits_of(*format) > 8 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32;
    info.alpha = carries_alpha(stream, format);
    for (unsigned i = 0; i < opened.input->nb_streams; ++i)
        info.audio = info.audio || opened.input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    if (!decoder_for(codec, info.alpha))
        cannot_read(path, "no decoder for its " + info.codec + " video in this build");
    return info;
}

bool full_range(const AVFrame& frame) {
    switch (AVPixelFormat(frame.format)) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P: return true;
    default: return frame.color_range == AVCOL_RANGE_JPEG;
    }
}

// The picture's colour matrix as the scaler names it; an unspecified one is
// BT.709 for HD sizes and BT.601 below.
int matrix_of(const AVFrame& frame) {
    switch (frame.colorspace) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return int(frame.colorspace);
    default: return frame.width >= 1280 || frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

struct AvFreer {
    void operator()(std::uint8_t* p) const { av_free(p); }
};

}  // namespace

struct MovieReader::State {
    Opened opened;
    libav::Codec decoder;
    libav::Packet packet{av_packet_alloc()};
    libav::Frame frame{av_frame_alloc()};
    libav::Scaler scaler;
    std::unique_ptr<std::uint8_t, AvFreer> rgba;  // the scaler's output, RGBA at 8 or 16 bits
    int rgba_linesize = 0;
    std::int64_t held = -1;  // the number of the frame in `frame`, -1 before the first
    bool flushed = false;    // the end of the stream has been given to the decoder
};

namespace {

std::unique_ptr<MovieReader::State> open_decoder(const std::string& path, const MovieInfo& info) {
    auto state = std::make_unique<MovieReader::State>();
    if (!state->packet || !state->frame) throw std::bad_alloc();
    state->opened = open_movie(path);
    const AVStream& stream = stream_of(state->opened);
    const AVCodec* codec = decoder_for(*stream.codecpar, info.alpha);
    if (!codec) cannot_read(path, "no decoder for its " + info.codec + " video in this build");
    state->decoder.reset(avcodec_alloc_context3(codec));
    if (!state->decoder) throw std::bad_alloc();
    if (const int err = avcodec_parameters_to_context(state->decoder.get(), stream.codecpar); err < 0)
        cannot_read(path, libav::reason(err));
    state->decoder->pkt_timebase = stream.time_base;
    state->decoder->thread_count = 0;  // as many threads as the machine has cores
    if (const int err = avcodec_open2(state->decoder.get(), codec, nullptr); err < 0)
        cannot_read(path, libav::reason(err));
    return state;
}

[[noreturn]] void cannot_decode(const std::string& path, std::int64_t frame, int err) {
    throw ToolError(EXIT_INPUT, "cannot read frame " + std::to_string(frame) + " of " + quoted(path) + ": " +
                                    libav::reason(err));
}

// Gives the decoder its next video packet, or the end of the stream.
void feed_decoder(MovieReader::State& s, const std::string& path, std::int64_t wanted) {
    for (;;) {
        const int err = av_read_frame(s.opened.input.get(), s.packet.get());
        if (err == AVERROR_EOF) {
            s.flushed = true;
            if (const int sent = avcodec_send_packet(s.decoder.get(), nullptr); sent < 0)
                cannot_decode(path, wanted, sent);
            return;
        }
        if (err < 0) cannot_decode(path, wanted, err);
        if (s.packet->stream_index != s.opened.stream) {
            av_packet_unref(s.packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(s.decoder.get(), s.packet.get());
        av_packet_unref(s.packet.get());
        if (sent < 0) cannot_decode(path, wanted, sent);
        return;
    }
}

// Decodes the next picture in presentation order into s.frame; false at the
// end of the stream. Pictures the decoder still holds at the end are given
// once the end has been sent, so the last frames are not lost.
bool decode_next(MovieReader::State& s, const std::string& path, std::int64_t wanted) {
    for (;;) {
        const int err = avcodec_receive_frame(s.decoder.get(), s.frame.get());
        if (err == 0) return true;
        if (err == AVERROR_EOF) return false;
        if (err != AVERROR(EAGAIN) || s.flushed) cannot_decode(path, wanted, err);
        feed_decoder(s, path, wanted);
    }
}

// The picture as RGBA in s.rgba, at the stream's size, converted by the
// picture's matrix and range: 8 bits a channel for 8-bit sources (which the
// scaler keeps exact for RGB ones), else 16 bits; true for 16.
bool scale_to_rgba(MovieReader::State& s, const MovieInfo& info, const std::string& path, std::int64_t n) {
    const AVFrame& f = *s.frame;
    const auto format = AVPixelFormat(f.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    // The scaler asserts on sizes and formats it does not take: they are refused first.
    if (f.width < 1 || f.height < 1 || f.width > 65536 || f.height > 65536 || !desc ||
        !sws_isSupportedInput(format))
        throw ToolError(EXIT_INPUT, "cannot read frame " + std::to_string(n) + " of " + quoted(path) +
                                        ": its decoder gives pictures this program cannot convert");
    const bool deep = bits_of(*desc) > 8;
    const AVPixelFormat to = deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    s.scaler.reset(sws_getCachedContext(s.scaler.release(), f.width, f.height, format, info.width,
                                        info.height, to, SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr,
                                        nullptr));
    if (!s.scaler) throw std::bad_alloc();
    if (!(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3) {
        const int* table = sws_getCoefficients(matrix_of(f));
        sws_setColorspaceDetails(s.scaler.get(), table, full_range(f) ? 1 : 0, table, 1, 0, 1 << 16, 1 << 16);
    }
    if (!s.rgba) {  // room for either
        std::uint8_t* data[4] = {};
        int linesize[4] = {};
        if (av_image_alloc(data, linesize, info.width, info.height, AV_PIX_FMT_RGBA64, 64) < 0)
            throw std::bad_alloc();
        s.rgba.reset(data[0]);
        s.rgba_linesize = linesize[0];
    }
    std::uint8_t* const out[4] = {s.rgba.get(), nullptr, nullptr, nullptr};
    const int out_linesize[4] = {s.rgba_linesize, 0, 0, 0};
    if (sws_scale(s.scaler.get(), f.data, f.linesize, 0, f.height, out, out_linesize) <= 0)
        throw ToolError(EXIT_INPUT, "cannot read frame " + std::to_string(n) + " of " + quoted(path) +
                                        ": its picture cannot be converted");
    return deep;
}

constexpr std::uint64_t FULL16_SQUARED = 65535ull * 65535ull;

// The world's value for a straight colour c with alpha a (both 0..65535,
// premultiplied with the rounding the header states), and for alpha itself.
template <class Pixel>
auto premultiplied(std::uint64_t c, std::uint64_t a) {
    if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
        return float(double(c * a) / double(FULL16_SQUARED));
    } else {
        constexpr auto full = std::uint64_t(offline::FULL_VALUE<Pixel>);
        return decltype(Pixel::alpha)((c * a * full + FULL16_SQUARED / 2) / FULL16_SQUARED);
    }
}

template <class Pixel>
Pixel pixel_of(const std::uint16_t* rgba) {
    const std::uint64_t a = rgba[3];
    Pixel p{};
    if constexpr (std::is_same_v<Pixel, PF_PixelFloat>)
        p.alpha = float(double(a) / 65535.0);
    else
        p.alpha = decltype(p.alpha)((a * std::uint64_t(offline::FULL_VALUE<Pixel>) + 32767u) / 65535u);
    p.red = premultiplied<Pixel>(rgba[0], a);
    p.green = premultiplied<Pixel>(rgba[1], a);
    p.blue = premultiplied<Pixel>(rgba[2], a);
    return p;
}

// Straight RGBA from the scaler (16 bits a channel when `deep`, else 8,
// widened exactly as v * 257) into the world's premultiplied pixels.
void premultiply_into(offline::OfflineWorld& world, const std::uint8_t* rgba, int linesize, bool deep) {
    offline::with_world_pixel_type(world.format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        for (std::int32_t y = 0; y < world.world.height; ++y) {
            const std::uint8_t* bytes = rgba + std::ptrdiff_t(y) * linesize;
            const auto* values = reinterpret_cast<const std::uint16_t*>(bytes);
            Pixel* row = offline::pixel_at<Pixel>(world, 0, y);
            for (std::int32_t x = 0; x < world.world.width; ++x) {
                if (deep) {
                    row[x] = pixel_of<Pixel>(values + 4 * x);
                    continue;
                }
                const std::uint8_t* v = bytes + 4 * x;
                const std::uint16_t wide[4] = {std::uint16_t(v[0] * 257), std::uint16_t(v[1] * 257),
                                               std::uint16_t(v[2] * 257), std::uint16_t(v[3] * 257)};
                row[x] = pixel_of<Pixel>(wide);
            }
        }
    });
}

}  // namespace

bool is_movie_file(const std::string& path) {
    try {
        const auto [opened, err] = open_container(path);
        if (opened.input) return !still_demuxer(*opened.input->iformat) && opened.stream >= 0;
        return starts_like_a_movie(path);
    } catch (...) {
        return false;
    }
}

MovieInfo probe_movie(const std::string& path) {
    try {
        const Opened opened = open_movie(path);
        MovieInfo info = header_info(opened, path);
        const std::int64_t claimed = stream_of(opened).nb_frames;
        info.frames = claimed > 0 ? claimed : count_packets(*opened.input, opened.stream, path);
        if (info.frames < 1) cannot_read(path, "its video holds no frames");
        return info;
    } catch (const std::bad_alloc&) {
        cannot_read(path, "not enough memory to open it");
    }
}

MovieReader::MovieReader(const std::string& path, std::optional<PF_PixelFormat> depth)
    : path_(path), info_(probe_movie(path)) {
    depth_ = depth.value_or(info_.depth);
    if (depth_ != PF_PixelFormat_ARGB32 && depth_ != PF_PixelFormat_ARGB64 &&
        depth_ != PF_PixelFormat_ARGB128)
        throw std::invalid_argument("unknown pixel format " + std::to_string(depth_));
}

MovieReader::~MovieReader() = default;

const MovieInfo& MovieReader::info() const { return info_; }

offline::OfflineWorld MovieReader::read(std::int64_t frame) {
    if (frame < 0 || frame >= info_.frames)
        throw ToolError(EXIT_INPUT, quoted(path_) + " has no frame " + std::to_string(frame) + ": it holds " +
                                        frames_text(info_.frames) + ", counted from 0");
    auto fewer = [&] {
        return ToolError(EXIT_INPUT, quoted(path_) + " has no frame " + std::to_string(frame) +
                                         ": its decoder gives only " + frames_text(decoded_) + " of the " +
                                         std::to_string(info_.frames) + " it counts");
    };
    // Once the decoder has given all it has, frames past them fail at once
    // rather than decoding the file again.
    if (decoded_ >= 0 && frame >= decoded_) throw fewer();
    try {
        // An earlier frame than the one decoded last starts the decoding over.
        if (state_ && frame < state_->held) state_.reset();
        if (!state_) state_ = open_decoder(path_, info_);
        while (state_->held < frame) {
            if (!decode_next(*state_, path_, frame)) {
                decoded_ = state_->held + 1;
                throw fewer();
            }
            ++state_->held;
        }
        const bool deep = scale_to_rgba(*state_, info_, path_, frame);
        offline::OfflineWorld world = offline::make_world(depth_, info_.width, info_.height);
        premultiply_into(world, state_->rgba.get(), state_->rgba_linesize, deep);
        return world;
    } catch (const ToolError&) {
        state_.reset();
        throw;
    } catch (const std::bad_alloc&) {
        state_.reset();
        throw ToolError(EXIT_INPUT, "cannot read frame " + std::to_string(frame) + " of " + quoted(path_) +
                                        ": not enough memory");
    }
}

}  // namespace lumatrail::tools
