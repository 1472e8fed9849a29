// The process the write tests fork under a file size limit: writes a picture
// of noise to each path given and prints, a line for each, the exit code and
// what write_image threw ("4 cannot write ..."), or "0" once written. A
// process of its own, not a fork of the test itself: the image library's
// thread pools do not survive a fork.
#include <cstdio>
#include <cstdlib>

#include "tests/tools/lumatrail/media/noise_world.h"
#include "tools/lumatrail/media/image_io.h"

int main(int argc, char** argv) {
    using namespace lumatrail::tools;
    if (argc < 3) {
        std::fputs("usage: media_write_child SIDE PATH...\n", stderr);
        return 2;
    }
    const int side = std::atoi(argv[1]);
    const auto noise = testing_media::noise_world(side, side);
    for (int k = 2; k < argc; ++k) {
        try {
            write_image(noise, argv[k]);
            std::puts("0");
        } catch (const ToolError& e) {
            std::printf("%d %s\n", e.exit_code, e.what());
        }
    }
    return 0;
}
