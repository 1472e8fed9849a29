#include "tools/lumatrail/media/movie_writer.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cctype>
#include <array>
#include <climits>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "tools/lumatrail/media/movie_libav.h"

namespace lumatrail::tools {
namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

struct Container {
    const char* extension;
    const char* muxer;
    const char* default_codec;
};
constexpr Container CONTAINERS[] = {{".mov", "mov", "prores"}, {".mp4", "mp4", "h264"},
                                    {".m4v", "mp4", "h264"},   {".mkv", "matroska", "ffv1"},
                                    {".webm", "webm", "vp9"},  {".avi", "avi", "mjpeg"}};

// A --codec name, its encoder, and the pixel formats it writes: one for
// 8-bit renders, deeper ones in order of preference (none: 8 bits only).
struct CodecEntry {
    const char* name;
    const char* encoder;
    AVPixelFormat shallow;
    std::array<AVPixelFormat, 3> deep;
};
constexpr AVPixelFormat NONE = AV_PIX_FMT_NONE;
const CodecEntry CODECS[] = {
    {"h264", "libx264", AV_PIX_FMT_YUV420P, {AV_PIX_FMT_YUV420P10LE, NONE, NONE}},
    {"h265", "libx265", AV_PIX_FMT_YUV420P, {AV_PIX_FMT_YUV420P10LE, NONE, NONE}},
    {"prores", "prores_ks", AV_PIX_FMT_YUV422P10LE, {AV_PIX_FMT_YUV422P10LE, NONE, NONE}},
    {"prores4444", "prores_ks", AV_PIX_FMT_YUVA444P10LE, {AV_PIX_FMT_YUVA444P10LE, NONE, NONE}},
    {"ffv1", "ffv1", AV_PIX_FMT_BGRA, {AV_PIX_FMT_GBRAP16LE, AV_PIX_FMT_RGBA64LE, AV_PIX_FMT_GBRP16LE}},
    {"vp9", "libvpx-vp9", AV_PIX_FMT_YUV420P, {AV_PIX_FMT_YUV420P10LE, NONE, NONE}},
    {"mjpeg", "mjpeg", AV_PIX_FMT_YUV420P, {NONE, NONE, NONE}},
    {"dnxhr", "dnxhd", AV_PIX_FMT_YUV422P, {AV_PIX_FMT_YUV422P10LE, NONE, NONE}},
};

// Everything decided before a frame is rendered.
struct Plan {
    const Container* container = nullptr;
    const CodecEntry* codec = nullptr;
    const AVCodec* encoder = nullptr;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::vector<std::pair<std::string, std::string>> options;  // the encoder's own options
    int qscale = 0;                                            // a fixed quantiser, 0 for none
    bool audio = false;                                        // audio is copied
    std::vector<std::string> warnings;
};

std::string lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const Container* container_of(const std::string& path) {
    const std::string extension = lower(std::filesystem::path(path).extension().string());
    for (const Container& c : CONTAINERS)
        if (extension == c.extension) return &c;
    return nullptr;
}

const AVOutputFormat* muxer_of(const Container& c) { return av_guess_format(c.muxer, nullptr, nullptr); }

bool holds(const Container& c, AVCodecID id) {
    const AVOutputFormat* muxer = muxer_of(c);
    // The QuickTime muxer knows a tag for VP9 but refuses it when writing the
    // header ("only supported in MP4"): a .mov never holds it.
    if (id == AV_CODEC_ID_VP9 && std::string_view(c.muxer) == "mov") return false;
    return muxer && avformat_query_codec(muxer, id, FF_COMPLIANCE_NORMAL) == 1;
}

const AVCodec* encoder_of(const CodecEntry& codec) { return avcodec_find_encoder_by_name(codec.encoder); }

// The codecs this build writes into the container, for messages.
std::string codecs_held(const Container& c) {
    std::string names;
    for (const CodecEntry& codec : CODECS) {
        const AVCodec* encoder = encoder_of(codec);
        if (!encoder || !holds(c, encoder->id)) continue;
        names += (names.empty() ? "" : ", ") + std::string(codec.name);
    }
    return names.empty() ? "none in this build" : names;
}

bool offers(const AVCodec& encoder, AVPixelFormat format) {
    for (const AVPixelFormat* f = encoder.pix_fmts; f && *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

std::string depth_name(PF_PixelFormat depth) {
    return depth == PF_PixelFormat_ARGB64 ? "16-bit" : depth == PF_PixelFormat_ARGB128 ? "float" : "8-bit";
}

// The pixel format for the render's depth: the first deeper format the
// encoder offers for deep renders, else the 8-bit one.
AVPixelFormat pixel_format(const CodecEntry& codec, const AVCodec& encoder, PF_PixelFormat depth,
                           std::vector<std::string>& warnings) {
    if (depth == PF_PixelFormat_ARGB32) return codec.shallow;
    for (const AVPixelFormat f : codec.deep)
        if (f != AV_PIX_FMT_NONE && offers(encoder, f)) return f;
    warnings.push_back(std::string(codec.name) + " in this build writes 8 bits a channel: the " +
                       depth_name(depth) + " render is written at 8 bits");
    return codec.shallow;
}

int scaled(int quality, int top) { return int(std::lround(double(100 - quality) * top / 99.0)); }

// The encoder's options for the quality (see the header for the mapping).
void quality_options(Plan& plan, const MovieSettings& s) {
    const std::string name = plan.codec->name;
    const bool deep = plan.format != plan.codec->shallow;
    const std::optional<int> q = s.quality;
    if (name == "h264" || name == "h265") {
        if (q) plan.options.emplace_back("crf", std::to_string(scaled(*q, 51)));
    } else if (name == "vp9") {
        plan.options.emplace_back("crf", std::to_string(q ? scaled(*q, 63) : 31));
        plan.options.emplace_back("b", "0");
    } else if (name == "mjpeg" || name.starts_with("prores")) {
        if (q || name == "mjpeg") plan.qscale = q ? 2 + scaled(*q, 29) : 3;
    } else if (name == "dnxhr") {
        const char* profile = deep            ? "dnxhr_hqx"
                              : !q || *q > 66 ? "dnxhr_hq"
                              : *q > 33       ? "dnxhr_sq"
                                              : "dnxhr_lb";
        plan.options.emplace_back("profile", profile);
        if (q && deep) plan.warnings.push_back("--quality is ignored: deep DNxHR is always HQX");
    } else if (name == "ffv1" && q) {
        plan.warnings.push_back("--quality is ignored: ffv1 is lossless");
    }
    if (name.starts_with("prores")) plan.options.emplace_back("profile", name == "prores" ? "hq" : "4444");
    if (name == "ffv1") plan.options.emplace_back("level", "3");
    if (name == "h265") plan.options.emplace_back("x265-params", "log-level=none");
}

// Refuses sizes the codec cannot take, naming what does.
void check_size(const Plan& plan, const MovieSettings& s, const std::string& path) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    if (s.width < 1 || s.height < 1 || s.width > 65536 || s.height > 65536)
        usage_error("cannot write " + quoted(path) + " at " + size + ": sizes from 1 to 65536 are supported");
    if (std::string(plan.codec->name) == "dnxhr" && (s.width < 256 || s.height < 120))
        usage_error("dnxhr takes 256x120 and larger, not " + size + "; prores or ffv1 take any size");
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(plan.format);
    const bool odd_width = s.width % (1 << d->log2_chroma_w) != 0;
    const bool odd_height = s.height % (1 << d->log2_chroma_h) != 0;
    if (odd_width || odd_height)
        usage_error(
            std::string(plan.codec->name) + " stores colour at half resolution and needs an even " +
            (odd_width ? "width" : "height") + ", not " + size +
            ": render an even size, or use ffv1 in .mkv (or prores4444 in .mov), which take any size");
}

// Whether the source's audio can be copied; warnings say why not.
bool check_audio(const Container& container, const MovieSettings& s, std::vector<std::string>& warnings) {
    libav::quiet();
    AVFormatContext* raw = nullptr;
    if (const int err = avformat_open_input(&raw, s.audio_from.c_str(), nullptr, nullptr); err < 0)
        throw ToolError(EXIT_INPUT,
                        "cannot read " + quoted(std::as_const(s.audio_from)) + ": " + libav::reason(err));
    const libav::Input input(raw);
    if (const int err = avformat_find_stream_info(raw, nullptr); err < 0)
        throw ToolError(EXIT_INPUT,
                        "cannot read " + quoted(std::as_const(s.audio_from)) + ": " + libav::reason(err));
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVCodecParameters& audio = *raw->streams[i]->codecpar;
        if (audio.codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if (holds(container, audio.codec_id)) return true;
        warnings.push_back("the audio of " + quoted(s.audio_from) + " (" + avcodec_get_name(audio.codec_id) +
                           ") is left out: " + container.extension + " cannot hold it");
        return false;
    }
    warnings.push_back(quoted(s.audio_from) + " has no audio to copy");
    return false;
}

Plan plan_movie(const std::string& path, const MovieSettings& s) {
    Plan plan;
    plan.container = container_of(path);
    if (!plan.container)
        usage_error("cannot write " + quoted(path) +
                    " as a movie: use .mov, .mp4, .m4v, .mkv, .webm or .avi");
    const Container& c = *plan.container;
    std::string name = lower(s.codec.empty() ? c.default_codec : s.codec);
    if (name == "hevc") name = "h265";
    for (const CodecEntry& codec : CODECS)
        if (name == codec.name) plan.codec = &codec;
    if (!plan.codec)
        usage_error("unknown codec \"" + s.codec + "\": " + c.extension + " takes " + codecs_held(c));
    plan.encoder = encoder_of(*plan.codec);
    if (!plan.encoder)
        usage_error("this build has no encoder for " + name + ": " + c.extension + " takes " +
                    codecs_held(c));
    if (!holds(c, plan.encoder->id))
        usage_error(std::string(c.extension) + " cannot hold " + name + ": it takes " + codecs_held(c));
    if (s.quality && (*s.quality < 1 || *s.quality > 100))
        usage_error("--quality takes 1 to 100 (higher is better), not " + std::to_string(*s.quality));
    if (s.rate.num < 1 || s.rate.den < 1 || s.rate.num > INT_MAX || s.rate.den > INT_MAX)
        usage_error("cannot write " + quoted(path) + " at " + to_string(s.rate) + " frames a second");
    plan.format = pixel_format(*plan.codec, *plan.encoder, s.depth, plan.warnings);
    check_size(plan, s, path);
    quality_options(plan, s);
    if (!s.audio_from.empty()) {
        plan.audio = check_audio(c, s, plan.warnings);
        if (plan.audio && !(s.audio_end > s.audio_start)) {
            plan.warnings.push_back("no audio is copied: the span of " + quoted(s.audio_from) + " is empty");
            plan.audio = false;
        }
    }
    return plan;
}

struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

}  // namespace

struct MovieWriter::State {
    Plan plan;
    std::unique_ptr<AVFormatContext, OutputCloser> out;
    libav::Codec encoder;
    AVStream* video = nullptr;
    libav::Frame straight{av_frame_alloc()};  // the world's pixels, straight RGBA
    libav::Frame picture{av_frame_alloc()};   // in the encoder's pixel format
    libav::Packet packet{av_packet_alloc()};
    libav::Scaler scaler;
    std::int64_t frames = 0;
    bool finished = false;
    // Audio copied from the source: its file, stream, the source ticks
    // subtracted from every packet, and the end of the span in those ticks.
    std::string audio_from;
    libav::Input audio_in;
    int audio_index = -1;
    AVStream* audio = nullptr;
    std::int64_t audio_shift = 0, audio_end = 0;
    libav::Packet pending{av_packet_alloc()};  // the next packet to copy, read ahead
    bool has_pending = false, audio_done = true;
};

namespace {

[[noreturn]] void cannot_write(const std::string& shown, const std::string& why) {
    throw ToolError(EXIT_OUTPUT, "cannot write " + quoted(shown) + ": " + why);
}

void check(int err, const std::string& shown) {
    if (err < 0) cannot_write(shown, libav::reason(err));
}

bool hd(const MovieSettings& s) { return s.width >= 1280 || s.height >= 720; }

// Size, rate, pixel format, colour tags and quality for the encoder.
void configure_encoder(AVCodecContext& e, const MovieWriter::State& state, const MovieSettings& s) {
    const Plan& plan = state.plan;
    e.width = s.width;
    e.height = s.height;
    e.time_base = AVRational{int(s.rate.den), int(s.rate.num)};
    e.framerate = AVRational{int(s.rate.num), int(s.rate.den)};
    e.sample_aspect_ratio = AVRational{1, 1};
    e.pix_fmt = plan.format;
    e.thread_count = 0;  // as many threads as the machine has cores
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(plan.format);
    if (d->flags & AV_PIX_FMT_FLAG_RGB) {
        e.colorspace = AVCOL_SPC_RGB;
    } else if (std::string(plan.codec->name) == "mjpeg") {
        e.colorspace = AVCOL_SPC_BT470BG;
        e.color_range = AVCOL_RANGE_JPEG;
    } else {
        const bool bt709 = hd(s);
        e.colorspace = bt709 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        e.color_primaries = bt709 ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
        e.color_trc = bt709 ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
        e.color_range = AVCOL_RANGE_MPEG;
    }
    if (plan.qscale > 0) {
        e.flags |= AV_CODEC_FLAG_QSCALE;
        e.global_quality = plan.qscale * FF_QP2LAMBDA;
    }
    if (std::string(plan.codec->name) == "ffv1") e.gop_size = 1;  // every frame a key frame
    if (state.out->oformat->flags & AVFMT_GLOBALHEADER) e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

void open_encoder(MovieWriter::State& state, const MovieSettings& s, const std::string& shown) {
    state.encoder.reset(avcodec_alloc_context3(state.plan.encoder));
    if (!state.encoder) throw std::bad_alloc();
    configure_encoder(*state.encoder, state, s);
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : state.plan.options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
    const int err = avcodec_open2(state.encoder.get(), state.plan.encoder, &options);
    av_dict_free(&options);
    check(err, shown);
    state.video = avformat_new_stream(state.out.get(), nullptr);
    if (!state.video) throw std::bad_alloc();
    check(avcodec_parameters_from_context(state.video->codecpar, state.encoder.get()), shown);
    state.video->time_base = state.encoder->time_base;
    state.video->avg_frame_rate = state.encoder->framerate;
    // QuickTime players look for H.265 under this tag.
    const std::string muxer = state.out->oformat->name;
    if (state.plan.encoder->id == AV_CODEC_ID_HEVC && (muxer == "mov" || muxer == "mp4"))
        state.video->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
}

// The source's first audio stream, and the ticks that shift the span's
// start to 0: times count from its first video frame (else its first audio).
void open_audio(MovieWriter::State& state, const MovieSettings& s, const std::string& shown) {
    AVFormatContext* raw = nullptr;
    if (const int err = avformat_open_input(&raw, s.audio_from.c_str(), nullptr, nullptr); err < 0)
        throw ToolError(EXIT_INPUT,
                        "cannot read " + quoted(std::as_const(s.audio_from)) + ": " + libav::reason(err));
    state.audio_in.reset(raw);
    state.audio_from = s.audio_from;
    if (const int err = avformat_find_stream_info(raw, nullptr); err < 0)
        throw ToolError(EXIT_INPUT,
                        "cannot read " + quoted(std::as_const(s.audio_from)) + ": " + libav::reason(err));
    const AVStream* video = nullptr;
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* st = raw->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && state.audio_index < 0)
            state.audio_index = int(i);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !video &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            video = st;
    }
    const AVStream& audio = *raw->streams[state.audio_index];
    const AVRational tb = audio.time_base;
    std::int64_t origin = audio.start_time == AV_NOPTS_VALUE ? 0 : audio.start_time;
    if (video && video->start_time != AV_NOPTS_VALUE)
        origin = av_rescale_q(video->start_time, video->time_base, tb);
    state.audio_shift = origin + av_rescale_q(std::llround(s.audio_start * 1e6), AVRational{1, 1000000}, tb);
    state.audio_end = origin + av_rescale_q(std::llround(s.audio_end * 1e6), AVRational{1, 1000000}, tb);
    state.audio = avformat_new_stream(state.out.get(), nullptr);
    if (!state.audio) throw std::bad_alloc();
    check(avcodec_parameters_copy(state.audio->codecpar, audio.codecpar), shown);
    state.audio->codecpar->codec_tag = 0;  // the container picks its own
    state.audio->time_base = tb;
    state.audio_done = false;
}

// Copies the source's audio packets up to `until` seconds of the movie (all
// that is left of the span for infinity).
void copy_audio_until(MovieWriter::State& s, double until, const std::string& shown) {
    const AVStream& source = *s.audio_in->streams[s.audio_index];
    while (!s.audio_done) {
        if (!s.has_pending) {
            const int err = av_read_frame(s.audio_in.get(), s.pending.get());
            if (err == AVERROR_EOF) {
                s.audio_done = true;
                break;
            }
            if (err < 0)
                throw ToolError(EXIT_INPUT, "cannot read " + quoted(std::as_const(s.audio_from)) + ": " +
                                                libav::reason(err));
            const std::int64_t t = s.pending->pts != AV_NOPTS_VALUE ? s.pending->pts : s.pending->dts;
            if (s.pending->stream_index != s.audio_index || t == AV_NOPTS_VALUE || t < s.audio_shift) {
                av_packet_unref(s.pending.get());
                continue;
            }
            if (t >= s.audio_end) {
                av_packet_unref(s.pending.get());
                s.audio_done = true;
                break;
            }
            s.has_pending = true;
        }
        const std::int64_t t = s.pending->pts != AV_NOPTS_VALUE ? s.pending->pts : s.pending->dts;
        if (double(t - s.audio_shift) * av_q2d(source.time_base) > until) break;
        if (s.pending->pts != AV_NOPTS_VALUE) s.pending->pts -= s.audio_shift;
        if (s.pending->dts != AV_NOPTS_VALUE) s.pending->dts -= s.audio_shift;
        av_packet_rescale_ts(s.pending.get(), source.time_base, s.audio->time_base);
        s.pending->stream_index = s.audio->index;
        s.pending->pos = -1;
        s.has_pending = false;
        check(av_interleaved_write_frame(s.out.get(), s.pending.get()), shown);
    }
}

// Sends a picture (null: the end) and writes the packets the encoder gives.
void encode(MovieWriter::State& s, const AVFrame* picture, const std::string& shown) {
    check(avcodec_send_frame(s.encoder.get(), picture), shown);
    for (;;) {
        const int err = avcodec_receive_packet(s.encoder.get(), s.packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
        check(err, shown);
        if (s.packet->duration == 0) s.packet->duration = 1;
        av_packet_rescale_ts(s.packet.get(), s.encoder->time_base, s.video->time_base);
        s.packet->stream_index = s.video->index;
        if (s.audio) {
            const std::int64_t t = s.packet->dts != AV_NOPTS_VALUE ? s.packet->dts : s.packet->pts;
            copy_audio_until(s, double(t) * av_q2d(s.video->time_base), shown);
        }
        check(av_interleaved_write_frame(s.out.get(), s.packet.get()), shown);
    }
}

void allocate_frames(MovieWriter::State& s, const MovieSettings& settings) {
    if (!s.straight || !s.picture || !s.packet || !s.pending) throw std::bad_alloc();
    s.straight->format = settings.depth == PF_PixelFormat_ARGB32 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGBA64;
    s.picture->format = s.plan.format;
    for (AVFrame* f : {s.straight.get(), s.picture.get()}) {
        f->width = settings.width;
        f->height = settings.height;
        if (av_frame_get_buffer(f, 0) < 0) throw std::bad_alloc();
    }
    const auto from = AVPixelFormat(s.straight->format);
    s.scaler.reset(sws_getContext(settings.width, settings.height, from, settings.width, settings.height,
                                  s.plan.format, SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr,
                                  nullptr, nullptr));
    if (!s.scaler) throw std::bad_alloc();
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(s.plan.format);
    if (!(d->flags & AV_PIX_FMT_FLAG_RGB)) {
        const int* table =
            sws_getCoefficients(s.encoder->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
        sws_setColorspaceDetails(s.scaler.get(), table, 1, table, s.encoder->color_range == AVCOL_RANGE_JPEG,
                                 0, 1 << 16, 1 << 16);
    }
}

std::uint8_t straight8(std::uint32_t c, std::uint32_t a) {
    return a == 0 ? 0 : std::uint8_t(std::min<std::uint32_t>(255, (c * 510 + a) / (2 * a)));
}

std::uint16_t straight16(std::uint64_t c, std::uint64_t a16) {
    constexpr std::uint64_t full2 = 65535ull * 65535ull;
    if (a16 == 0) return 0;
    return std::uint16_t(std::min<std::uint64_t>(65535, (2 * c * full2 + 32768 * a16) / (2 * 32768 * a16)));
}

std::uint16_t unit16(float v) { return std::uint16_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 65535.0f)); }

// The world's premultiplied pixels as straight RGBA in s.straight (the
// rounding is the header's).
void fill_straight(MovieWriter::State& s, const offline::OfflineWorld& w) {
    AVFrame& f = *s.straight;
    for (std::int32_t y = 0; y < w.world.height; ++y) {
        std::uint8_t* line = f.data[0] + std::ptrdiff_t(y) * f.linesize[0];
        auto* wide = reinterpret_cast<std::uint16_t*>(line);
        for (std::int32_t x = 0; x < w.world.width; ++x) {
            if (w.format == PF_PixelFormat_ARGB32) {
                const PF_Pixel p = offline::pixel_at<PF_Pixel>(w, 0, y)[x];
                std::uint8_t* o = line + 4 * x;
                o[0] = straight8(p.red, p.alpha), o[1] = straight8(p.green, p.alpha);
                o[2] = straight8(p.blue, p.alpha), o[3] = p.alpha;
            } else if (w.format == PF_PixelFormat_ARGB64) {
                const PF_Pixel16 p = offline::pixel_at<PF_Pixel16>(w, 0, y)[x];
                const std::uint64_t a16 = (std::min<std::uint64_t>(p.alpha, 32768) * 65535 + 16384) / 32768;
                std::uint16_t* o = wide + 4 * x;
                o[0] = straight16(p.red, a16), o[1] = straight16(p.green, a16);
                o[2] = straight16(p.blue, a16), o[3] = std::uint16_t(a16);
            } else {
                const PF_PixelFloat p = offline::pixel_at<PF_PixelFloat>(w, 0, y)[x];
                const float a = std::clamp(p.alpha, 0.0f, 1.0f);
                auto c = [a](float v) { return a > 0 ? unit16(v / a) : std::uint16_t(0); };
                std::uint16_t* o = wide + 4 * x;
                o[0] = c(p.red), o[1] = c(p.green), o[2] = c(p.blue), o[3] = unit16(a);
            }
        }
    }
}

}  // namespace

