// The property list resource script: windres must get back exactly the bytes
// of PROPERTY_LIST, under type PIPL, id 16000, English.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/effect_identity.h"
#include "tools/property_list/property_list_rc.h"

namespace lumatrail::tools {
namespace {

// The data words between BEGIN and END, split back into little-endian bytes.
std::vector<std::uint8_t> data_bytes(const std::string& rc) {
    const std::size_t begin = rc.find("\nBEGIN\n");
    const std::size_t end = rc.find("\nEND\n");
    EXPECT_NE(begin, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    std::vector<std::uint8_t> bytes;
    std::size_t at = begin + 7;
    while ((at = rc.find("0x", at)) < end) {
        const unsigned long word = std::stoul(rc.substr(at + 2, 4), nullptr, 16);
        bytes.push_back(std::uint8_t(word & 0xFF));
        bytes.push_back(std::uint8_t(word >> 8));
        at += 6;
    }
    return bytes;
}

TEST(PropertyListRc, SmallInputGivesThisExactScript) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x00, 0x34, 0x12, 0xFF, 0xA0, 0, 0,    0,
                                             0,    0,    0,    0,    0,    0,    0, 0x0D, 0xBE};
    EXPECT_EQ(property_list_rc(bytes),
              "// The effect's property list, generated from host/effect_identity.h at build time.\n"
              "LANGUAGE 0x09, 0x01\n"
              "16000 PIPL\n"
              "BEGIN\n"
              "  0x0001, 0x1234, 0xA0FF, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,\n"
              "  0xBE0D\n"
              "END\n");
}

TEST(PropertyListRc, LanguageLineComesBeforeTheUnquotedTypeName) {
    const std::string rc = property_list_rc(PROPERTY_LIST);
    const std::size_t language = rc.find("\nLANGUAGE 0x09, 0x01\n");
    const std::size_t resource = rc.find("\n16000 PIPL\nBEGIN\n");
    ASSERT_NE(language, std::string::npos);
    ASSERT_NE(resource, std::string::npos);
    EXPECT_LT(language, resource);
    EXPECT_EQ(rc.find('"'), std::string::npos);
}

TEST(PropertyListRc, DataIsEveryByteOfThePropertyListInOrder) {
    const std::vector<std::uint8_t> expected(PROPERTY_LIST.begin(), PROPERTY_LIST.end());
    EXPECT_EQ(data_bytes(property_list_rc(PROPERTY_LIST)), expected);
}

TEST(PropertyListRc, RefusesAnOddLength) {
    const std::vector<std::uint8_t> odd = {1, 2, 3};
    EXPECT_THROW(property_list_rc(odd), std::invalid_argument);
}

}  // namespace
}  // namespace lumatrail::tools
