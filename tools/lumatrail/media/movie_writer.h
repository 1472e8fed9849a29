// Movies written through FFmpeg's own libraries from the offline host's
// worlds, a frame at a time.
//
// Containers, by extension (case-insensitive), and their default codecs:
//   .mov         ProRes 422 HQ
//   .mp4 .m4v    H.264
//   .mkv         FFV1, lossless RGB with alpha
//   .webm        VP9
//   .avi         Motion JPEG
// --codec names and the pixel formats written, for 8-bit renders / for
// 16-bit and float renders (where the codec has no deeper format, the deep
// render is written at 8 bits and a warning says so):
//   h264 (libx264)           yuv420p / yuv420p10le
//   h265, hevc (libx265)     yuv420p / yuv420p10le
//   prores (prores_ks HQ)    yuv422p10le
//   prores4444 (prores_ks)   yuva444p10le, keeping alpha
//   ffv1                     bgra / 16-bit RGB with alpha (gbrap16le, or the
//                            first 16-bit RGB format the encoder offers)
//   vp9 (libvpx-vp9)         yuv420p / yuv420p10le
//   mjpeg                    yuv420p at full range, 8 bits only
//   dnxhr (dnxhd)            yuv422p (DNxHR LB, SQ or HQ) / yuv422p10le (HQX);
//                            256x120 and larger
// Each container takes the codecs the libraries say it holds.
//
// --quality 1..100, higher is better, maps linearly onto the codec's scale:
//   h264, h265   crf = round((100 - q) * 51 / 99): 51 .. 0
//   vp9          crf = round((100 - q) * 63 / 99): 63 .. 0, at constant quality
//   prores,      qscale = 2 + round((100 - q) * 29 / 99): 31 .. 2
//   mjpeg
//   dnxhr        8-bit: LB for 1..33, SQ for 34..66, HQ for 67..100;
//                deeper renders are always HQX (the quality is ignored, with a warning)
//   ffv1         lossless: the quality is ignored, with a warning
// Without --quality each codec keeps its encoder's default (crf 23 for
// H.264, 28 for H.265, ProRes's and DNxHR HQ's own rates), except where that
// default is a fixed bit rate meant for no size in particular: VP9 is
// written at crf 31 and Motion JPEG at qscale 3.
//
// Sizes: formats that store colour at half resolution (4:2:0, 4:2:2) take
// only even widths (and, for 4:2:0, heights); an odd size is refused before
// anything is rendered, naming FFV1 in .mkv (or ProRes 4444 in .mov), which
// take any size. Nothing is padded.
//
// Colours: YUV is written with BT.709 for pictures 1280 wide or 720 high and
// larger, BT.601 below, at limited range (Motion JPEG: BT.601 at full
// range), and the stream says so; the movie reader applies the same rule to
// streams that do not. Chroma is averaged over the pixels it covers.
//
// Alpha is written straight, the world's premultiplication undone exactly
// as the movie reader applies it, rounded to nearest (a = 0 gives black):
//   8-bit worlds:  c = round(c' * 255 / a)
//   16-bit worlds: a16 = round(A * 65535 / 32768), c = round(c' * 65535^2 / (32768 * a16))
//   float worlds:  c = round(clamp(c' / a) * 65535), a16 = round(clamp(A) * 65535)
// so that a movie written and read back at the same depth by a lossless
// codec gives the same worlds. Codecs without alpha get the colours only.
//
// Timestamps: frame k is at pts k in a time base of rate.den / rate.num, and
// the stream's rate is the exact fraction.
//
// Audio: the packets of the first audio stream of `audio_from` whose time
// falls in [audio_start, audio_end) are copied as they are, shifted to
// start at 0, when the container holds their codec. Times are counted from
// the source's first video frame (from its first audio packet in a file
// without video), so that they match the source's frame times N / rate.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "offline/offline_world.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

// Extensions that write a movie: .mov .mp4 .m4v .mkv .webm .avi (case-insensitive).
bool is_movie_output(const std::string& path);

struct MovieSettings {
    std::int32_t width = 0, height = 0;
    FrameRate rate;
    PF_PixelFormat depth = PF_PixelFormat_ARGB32;  // the worlds written
    std::string codec;                             // empty for the container's default
    std::optional<int> quality;                    // 1..100, higher is better; empty: the codec's default
    std::string audio_from;                        // a movie whose audio is copied; empty: none
    double audio_start = 0.0, audio_end = 0.0;     // the span of its audio to copy, in seconds
};

// Checks codec, quality, container and size before anything is rendered:
// throws ToolError(EXIT_USAGE) saying what to use instead (the codecs the
// container takes), or ToolError(EXIT_INPUT) for an audio source that cannot
// be read. Returns warnings to print (audio left out, a deep render written
// at 8 bits, a quality the codec ignores).
std::vector<std::string> check_movie_settings(const std::string& path, const MovieSettings& settings);

class MovieWriter {
public:
    // Writes exactly at `file` (the caller gives a temporary name and renames
    // it when finish() returns); the container is chosen by `shown`'s
    // extension, and `shown` is the name used in messages. Throws
    // ToolError(EXIT_USAGE) as check_movie_settings does, and
    // ToolError(EXIT_OUTPUT, "cannot write \"<shown>\": <reason>") when the
    // file cannot be started.
    MovieWriter(const std::string& file, const std::string& shown, const MovieSettings& settings);
    ~MovieWriter();  // frees everything; never deletes the file
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // The next frame: settings.width x settings.height at settings.depth.
    void write(const offline::OfflineWorld& frame);
    // Flushes the encoder, copies the rest of the audio, writes the trailer
    // and closes the file, every result checked.
    void finish();

    struct State;  // the open file and encoder, defined where they are used

private:
    std::string shown_;
    MovieSettings settings_;
    std::unique_ptr<State> state_;
};

}  // namespace lumatrail::tools
