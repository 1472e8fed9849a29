// What the movie reader and writer share about FFmpeg's libraries: owners
// that free what the libraries allocate, their logging silenced, and their
// error codes in our words.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace lumatrail::tools::libav {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Scaler = std::unique_ptr<SwsContext, ScalerFreer>;

// The libraries' log level is their own process-wide setting; it is set once,
// before the first file is opened, so that none of their text reaches the
// terminal: every failure is reported in our words instead.
inline void quiet() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// A library error as the system's reason ("no space left on device"), or for
// the libraries' own codes, what it means for the file.
inline std::string reason(int error) {
    if (error == AVERROR_EOF) return "the file ends early";
    if (error == AVERROR_INVALIDDATA) return "the file is damaged or not a movie";
    if (error == AVERROR_DECODER_NOT_FOUND) return "no decoder for its video in this build";
    if (error == AVERROR_ENCODER_NOT_FOUND) return "no encoder for the codec in this build";
    if (error == AVERROR_PATCHWELCOME) return "it uses a feature the libraries do not support";
    if (error == AVERROR_EXPERIMENTAL) return "the codec is experimental in this build";
    // The system's own codes are small negated errno values; the libraries'
    // codes are tags far below them.
    if (error < 0 && error > -4096) {
        std::string text = std::strerror(-error);
        if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
        return text;
    }
    return "the movie libraries failed (code " + std::to_string(error) + ")";
}

}  // namespace lumatrail::tools::libav
