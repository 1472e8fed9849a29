#include "tools/lumatrail/builtin_presets.h"

#include <algorithm>

namespace lumatrail::tools {

const BuiltinPreset* find_builtin_preset(std::string_view name) {
    const std::span<const BuiltinPreset> presets = builtin_presets();
    const auto found =
        std::find_if(presets.begin(), presets.end(), [&](const BuiltinPreset& p) { return p.name == name; });
    return found == presets.end() ? nullptr : &*found;
}

std::string builtin_preset_list() {
    std::size_t width = 0;
    for (const BuiltinPreset& p : builtin_presets()) width = std::max(width, p.name.size());
    std::string text;
    for (const BuiltinPreset& p : builtin_presets()) {
        text.append(p.name);
        if (!p.description.empty()) text.append(width + 2 - p.name.size(), ' ').append(p.description);
        text += '\n';
    }
    return text;
}

}  // namespace lumatrail::tools