bool is_movie_output(const std::string& path) { return container_of(path) != nullptr; }

std::vector<std::string> check_movie_settings(const std::string& path, const MovieSettings& settings) {
    libav::quiet();
    return plan_movie(path, settings).warnings;
}

MovieWriter::MovieWriter(const std::string& file, const std::string& shown, const MovieSettings& settings)
    : shown_(shown), settings_(settings), state_(std::make_unique<State>()) {
    libav::quiet();
    State& s = *state_;
    s.plan = plan_movie(shown, settings);
    try {
        AVFormatContext* raw = nullptr;
        check(avformat_alloc_output_context2(&raw, muxer_of(*s.plan.container), nullptr, file.c_str()),
              shown);
        s.out.reset(raw);
        open_encoder(s, settings, shown);
        if (s.plan.audio) open_audio(s, settings, shown);
        if (!(s.out->oformat->flags & AVFMT_NOFILE))
            check(avio_open(&s.out->pb, file.c_str(), AVIO_FLAG_WRITE), shown);
        check(avformat_write_header(s.out.get(), nullptr), shown);
        allocate_frames(s, settings);
    } catch (const std::bad_alloc&) {
        cannot_write(shown, "not enough memory");
    }
}

MovieWriter::~MovieWriter() = default;

void MovieWriter::write(const offline::OfflineWorld& frame) {
    State& s = *state_;
    if (s.finished) cannot_write(shown_, "a frame came after the movie was finished");
    if (frame.format != settings_.depth || frame.world.width != settings_.width ||
        frame.world.height != settings_.height || !frame.world.data)
        cannot_write(shown_, "frame " + std::to_string(s.frames) + " is " +
                                 std::to_string(frame.world.width) + "x" +
                                 std::to_string(frame.world.height) + " " + depth_name(frame.format) +
                                 ", not the movie's " + std::to_string(settings_.width) + "x" +
                                 std::to_string(settings_.height) + " " + depth_name(settings_.depth));
    fill_straight(s, frame);
    check(av_frame_make_writable(s.picture.get()), shown_);
    if (sws_scale(s.scaler.get(), s.straight->data, s.straight->linesize, 0, settings_.height,
                  s.picture->data, s.picture->linesize) <= 0)
        cannot_write(shown_, "frame " + std::to_string(s.frames) + " cannot be converted for the encoder");
    s.picture->pts = s.frames++;
    encode(s, s.picture.get(), shown_);
}

void MovieWriter::finish() {
    State& s = *state_;
    if (s.finished) return;
    encode(s, nullptr, shown_);
    if (s.audio) copy_audio_until(s, std::numeric_limits<double>::infinity(), shown_);
    check(av_write_trailer(s.out.get()), shown_);
    if (s.out->pb) {
        check(s.out->pb->error, shown_);
        check(avio_closep(&s.out->pb), shown_);
    }
    s.finished = true;
}

}  // namespace lumatrail::tools
