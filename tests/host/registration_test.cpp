// Registration, the property list resource, About and global setup: the
// identity the host sees in three places must agree byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/effect_entry.h"
#include "host/effect_identity.h"

namespace lumatrail {
namespace {

struct RegistrationCall {
    int calls = 0;
    void* context = nullptr;
    std::string name, match_name, category, entry_point, support_url;
    std::int32_t kind = 0, major = 0, minor = 0, reserved = 0;
};

PF_Err record_registration(PF_PluginDataPtr context, const char* name, const char* match_name,
                           const char* category, const char* entry_point, std::int32_t kind,
                           std::int32_t major, std::int32_t minor, std::int32_t reserved,
                           const char* support_url) {
    auto& r = *static_cast<RegistrationCall*>(context);
    r = {r.calls + 1, context, name,  match_name, category, entry_point,
         support_url, kind,    major, minor,      reserved};
    return 0x5EED;
}

RegistrationCall registered() {
    RegistrationCall r;
    EXPECT_EQ(PluginDataEntryFunction2(&r, record_registration, nullptr, "host", "1"), 0x5EED);
    return r;
}

TEST(Registration, PassesTheTenValuesInOrderAndReturnsTheCallbacksResult) {
    const RegistrationCall r = registered();
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.name, "Lumatrail");
    EXPECT_EQ(r.match_name, "Corvanta Lumatrail");
    EXPECT_EQ(r.category, "Corvanta");
    EXPECT_EQ(r.entry_point, "EffectMain");
    EXPECT_EQ(r.kind, 0x65464B54);
    EXPECT_EQ(r.major, 13);
    EXPECT_EQ(r.minor, 29);
    EXPECT_EQ(r.reserved, 8);
    EXPECT_EQ(r.support_url.rfind("https://", 0), 0u);
}

// A property read back from the resource bytes.
struct Property {
    std::string vendor, key;
    std::uint32_t id = 0;
    std::vector<std::uint8_t> data;  // `length` bytes
    std::size_t padding = 0;         // zero bytes after the data
};

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::vector<Property> parse_property_list(const std::uint8_t* bytes, std::size_t size) {
    EXPECT_GE(size, 10u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 1);  // version
    EXPECT_EQ(le32(bytes + 2), 0u);          // reserved
    const std::uint32_t count = le32(bytes + 6);
    std::vector<Property> props;
    std::size_t at = 10;
    for (std::uint32_t i = 0; i < count && at + 16 <= size; ++i) {
        Property p;
        p.vendor.assign(reinterpret_cast<const char*>(bytes + at), 4);
        p.key.assign(reinterpret_cast<const char*>(bytes + at + 4), 4);
        p.id = le32(bytes + at + 8);
        const std::uint32_t length = le32(bytes + at + 12);
        at += 16;
        p.data.assign(bytes + at, bytes + at + length);
        at += length;
        while (at % 4 != 10 % 4 && at < size) {  // pad to the next multiple of 4 after the header
            EXPECT_EQ(bytes[at], 0) << "padding of " << p.key;
            ++p.padding;
            ++at;
        }
        props.push_back(p);
    }
    EXPECT_EQ(at, size) << "the last property must end at the resource's last byte";
    return props;
}

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PropertyList, ParsesToThirteenPropertiesWithEveryByteAsListed) {
    const auto props = parse_property_list(PROPERTY_LIST.data(), PROPERTY_LIST.size());
    ASSERT_EQ(props.size(), 13u);
    const std::string url = registered().support_url;
    std::string counted_url = std::string(1, char(url.size())) + url;
    counted_url.resize((counted_url.size() + 3) / 4 * 4, '\0');

    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"dnik", "TKFe"},
        {"eman", "\x09Lumatrail\0\0"s},
        {"gtac",
         "\x08"
         "Corvanta\0\0\0"s},
        {"4668", "EffectMain\0\0"s},
        {"RVPe", "\x02\0\0\0"s},
        {"RVSe", "\x0D\0\x1D\0"s},
        {"REVe", "\x01\x86\x08\0"s},
        {"FNIe", "\0\0"s},
        {"OLGe", "\x04\0\0\x02"s},
        {"2LGe", "\x08\x14\0\x08"s},
        {"ANMe",
         "\x12"
         "Corvanta Lumatrail\0"s},
        {"LFea", "\0\0\0\0"s},
        {"LRUe", counted_url},
    };
    for (std::size_t i = 0; i < props.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(props[i].vendor, "MIB8");
        EXPECT_EQ(props[i].key, expected[i].first);
        EXPECT_EQ(props[i].id, 0u);
        EXPECT_EQ(props[i].data, bytes_of(expected[i].second));
        EXPECT_EQ(props[i].padding, expected[i].first == "FNIe" ? 2u : 0u);
    }
}

