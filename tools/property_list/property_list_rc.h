// The module's property list as a resource script for windres: the bytes of
// PROPERTY_LIST written inline as 16-bit little-endian words, so the resource
// is generated at build time from the same description that registration and
// global setup read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>

namespace lumatrail::tools {

// Resource type and id under which the host looks for the property list, and
// its language (English, United States: primary 0x09, sub-language 0x01).
inline constexpr const char* PROPERTY_LIST_TYPE = "PIPL";
inline constexpr int PROPERTY_LIST_ID = 16000;
inline constexpr int PROPERTY_LIST_LANGUAGE = 0x09;
inline constexpr int PROPERTY_LIST_SUBLANGUAGE = 0x01;

// The resource script holding `bytes`. Inline resource data is made of 16-bit
// words, so the length must be even; throws std::invalid_argument otherwise.
// Defined here, so the build-time generator is one translation unit whose
// dependency file lists every header it reads.
inline std::string property_list_rc(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % 2 != 0)
        throw std::invalid_argument("the property list has an odd length (" + std::to_string(bytes.size()) +
                                    " bytes); inline resource data is made of 16-bit words");
    char line[64];
    std::string rc = "// The effect's property list, generated from host/effect_identity.h at build time.\n";
    std::snprintf(line, sizeof line, "LANGUAGE 0x%02X, 0x%02X\n", PROPERTY_LIST_LANGUAGE,
                  PROPERTY_LIST_SUBLANGUAGE);
    rc += line;
    // The type name is written unquoted (`16000 PIPL`), the form windres reads
    // as a named resource type.
    std::snprintf(line, sizeof line, "%d %s\nBEGIN\n", PROPERTY_LIST_ID, PROPERTY_LIST_TYPE);
    rc += line;
    constexpr std::size_t words_per_line = 8;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned word = unsigned(bytes[i]) | unsigned(bytes[i + 1]) << 8;
        const bool last = i + 2 == bytes.size();
        const bool line_start = (i / 2) % words_per_line == 0;
        const bool line_end = last || (i / 2) % words_per_line == words_per_line - 1;
        std::snprintf(line, sizeof line, "%s0x%04X%s%s", line_start ? "  " : "", word, last ? "" : ",",
                      line_end ? "\n" : " ");
        rc += line;
    }
    rc += "END\n";
    return rc;
}

}  // namespace lumatrail::tools
