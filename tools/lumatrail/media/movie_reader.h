// Movies read a frame at a time through FFmpeg's own libraries, into the
// offline host's worlds.
//
// Frames are counted in presentation order from 0, whatever time the stream
// starts at: frame N is the N-th picture the decoder presents. A movie of
// variable frame rate is read by the same rule: frame N is its N-th presented
// picture, and its time in a render is N / rate, where rate is the stream's
// average rate. Pictures keep their order but not their exact times.
//
// Pixels: the decoder's picture is converted to straight RGBA, 8 bits a
// channel for 8-bit sources and 16 bits for deeper ones (so that a 10- or
// 12-bit source never passes through 8 bits), honouring the picture's colour
// matrix and range (an unspecified matrix is BT.709 for pictures 1280 wide or
// 720 high and larger, BT.601 below). Chroma samples are spread over the
// pixels they cover rather than interpolated, which keeps hard colour edges
// where the encoder found them. A picture whose size changes mid-stream is
// scaled to the stream's size. Then, with a and colours c in 0..65535 (8-bit
// values widened exactly, as v * 257):
//   8-bit world:  c' = round(c * a * 255 / 65535^2),   alpha round(a * 255 / 65535)
//   16-bit world: c' = round(c * a * 32768 / 65535^2), alpha round(a * 32768 / 65535)
//   float world:  c' = c * a / 65535^2,                alpha a / 65535
// in exact integer arithmetic, rounded to nearest (the divisors are odd, so
// no value falls on a half). For 8-bit sources the 8-bit world is exactly
// round(c8 * a8 / 255). Without alpha the picture is opaque.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "offline/offline_world.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

struct MovieInfo {
    std::int32_t width = 0, height = 0;
    std::int64_t frames = 0;                       // presented frames
    FrameRate rate;                                // the stream's exact rate, in lowest terms
    PF_PixelFormat depth = PF_PixelFormat_ARGB32;  // ARGB32 for 8-bit sources, ARGB64 for deeper ones
    bool alpha = false;                            // the codec carries alpha
    bool audio = false;                            // the file has an audio stream
    std::string codec;                             // "h264", "prores", ...
};

// Whether the file is a movie: a container the libraries open with a video
// stream that is not a single still (files the picture demuxers open, such
// as PNG, JPEG, TIFF or numbered sequences, are stills), or a file whose
// first bytes are a movie container's that the libraries cannot open (its
// index damaged), which the movie reader then refuses. Never throws.
bool is_movie_file(const std::string& path);

// Header and stream information. The frame count is the container's when it
// gives one, otherwise the video packets are counted (without decoding).
// Throws ToolError(EXIT_INPUT) naming the file when it cannot be read.
MovieInfo probe_movie(const std::string& path);

// One decoder over one file; not thread-safe (the caller serialises).
class MovieReader {
public:
    // Opens the file and its decoder; worlds are made at `depth`, by default
    // info().depth. Throws ToolError(EXIT_INPUT) as probe_movie does.
    explicit MovieReader(const std::string& path, std::optional<PF_PixelFormat> depth = {});
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    const MovieInfo& info() const;

    // Frame N, counted from 0 in presentation order. Frames are meant to be
    // asked for in increasing order: those skipped are decoded and dropped;
    // the same frame again is given again, and an earlier one starts the
    // decoding over from the beginning. Throws ToolError(EXIT_INPUT), in one
    // line naming the file and the frame, for a frame the file does not hold
    // or a decoding error; after an error the next read starts over.
    offline::OfflineWorld read(std::int64_t frame);

    struct State;  // the open file and decoder, defined where they are used

private:
    std::string path_;
    PF_PixelFormat depth_;
    MovieInfo info_;
    std::int64_t decoded_ = -1;  // the frames the decoder gave in all, once it has reached the end
    std::unique_ptr<State> state_;
};

}  // namespace lumatrail::tools
