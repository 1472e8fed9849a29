// Who the effect is, in one constexpr description. Registration, global setup,
// the About text and the property list resource are all derived from it, so
// they cannot disagree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/host_contract.h"

namespace lumatrail {

struct EffectIdentity {
    // Zero-terminated, since registration hands them to the host as C strings.
    const char* display_name;
    const char* category;
    const char* match_name;
    const char* entry_point;
    std::uint32_t kind;
    std::int32_t api_major, api_minor;
    std::uint32_t version, subversion, bugfix, stage, build;
    std::int32_t reserved_info;
    std::int32_t out_flags, out_flags2;
    const char* support_url;
};

constexpr std::uint32_t four_cc(const char (&s)[5]) {
    return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
           (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}

// The host's packed version word: version in bits 19 and up, subversion in
// 15..18, bug-fix in 11..14, stage in 9..10, build in 0..8.
constexpr std::uint32_t pack_version(const EffectIdentity& id) {
    return (id.version << 19) | (id.subversion << 15) | (id.bugfix << 11) | (id.stage << 9) | id.build;
}

inline constexpr EffectIdentity EFFECT_IDENTITY{
    .display_name = "Lumatrail",
    .category = "Corvanta",
    .match_name = "Corvanta Lumatrail",
    .entry_point = "EffectMain",
    .kind = four_cc("eFKT"),
    .api_major = 13,
    .api_minor = 29,
    .version = 1,
    .subversion = 1,
    .bugfix = 0,
    .stage = 3,  // release
    .build = 1,
    .reserved_info = 8,
    .out_flags = PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_NON_PARAM_VARY,
    .out_flags2 = PF_OutFlag2_SUPPORTS_THREADED_RENDERING | PF_OutFlag2_FLOAT_COLOR_AWARE |
                  PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG,
    .support_url = "https://www.corvanta.com/lumatrail/support",
};

inline constexpr std::uint32_t EFFECT_VERSION = pack_version(EFFECT_IDENTITY);
static_assert(EFFECT_VERSION == 0x00088601);
static_assert(std::string_view(EFFECT_IDENTITY.match_name).size() ==
              std::string_view(EFFECT_IDENTITY.category).size() + 1 +
                  std::string_view(EFFECT_IDENTITY.display_name).size());

// Shown in the host's About box: the version matches the packed version word.
inline constexpr std::string_view ABOUT_TEXT =
    "Lumatrail 1.1\n"
    "Sorts brightness spans into seeded streaks, smears mask edges and launches "
    "colour-sampled streams and particles.\n"
    "Copyright 2026 Corvanta";

// --- Property list ------------------------------------------------------------
//
// Layout, little-endian: a 10-byte header (16-bit version 1, 32-bit reserved 0,
// 32-bit property count), then per property a vendor code, a key, an id of 0,
// the data length and the data, padded to a multiple of four bytes.

namespace pipl_detail {

constexpr std::size_t padded(std::size_t n) { return (n + 3) / 4 * 4; }

// Data sizes of the thirteen properties, in order (padding included).
constexpr std::size_t total_size(const EffectIdentity& id) {
    using sv = std::string_view;
    const std::size_t data = 4 + padded(1 + sv(id.display_name).size()) + padded(1 + sv(id.category).size()) +
                             padded(sv(id.entry_point).size() + 1) + 4 + 4 + 4 + 4 + 4 + 4 +
                             padded(1 + sv(id.match_name).size()) + 4 + padded(1 + sv(id.support_url).size());
    return 10 + 13 * 16 + data;
}

template <std::size_t N>
struct Writer {
    std::array<std::uint8_t, N> bytes{};
    std::size_t at = 0;

    constexpr void u8(std::uint32_t v) { bytes[at++] = std::uint8_t(v & 0xFF); }
    constexpr void u16(std::uint32_t v) {
        u8(v);
        u8(v >> 8);
    }
    constexpr void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    constexpr void zeros(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) u8(0);
    }
    constexpr void header(std::uint32_t key, std::size_t length) {
        u32(four_cc("8BIM"));
        u32(key);
        u32(0);
        u32(std::uint32_t(length));
    }
    constexpr void u32_property(std::uint32_t key, std::uint32_t v) {
        header(key, 4);
        u32(v);
    }
    constexpr void pair_property(std::uint32_t key, std::uint32_t a, std::uint32_t b) {
        header(key, 4);
        u16(a);
        u16(b);
    }
    // One length byte, the characters, zero padding.
    constexpr void counted_string(std::uint32_t key, std::string_view s) {
        const std::size_t length = padded(1 + s.size());
        header(key, length);
        u8(std::uint32_t(s.size()));
        for (char c : s) u8(std::uint8_t(c));
        zeros(length - 1 - s.size());
    }
    // The characters, a terminating zero, zero padding.
    constexpr void terminated_string(std::uint32_t key, std::string_view s) {
        const std::size_t length = padded(s.size() + 1);
        header(key, length);
        for (char c : s) u8(std::uint8_t(c));
        zeros(length - s.size());
    }
};

}  // namespace pipl_detail

inline constexpr std::size_t PROPERTY_LIST_SIZE = pipl_detail::total_size(EFFECT_IDENTITY);
inline constexpr std::uint32_t PROPERTY_COUNT = 13;

constexpr std::array<std::uint8_t, PROPERTY_LIST_SIZE> make_property_list(const EffectIdentity& id) {
    pipl_detail::Writer<PROPERTY_LIST_SIZE> w;
    w.u16(1);
    w.u32(0);
    w.u32(PROPERTY_COUNT);
    w.u32_property(four_cc("kind"), id.kind);
    w.counted_string(four_cc("name"), id.display_name);
    w.counted_string(four_cc("catg"), id.category);
    // Entry point for 64-bit x86 Windows.
    w.terminated_string(four_cc("8664"), id.entry_point);
    w.pair_property(four_cc("ePVR"), 2, 0);
    w.pair_property(four_cc("eSVR"), std::uint32_t(id.api_major), std::uint32_t(id.api_minor));
    w.u32_property(four_cc("eVER"), pack_version(id));
    // The one 2-byte property: its length says 2, two padding bytes follow.
    w.header(four_cc("eINF"), 2);
    w.u16(0);
    w.zeros(2);
    w.u32_property(four_cc("eGLO"), std::uint32_t(id.out_flags));
    w.u32_property(four_cc("eGL2"), std::uint32_t(id.out_flags2));
    w.counted_string(four_cc("eMNA"), id.match_name);
    w.u32_property(four_cc("aeFL"), 0);
    w.counted_string(four_cc("eURL"), id.support_url);
    if (w.at != PROPERTY_LIST_SIZE) throw "property list size mismatch";  // fails the constexpr build
    return w.bytes;
}

// The bytes of the module's property list resource (type "PIPL", id 16000).
inline constexpr std::array<std::uint8_t, PROPERTY_LIST_SIZE> PROPERTY_LIST =
    make_property_list(EFFECT_IDENTITY);

}  // namespace lumatrail
