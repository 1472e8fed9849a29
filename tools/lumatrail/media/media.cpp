#include "tools/lumatrail/media/media.h"

#include <utility>

#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/movie_reader.h"
#include "tools/lumatrail/media/movie_writer.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

MediaKind input_kind(const std::string& path) {
    if (path.empty() || path == "builtin") return MediaKind::None;
    if (is_sequence_pattern(path)) return MediaKind::Sequence;
    return is_movie_file(path) ? MediaKind::Movie : MediaKind::Still;
}

MediaKind output_kind(const std::string& path) {
    if (is_sequence_pattern(path)) return MediaKind::Sequence;
    return is_movie_output(path) ? MediaKind::Movie : MediaKind::Still;
}

MediaInfo probe_input(const std::string& path, MediaKind kind, std::int64_t first_frame) {
    MediaInfo info;
    if (kind == MediaKind::Movie) {
        const MovieInfo movie = probe_movie(path);
        info.width = movie.width, info.height = movie.height, info.depth = movie.depth;
        info.frames = movie.frames, info.rate = movie.rate, info.audio = movie.audio;
        return info;
    }
    const ImageInfo image = probe_image(kind == MediaKind::Sequence ? frame_path(path, first_frame) : path);
    info.width = image.width, info.height = image.height, info.depth = image.depth;
    return info;
}

FrameSource::FrameSource(MediaKind kind, std::string path, ReadOptions options)
    : kind_(kind), path_(std::move(path)), options_(std::move(options)) {
    if (kind_ == MediaKind::Movie) movie_ = std::make_unique<MovieReader>(path_, options_.depth);
}

FrameSource::~FrameSource() = default;

namespace {

std::shared_ptr<const offline::OfflineLayer> layer_of(offline::OfflineWorld picture) {
    return std::make_shared<const offline::OfflineLayer>(
        offline::OfflineLayer{std::move(picture), {}, {}, {}});
}

}  // namespace

std::shared_ptr<const offline::OfflineLayer> FrameSource::read(std::int64_t frame) {
    switch (kind_) {
    case MediaKind::Movie: {
        offline::OfflineWorld picture = movie_->read(frame);
        // A colour conversion, like a depth change, applies to movie frames too.
        if (!options_.colorspace.empty()) picture = convert_from_colorspace(picture, options_.colorspace);
        return layer_of(std::move(picture));
    }
    case MediaKind::Sequence:
        return layer_of(read_image(frame_path(path_, frame), options_.depth, 0, options_.colorspace));
    case MediaKind::Still: {
        std::lock_guard lock(still_mutex_);
        if (!still_) still_ = layer_of(read_image(path_, options_.depth, 0, options_.colorspace));
        return still_;
    }
    case MediaKind::None: break;
    }
    throw ToolError(EXIT_INTERNAL, "no input to read frame " + std::to_string(frame) + " from");
}

FrameSink::FrameSink(MediaKind kind, std::string output, WriteOptions options)
    : kind_(kind), output_(std::move(output)), options_(std::move(options)) {}

FrameSink::~FrameSink() = default;

void FrameSink::put(std::size_t index, std::int64_t frame, offline::OfflineWorld picture) {
    if (kind_ != MediaKind::Movie) {
        write_image(picture, frame_path(output_, frame), options_.colorspace,
                    WriteControl{options_.cancel, options_.pending});
        ++files_;
        ++frames_;
        return;
    }
    std::lock_guard lock(movie_mutex_);
    // A movie whose writing failed takes no more: its first error stands.
    if (movie_failed_) return;
    waiting_.emplace(index, std::move(picture));
    // Whoever brings the next frame in order writes it and every frame that
    // was waiting behind it.
    try {
        for (auto next = waiting_.find(next_index_); next != waiting_.end();
             next = waiting_.find(next_index_)) {
            write_movie_frame(next->second);
            waiting_.erase(next);
            ++next_index_;
            ++frames_;
        }
    } catch (...) {
        movie_failed_ = true;
        waiting_.clear();
        throw;
    }
}

void FrameSink::write_movie_frame(const offline::OfflineWorld& picture) {
    if (options_.cancel && options_.cancel->load())
        throw ToolError(EXIT_CANCELLED, "cancelled while writing \"" + output_ + "\"");
    if (!movie_) {
        MovieSettings settings = options_.movie;
        settings.width = picture.world.width;
        settings.height = picture.world.height;
        settings.depth = picture.format;
        movie_file_ = std::make_unique<PendingFile>(output_, options_.pending);
        movie_ = std::make_unique<MovieWriter>(movie_file_->temporary_path(), output_, settings);
    }
    movie_->write(options_.colorspace.empty() ? picture
                                              : convert_to_colorspace(picture, options_.colorspace));
}

void FrameSink::finish() {
    if (kind_ != MediaKind::Movie) return;
    std::lock_guard lock(movie_mutex_);
    if (!movie_ || movie_failed_) return;
    movie_->finish();
    movie_.reset();
    movie_file_->commit();
    movie_file_.reset();
    ++files_;
}

}  // namespace lumatrail::tools
