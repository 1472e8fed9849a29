#include "offline/param_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace lumatrail::offline {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edit distance, for suggesting the parameter a user meant.
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

bool holds_value(const OfflineParam& p) {
    const std::int32_t t = p.declared.param_type;
    return t == PF_Param_FLOAT_SLIDER || t == PF_Param_POPUP || t == PF_Param_CHECKBOX;
}

// Why a control that holds no value cannot be set, and how it is given
// instead.
std::string holds_no_value(const OfflineParam& p, std::size_t index) {
    const std::string quoted = "\"" + p.name + "\"";
    if (p.declared.param_type != PF_Param_LAYER)
        return quoted + " is a group of controls and holds no value ('lumatrail params' lists them all)";
    if (index == 0) return quoted + " is the picture rendered: lumatrail render INPUT -o OUTPUT";
    return quoted + " is a layer and holds no value; give the mask with --mask FILE";
}

bool parse_number(std::string_view text, double& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

}  // namespace

std::string slug(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            out += char(std::tolower(static_cast<unsigned char>(c)));
        } else if (!out.empty() && out.back() != '-') {
            out += '-';
        }
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out;
}

std::string excerpt(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;  // inside a character
    return std::string(text.substr(0, end)) + "...";
}

std::int32_t find_parameter(const OfflineHost& host, std::string_view name) {
    const std::string wanted = slug(name);
    std::int32_t best = -1;
    std::size_t best_distance = SIZE_MAX;
    for (std::size_t i = 0; i < host.params.size(); ++i) {
        const OfflineParam& p = host.params[i];
        if (!holds_value(p)) continue;
        if (p.name == name || slug(p.name) == wanted) return std::int32_t(i);
        const std::size_t d = distance(wanted, slug(p.name));
        if (d < best_distance) {
            best_distance = d;
            best = std::int32_t(i);
        }
    }
    // Names of layers and groups too, so as to say how they are given.
    for (std::size_t i = 0; i < host.params.size(); ++i) {
        const OfflineParam& p = host.params[i];
        if (!p.name.empty() && (p.name == name || slug(p.name) == wanted))
            throw std::invalid_argument(holds_no_value(p, i));
    }
    std::string message = "no parameter is named \"" + excerpt(name) + "\"";
    if (best >= 0)
        message += "; did you mean \"" + host.params[std::size_t(best)].name + "\" (" +
                   slug(host.params[std::size_t(best)].name) + ")?";
    throw std::invalid_argument(message + " ('lumatrail params' lists them all)");
}

double parse_value(const OfflineParam& p, std::string_view text) {
    double number = 0.0;
    switch (p.declared.param_type) {
    case PF_Param_POPUP: {
        for (std::size_t i = 0; i < p.choices.size(); ++i)
            if (lower(p.choices[i]) == lower(text) || slug(p.choices[i]) == slug(text)) return double(i + 1);
        if (parse_number(text, number)) return number;  // checked against the range when set
        std::string list;
        for (std::size_t i = 0; i < p.choices.size(); ++i) list += (i ? ", " : "") + slug(p.choices[i]);
        throw std::invalid_argument("\"" + p.name + "\" has no choice \"" + excerpt(text) +
                                    "\"; choose one of " + list + " (or 1 to " +
                                    std::to_string(p.choices.size()) + ")");
    }
    case PF_Param_CHECKBOX: {
        const std::string v = lower(text);
        if (v == "on" || v == "true" || v == "yes" || v == "1") return 1.0;
        if (v == "off" || v == "false" || v == "no" || v == "0") return 0.0;
        throw std::invalid_argument("\"" + p.name + "\" is a checkbox: on or off, not \"" + excerpt(text) +
                                    "\"");
    }
    case PF_Param_FLOAT_SLIDER:
        if (parse_number(text, number)) return number;
        throw std::invalid_argument("\"" + p.name + "\" takes a number, not \"" + excerpt(text) + "\"");
    default: throw std::invalid_argument("\"" + p.name + "\" holds no value");
    }
}

void apply_setting(OfflineHost& host, std::string_view assignment) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos)
        throw std::invalid_argument("--set takes NAME=VALUE, for example --set \"Streak Length (px)=300\"");
    const std::int32_t index = find_parameter(host, assignment.substr(0, eq));
    set_param_value(host, index, parse_value(host.params[std::size_t(index)], assignment.substr(eq + 1)));
}

}  // namespace lumatrail::offline
