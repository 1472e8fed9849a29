// The media layer's one interface: where a render's frames come from and
// where they go, whatever the files are.
//
// An input is nothing (a built-in picture, made by the caller), a still, a
// sequence pattern (shot.####.exr: each frame its own file) or a movie (frame
// N is its N-th presented frame). An output is a still, a sequence pattern or
// a movie. Stills and sequences go through image_io, movies through
// movie_reader and movie_writer; every file is written under a temporary name
// and renamed into place only once it is complete on disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "offline/offline_frame.h"
#include "offline/offline_world.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/media/movie_writer.h"

namespace lumatrail::tools {

class MovieReader;
class MovieWriter;
class PendingFile;
class PendingFiles;

enum class MediaKind : std::uint8_t { None, Still, Sequence, Movie };

// What an input path is: none for "" (and "builtin", the built-in mask), a
// sequence for a pattern, a movie for a file a movie container holds, a
// still otherwise (including a file that does not exist yet).
MediaKind input_kind(const std::string& path);

// What an output path is: a sequence for a pattern, a movie for a movie
// container's extension (.mov .mp4 .m4v .mkv .webm .avi), a still otherwise.
MediaKind output_kind(const std::string& path);

// An input's size and depth from its header, without decoding a pixel: the
// file of `first_frame` for a sequence, the movie's stream for a movie.
struct MediaInfo {
    std::int32_t width = 0, height = 0;
    PF_PixelFormat depth = PF_PixelFormat_ARGB32;
    std::int64_t frames = 1;        // a movie's presented frames
    std::optional<FrameRate> rate;  // a movie's own rate
    bool audio = false;             // a movie with sound
};
MediaInfo probe_input(const std::string& path, MediaKind kind, std::int64_t first_frame);

struct ReadOptions {
    std::optional<PF_PixelFormat> depth;  // default: the file's own
    std::string colorspace;               // converted from it into the working space; empty: none
};

// The frames of one input, as layers for the host. A still is read once, on the first call, and the
// same picture is shared by every frame; a sequence reads each frame's own
// file and may be read from several threads at once; a movie is decoded in
// order, so its frames must be asked for in increasing order and by one
// thread at a time (in_order() says so).
class FrameSource {
public:
    FrameSource(MediaKind kind, std::string path, ReadOptions options);
    ~FrameSource();
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    bool in_order() const { return kind_ == MediaKind::Movie; }
    bool shared() const { return kind_ == MediaKind::Still; }
    std::shared_ptr<const offline::OfflineLayer> read(std::int64_t frame);

private:
    MediaKind kind_;
    std::string path_;
    ReadOptions options_;
    std::mutex still_mutex_;
    std::shared_ptr<const offline::OfflineLayer> still_;
    std::unique_ptr<MovieReader> movie_;
};

struct WriteOptions {
    std::string colorspace;  // converted into it from the working space; empty: none
    MovieSettings movie;     // for a movie: codec, quality, rate and audio (sizes are the frames')
    const std::atomic<bool>* cancel = nullptr;  // set: a write in progress stops and leaves nothing
    PendingFiles* pending = nullptr;            // the temporaries being written, for a second signal
};

// Where the rendered frames go. A still or a sequence writes each frame's
// file as it comes, from any thread. A movie takes frames in any order and
// writes them in the job's order: a frame that comes early waits for those
// before it (at most one per rendering thread). Only finish() puts a movie
// under its name; a movie destroyed unfinished leaves nothing.
class FrameSink {
public:
    FrameSink(MediaKind kind, std::string output, WriteOptions options);
    ~FrameSink();
    FrameSink(const FrameSink&) = delete;
    FrameSink& operator=(const FrameSink&) = delete;

    // The index-th frame of the job, numbered `frame`.
    void put(std::size_t index, std::int64_t frame, offline::OfflineWorld picture);
    void finish();

    // Files complete under their final names (a movie counts once finished),
    // and frames complete on disk or in the movie so far.
    std::size_t files_written() const { return files_; }
    std::size_t frames_written() const { return frames_; }

private:
    void write_movie_frame(const offline::OfflineWorld& picture);

    MediaKind kind_;
    std::string output_;
    WriteOptions options_;
    std::atomic<std::size_t> files_{0}, frames_{0};
    std::mutex movie_mutex_;
    std::size_t next_index_ = 0;
    bool movie_failed_ = false;
    std::map<std::size_t, offline::OfflineWorld> waiting_;
    std::unique_ptr<PendingFile> movie_file_;
    std::unique_ptr<MovieWriter> movie_;
};

}  // namespace lumatrail::tools