TEST(PropertyList, AgreesWithRegistrationAndGlobalSetup) {
    const auto props = parse_property_list(PROPERTY_LIST.data(), PROPERTY_LIST.size());
    ASSERT_EQ(props.size(), 13u);
    const RegistrationCall r = registered();
    auto counted = [](const Property& p) {
        return std::string(reinterpret_cast<const char*>(p.data.data()) + 1, p.data[0]);
    };
    EXPECT_EQ(le32(props[0].data.data()), std::uint32_t(r.kind));
    EXPECT_EQ(counted(props[1]), r.name);
    EXPECT_EQ(counted(props[2]), r.category);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(props[3].data.data())), r.entry_point);
    EXPECT_EQ(props[5].data[0] | props[5].data[1] << 8, r.major);
    EXPECT_EQ(props[5].data[2] | props[5].data[3] << 8, r.minor);
    EXPECT_EQ(counted(props[10]), r.match_name);
    EXPECT_EQ(counted(props[12]), r.support_url);

    PF_OutData out{};
    ASSERT_EQ(global_setup(out), PF_Err_NONE);
    EXPECT_EQ(le32(props[6].data.data()), out.my_version);
    EXPECT_EQ(le32(props[8].data.data()), std::uint32_t(out.out_flags));
    EXPECT_EQ(le32(props[9].data.data()), std::uint32_t(out.out_flags2));
}

// Out-data filled with a byte pattern, to see exactly what a command writes.
PF_OutData patterned_out_data() {
    PF_OutData out;
    std::memset(&out, 0xA5, sizeof out);
    return out;
}

TEST(GlobalSetup, WritesVersionAndFlagsAndNothingElse) {
    PF_OutData out = patterned_out_data();
    PF_OutData expected = patterned_out_data();
    expected.my_version = 0x00088601;
    expected.out_flags = 0x02000004;
    expected.out_flags2 = 0x08001408;
    EXPECT_EQ(EffectMain(PF_Cmd_GLOBAL_SETUP, nullptr, &out, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::memcmp(&out, &expected, sizeof out), 0);
    EXPECT_EQ((out.my_version >> 19), 1u);        // version 1 ...
    EXPECT_EQ((out.my_version >> 15) & 0xF, 1u);  // ... .1, as the About text says
}

TEST(About, TextShowsVersionEndsWithCategoryAndWritesOnlyTheMessage) {
    PF_OutData out = patterned_out_data();
    EXPECT_EQ(EffectMain(PF_Cmd_ABOUT, nullptr, &out, nullptr, nullptr, nullptr), 0);
    const std::string text = out.return_msg;
    EXPECT_NE(text.find("1.1"), std::string::npos);
    ASSERT_GE(text.size(), 8u);
    EXPECT_EQ(text.substr(text.size() - 8), "Corvanta");
    EXPECT_LT(text.size(), 200u);

    PF_OutData expected = patterned_out_data();
    std::memcpy(expected.return_msg, text.c_str(), text.size() + 1);
    EXPECT_EQ(std::memcmp(&out, &expected, sizeof out), 0);
}

}  // namespace
}  // namespace lumatrail
