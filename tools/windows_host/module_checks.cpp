#include "tools/windows_host/module_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "host/effect_identity.h"
#include "host/parameters.h"

namespace lumatrail::tools {
namespace {

std::string hex(std::uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

std::string quoted(std::string_view s) {
    std::string q(1, '"');
    q.append(s);
    q.push_back('"');
    return q;
}

void expect_text(Problems& out, std::string_view what, std::string_view got, std::string_view expected) {
    if (got != expected)
        out.push_back(std::string(what) + " is " + quoted(got) + ", expected " + quoted(expected));
}

void expect_number(Problems& out, std::string_view what, double got, double expected) {
    if (got != expected) {
        char buf[160];
        std::snprintf(buf, sizeof buf, " is %.9g, expected %.9g", got, expected);
        out.push_back(std::string(what) + buf);
    }
}

void expect_word(Problems& out, std::string_view what, std::uint32_t got, std::uint32_t expected) {
    if (got != expected)
        out.push_back(std::string(what) + " is " + hex(got, 8) + ", expected " + hex(expected, 8));
}

}  // namespace

Problems property_list_problems(std::span<const std::uint8_t> resource) {
    const std::span<const std::uint8_t> expected = PROPERTY_LIST;
    Problems out;
    for (std::size_t i = 0; i < resource.size() && i < expected.size(); ++i) {
        if (resource[i] != expected[i]) {
            out.push_back("property list byte " + std::to_string(i) + " is " + hex(resource[i], 2) +
                          ", expected " + hex(expected[i], 2));
            break;
        }
    }
    if (resource.size() != expected.size())
        out.push_back("property list is " + std::to_string(resource.size()) + " bytes, expected " +
                      std::to_string(expected.size()));
    return out;
}

Problems registration_problems(const offline::Registration& r) {
    const EffectIdentity& id = EFFECT_IDENTITY;
    Problems out;
    expect_text(out, "registered name", r.name, id.display_name);
    expect_text(out, "registered match name", r.match_name, id.match_name);
    expect_text(out, "registered category", r.category, id.category);
    expect_text(out, "registered entry point", r.entry_point, id.entry_point);
    expect_text(out, "registered support address", r.support_url, id.support_url);
    expect_word(out, "registered kind", std::uint32_t(r.kind), id.kind);
    expect_number(out, "registered interface major version", r.api_major, id.api_major);
    expect_number(out, "registered interface minor version", r.api_minor, id.api_minor);
    expect_number(out, "registered reserved info", r.reserved_info, id.reserved_info);
    return out;
}

Problems about_problems(const PF_OutData& out_data) {
    Problems out;
    const char* msg = out_data.return_msg;
    const std::size_t length = strnlen(msg, sizeof out_data.return_msg);
    if (length == sizeof out_data.return_msg)
        out.push_back("About text is not zero-terminated");
    else
        expect_text(out, "About text", std::string_view(msg, length), ABOUT_TEXT);
    return out;
}

Problems global_setup_problems(const PF_OutData& out_data) {
    Problems out;
    expect_word(out, "global setup version", out_data.my_version, EFFECT_VERSION);
    expect_word(out, "global setup out_flags", std::uint32_t(out_data.out_flags),
                std::uint32_t(EFFECT_IDENTITY.out_flags));
    expect_word(out, "global setup out_flags2", std::uint32_t(out_data.out_flags2),
                std::uint32_t(EFFECT_IDENTITY.out_flags2));
    return out;
}

Problems parameter_problems(const offline::OfflineHost& host) {
    Problems out;
    if (host.params.size() != std::size_t(PARAM_COUNT)) {
        out.push_back("parameter setup declared " + std::to_string(host.params.size()) +
                      " parameters (input layer included), expected " + std::to_string(PARAM_COUNT));
        return out;
    }
    for (std::int32_t index = 1; index < PARAM_COUNT; ++index) {
        const ParamRow& row = param_row(index);
        const offline::OfflineParam& p = host.params[std::size_t(index)];
        const PF_ParamDef& d = p.declared;
        const std::string at = "parameter " + std::to_string(index) + " ";
        const std::size_t name_length =
            std::min(row.ui_name.size(), std::size_t(PF_MAX_EFFECT_PARAM_NAME_LEN));
        expect_text(out, at + "name", p.name, row.ui_name.substr(0, name_length));
        if (d.param_type != row.kind) {
            out.push_back(at + "is a " + std::string(offline::param_kind_name(d.param_type)) +
                          ", expected a " + std::string(offline::param_kind_name(row.kind)));
            continue;
        }
        expect_number(out, at + "id", d.uu.id, index);
        switch (row.kind) {
        case PF_Param_FLOAT_SLIDER:
            expect_number(out, at + "value", d.u.fs_d.value, double(row.dephault));
            expect_number(out, at + "default", d.u.fs_d.dephault, row.dephault);
            expect_number(out, at + "valid minimum", d.u.fs_d.valid_min, row.valid_min);
            expect_number(out, at + "valid maximum", d.u.fs_d.valid_max, row.valid_max);
            expect_number(out, at + "slider minimum", d.u.fs_d.slider_min, row.slider_min);
            expect_number(out, at + "slider maximum", d.u.fs_d.slider_max, row.slider_max);
            expect_number(out, at + "precision", d.u.fs_d.precision, SLIDER_PRECISION);
            break;
        case PF_Param_POPUP:
            expect_text(out, at + "choices", p.choices_text, row.choices);
            expect_number(out, at + "choice count", d.u.pd.num_choices, row.num_choices);
            expect_number(out, at + "default choice", d.u.pd.dephault, row.dephault);
            expect_number(out, at + "value", d.u.pd.value, row.dephault);
            break;
        case PF_Param_CHECKBOX:
            expect_number(out, at + "value", d.u.bd.value, row.dephault);
            expect_number(out, at + "default", d.u.bd.dephault, row.dephault);
            break;
        default: break;
        }
    }
    return out;
}

}  // namespace lumatrail::tools
