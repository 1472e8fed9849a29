// Movies through the command line's media layer: the bytes, after a first
// one that picks the file's extension and the depth, as a movie file that is
// recognised, probed, opened and decoded for its first frames through
// FFmpeg's libraries. Whatever the bytes, the layer either reads frames of
// the size it said or refuses the file with ToolError(EXIT_INPUT) in one line
// naming it; no file may abort the process.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/lumatrail/media/movie_reader.h"
#include "tools/lumatrail/tool_error.h"

namespace {

using namespace lumatrail;

constexpr int FRAMES_READ = 3;

void read_first_frames(const std::string& path, PF_PixelFormat depth) {
    if (!tools::is_movie_file(path)) return;
    const tools::MovieInfo info = tools::probe_movie(path);
    fuzz::require(info.width > 0 && info.height > 0 && info.frames >= 0, "a probe without a picture");
    tools::MovieReader reader(path, depth);
    for (std::int64_t frame = 0; frame < FRAMES_READ && frame < reader.info().frames; ++frame) {
        const offline::OfflineWorld world = reader.read(frame);
        fuzz::require(world.world.width == reader.info().width && world.world.height == reader.info().height,
                      "a frame of another size than the movie's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr const char* extensions[] = {"mp4", "mov", "mkv", "avi", "webm", "m4v"};
    const std::string path =
        fuzz::scratch_path(std::string("movie.") + extensions[data[0] % std::size(extensions)]);
    fuzz::write_file(path, data + 1, size - 1);
    const PF_PixelFormat depth = offline::WORLD_DEPTHS[(data[0] >> 4) % 3].format;
    try {
        read_first_frames(path, depth);
    } catch (const tools::ToolError& e) {
        const std::string what = e.what();
        fuzz::require(e.exit_code == tools::EXIT_INPUT, "exit code for " + what);
        fuzz::require(what.find(path) != std::string::npos, "an error not naming the file: " + what);
        fuzz::require(what.find('\n') == std::string::npos, "an error of several lines: " + what);
    }
    return 0;
}
