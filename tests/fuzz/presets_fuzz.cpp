// Presets through the command line's parser (load_preset): any bytes as a
// preset file, applied to a host holding the effect's parameters. A preset
// that loads is saved, and the saved file loads and saves again to the same
// bytes.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/tool_error.h"

namespace {

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumatrail;
    const std::string path = fuzz::scratch_path("preset.json");
    fuzz::write_file(path, data, size);
    offline::OfflineHost host;
    fuzz::load_effect_parameters(host);
    try {
        tools::load_preset(host, path);
    } catch (const tools::ToolError& e) {
        fuzz::require(e.exit_code == tools::EXIT_USAGE, std::string("exit code for ") + e.what());
        return 0;
    }
    const std::string saved = fuzz::scratch_path("saved.json"), again = fuzz::scratch_path("again.json");
    tools::save_preset(host, saved);
    offline::OfflineHost reloaded;
    fuzz::load_effect_parameters(reloaded);
    try {
        tools::load_preset(reloaded, saved);
    } catch (const tools::ToolError& e) {
        fuzz::require(false, std::string("a saved preset does not load: ") + e.what());
    }
    tools::save_preset(reloaded, again);
    fuzz::require(file_text(saved) == file_text(again),
                  "a saved preset saves again otherwise:\n" + file_text(saved) + "\n" + file_text(again));
    return 0;
}
