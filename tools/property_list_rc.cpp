#include "tools/property_list_rc.h"

#include <cstdio>
#include <stdexcept>

namespace lumatrail::tools {

std::string property_list_rc(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % 2 != 0)
        throw std::invalid_argument("the property list has an odd length (" +
                                    std::to_string(bytes.size()) +
                                    " bytes); inline resource data is made of 16-bit words");
    char line[64];
    std::string rc =
        "// The effect's property list, generated from host/effect_identity.h at build time.\n";
    std::snprintf(line, sizeof line, "LANGUAGE 0x%02X, 0x%02X\n", PROPERTY_LIST_LANGUAGE,
                  PROPERTY_LIST_SUBLANGUAGE);
    rc += line;
    // The type name stays unquoted: windres stores a quoted one differently.
    std::snprintf(line, sizeof line, "%d %s\nBEGIN\n", PROPERTY_LIST_ID, PROPERTY_LIST_TYPE);
    rc += line;
    constexpr std::size_t words_per_line = 8;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned word = unsigned(bytes[i]) | unsigned(bytes[i + 1]) << 8;
        const bool last = i + 2 == bytes.size();
        const bool line_start = (i / 2) % words_per_line == 0;
        const bool line_end = last || (i / 2) % words_per_line == words_per_line - 1;
        std::snprintf(line, sizeof line, "%s0x%04X%s%s", line_start ? "  " : "", word,
                      last ? "" : ",", line_end ? "\n" : " ");
        rc += line;
    }
    rc += "END\n";
    return rc;
}

}  // namespace lumatrail::tools
