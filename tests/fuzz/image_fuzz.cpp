// Image headers and the size checks made before allocation: the bytes, after
// a first one that picks the file's extension, as an image file read through
// the command line's media layer (OpenImageIO, PNG files through libpng).
// Reading is limited to a small memory budget, so a header claiming a huge
// picture must be refused before its pixels are allocated. Any failure is
// ToolError(EXIT_INPUT).
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/tool_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumatrail;
    if (size == 0) return 0;
    constexpr const char* extensions[] = {"png", "tif", "exr", "jpg", "bmp", "tga", "hdr", "dpx"};
    const std::string path =
        fuzz::scratch_path(std::string("image.") + extensions[data[0] % std::size(extensions)]);
    fuzz::write_file(path, data + 1, size - 1);
    constexpr std::uint64_t budget = std::uint64_t(64) << 20;
    try {
        tools::probe_image(path);
        const PF_PixelFormat depth = offline::WORLD_DEPTHS[(data[0] >> 4) % 3].format;
        tools::read_image(path, depth, 0, {}, budget);
    } catch (const tools::ToolError& e) {
        fuzz::require(e.exit_code == tools::EXIT_INPUT, std::string("exit code for ") + e.what());
    }
    return 0;
}
