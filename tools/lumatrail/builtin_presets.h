// The cookbook's presets (docs/cookbook/*.json), built into the tool by name:
// `--preset rain` where no file "rain" exists. Their text and captions are
// read from the cookbook's files when the tool is built, so the tool always
// holds the cookbook as it is.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace lumatrail::tools {

struct BuiltinPreset {
    std::string_view name;         // the file's name without .json: "rain"
    std::string_view description;  // the cookbook picture's caption; may be empty
    std::string_view text;         // the JSON, byte for byte
};

// Every built-in preset, sorted by name (generated at build time).
std::span<const BuiltinPreset> builtin_presets();

// The built-in preset of that name, or null.
const BuiltinPreset* find_builtin_preset(std::string_view name);

// `lumatrail presets`: one line per preset, its name and its description.
std::string builtin_preset_list();

}  // namespace lumatrail::tools
