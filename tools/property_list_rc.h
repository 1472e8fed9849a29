// The module's property list as a resource script for windres: the bytes of
// PROPERTY_LIST written inline as 16-bit little-endian words, so the resource
// is generated at build time from the same description that registration and
// global setup read.
#pragma once

#include <cstdint>
#include <span>
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
std::string property_list_rc(std::span<const std::uint8_t> bytes);

}  // namespace lumatrail::tools
