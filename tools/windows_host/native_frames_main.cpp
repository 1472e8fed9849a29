// lumatrail_native_frames: the native side of the frame set the Windows test
// host renders under wine.
//
//   lumatrail_native_frames render DIR
//       loads the native module (Lumatrail.so next to this program) as the
//       host does, renders every frame of the set through its EffectMain with
//       the offline host and writes the raw pixels into DIR
//   lumatrail_native_frames compare WINDOWS_DIR NATIVE_DIR
//       compares the two renders frame by frame: linear-pass frames bit for
//       bit, stream frames within stream_frame_tolerance; prints one line per
//       frame and the largest stream-frame difference at each depth, and
//       exits 1 when any frame is missing or differs too much
//
// Exit status 2 for a wrong command line.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "offline/plugin_module.h"
#include "tools/windows_host/frame_set.h"

namespace lumatrail::tools {
namespace {

std::optional<std::vector<std::uint8_t>> read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int render(const std::string& directory) {
    offline::PluginModule module =
        offline::open_module(offline::default_module_path(), "lumatrail_native_frames");
    const std::size_t written = write_frame_set(module.effect_main, directory);
    offline::close_module(module);
    std::printf("rendered %zu frames to %s\n", written, directory.c_str());
    return 0;
}

const char* depth_name(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB64: return "16-bit";
    case PF_PixelFormat_ARGB128: return "float";
    default: return "8-bit";
    }
}

// A difference as a fraction of full value, and in levels of the depth.
std::string describe(double difference, PF_PixelFormat format) {
    char text[96];
    if (format == PF_PixelFormat_ARGB128)
        std::snprintf(text, sizeof text, "%.9g", difference);
    else
        std::snprintf(text, sizeof text, "%.9g (%.3g levels)", difference,
                      difference * (format == PF_PixelFormat_ARGB64 ? 32768.0 : 255.0));
    return text;
}

struct Largest {
    double difference = 0;
    std::string frame;  // empty: every frame of the depth is identical
};

int compare(const std::filesystem::path& windows_dir, const std::filesystem::path& native_dir) {
    int failures = 0;
    std::size_t exact = 0, streams = 0;
    std::map<PF_PixelFormat, Largest> largest;
    for (const FramePlan& plan : frame_set()) {
        const auto windows = read_file(windows_dir / frame_file_name(plan));
        const auto native = read_file(native_dir / frame_file_name(plan));
        if (!windows || !native) {
            std::printf("FAIL  %-30s missing from %s\n", plan.name.c_str(),
                        (!windows ? windows_dir : native_dir).string().c_str());
            ++failures;
            continue;
        }
        const FrameComparison c = compare_frames(plan, *windows, *native);
        const char* verdict = c.matches ? (c.differing_channels ? "close" : "same ") : "FAIL ";
        if (plan.linear_pass) {
            ++exact;
            std::printf("%s %-30s linear pass, bit for bit%s%s\n", verdict, plan.name.c_str(),
                        c.matches ? "" : ": ", c.matches ? "" : c.detail.c_str());
        } else {
            ++streams;
            Largest& l = largest[plan.format];
            if (c.differing_channels && c.largest_difference > l.difference)
                l = {c.largest_difference, plan.name};
            std::printf("%s %-30s stream renderer, %zu channels differ, largest %s%s%s\n", verdict,
                        plan.name.c_str(), c.differing_channels,
                        describe(c.largest_difference, plan.format).c_str(), c.detail.empty() ? "" : ", ",
                        c.detail.c_str());
        }
        if (!c.matches) ++failures;
    }
    std::printf("%zu linear-pass frames compared bit for bit, %zu stream frames within tolerance\n", exact,
                streams);
    for (PF_PixelFormat f : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
        const Largest& l = largest[f];
        std::printf("largest %s stream-frame difference: %s%s%s (tolerance %s)\n", depth_name(f),
                    describe(l.difference, f).c_str(), l.frame.empty() ? ", every frame identical" : " in ",
                    l.frame.c_str(), describe(stream_frame_tolerance(f), f).c_str());
    }
    if (failures) std::printf("%d frames do not match\n", failures);
    return failures ? 1 : 0;
}

}  // namespace
}  // namespace lumatrail::tools

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "render" && argc == 3) return lumatrail::tools::render(argv[2]);
        if (command == "compare" && argc == 4) return lumatrail::tools::compare(argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumatrail_native_frames: %s\n", e.what());
        return 1;
    }
    std::fputs(
        "usage: lumatrail_native_frames render DIR\n"
        "       lumatrail_native_frames compare WINDOWS_DIR NATIVE_DIR\n",
        stderr);
    return 2;
}
