// Image files in and out of the offline host's worlds, through OpenImageIO.
//
// Worlds hold premultiplied pixels, alpha first; files hold whatever their
// format holds, and the library associates (premultiplies) alpha on reading
// and dissociates it on writing formats that store it straight. Depths:
// 8-bit files read into 8-bit worlds, 16-bit into 16-bit worlds (0..65535
// mapped onto 0..32768 with rounding, and back), half and float into float
// worlds; a requested depth converts instead. Movies are not read here but by
// movie_reader, through FFmpeg's libraries.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "offline/offline_world.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

// What a file's header says, read without decoding a pixel.
struct ImageInfo {
    std::int32_t width = 0, height = 0;            // as the header claims them, however large
    PF_PixelFormat depth = PF_PixelFormat_ARGB32;  // the world depth read_image gives by default
    std::int32_t frames = 1;                       // the pictures of a multi-picture file (pages)
};

// Opens the file for its header only: quick and small whatever size it
// claims. Throws ToolError(EXIT_INPUT) naming the file when it cannot be read.
ImageInfo probe_image(const std::string& path);

// The bytes of memory the system can still give, from /proc/meminfo.
std::uint64_t available_memory();

// "3.2 GB", "850.0 MB".
std::string size_text(std::uint64_t bytes);

// Reads an image, or picture `frame` of a multi-picture file (counted from
// 0); throws
// ToolError(EXIT_INPUT) saying what is wrong, in one line naming the file.
// With an input colour space the pixels are converted from it into the
// linear working space (linear_colorspace()); an unknown name throws
// ToolError(EXIT_USAGE). Nothing is allocated for a file whose pixels would
// take more than memory_budget bytes while read (by default the memory
// available now): it is refused, with its size.
offline::OfflineWorld read_image(const std::string& path, std::optional<PF_PixelFormat> depth = {},
                                 std::int32_t frame = 0, const std::string& input_colorspace = {},
                                 std::optional<std::uint64_t> memory_budget = {});

// What may stop a write, and where it registers its temporary file.
struct WriteControl {
    const std::atomic<bool>* cancel = nullptr;  // once set, the write stops at its next write
    PendingFiles* pending = nullptr;            // the temporaries a second Ctrl-C removes
};

// Writes through a PendingFile: the file appears under its name complete, or
// not at all. Every byte the library writes is checked whatever the library
// itself makes of a failed write, so a full disk or a file size limit throws
// ToolError(EXIT_OUTPUT) with the system's reason ("no space left on
// device"); the cancel flag throws ToolError(EXIT_CANCELLED). Either leaves
// nothing behind. With an output colour space the pixels are converted into
// it from the linear working space first; an unknown name throws
// ToolError(EXIT_USAGE).
void write_image(const offline::OfflineWorld& world, const std::string& path,
                 const std::string& output_colorspace = {}, const WriteControl& control = {});

// Whether the file opens, passes the checks read_image makes and reads
// completely: a frame a resumed render need not write again. Never throws.
bool is_whole_image(const std::string& path);

// Whether the extension names a format the library can write.
bool can_write(const std::string& path);

// The colour spaces of the library's colour configuration (OpenColorIO's,
// from $OCIO, or the library's own) that convert to and from the working
// space, and that space: the configuration's scene-linear one.
std::vector<std::string> known_colorspaces();
std::string linear_colorspace();

// Throws ToolError(EXIT_USAGE) unless the name converts to and from the
// working space (names are matched as the configuration matches them).
void check_colorspace(const std::string& name);

// A picture converted from a colour space into the working space, or from
// the working space into one, at the same depth; as read_image and
// write_image convert files, for pictures that come from movies or go to
// them. An unknown name throws ToolError(EXIT_USAGE).
offline::OfflineWorld convert_from_colorspace(const offline::OfflineWorld& picture, const std::string& name);
offline::OfflineWorld convert_to_colorspace(const offline::OfflineWorld& picture, const std::string& name);

}  // namespace lumatrail::tools
