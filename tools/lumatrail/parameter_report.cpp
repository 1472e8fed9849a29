#include "tools/lumatrail/parameter_report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "host/parameters.h"
#include "offline/frei0r_controls.h"
#include "offline/frei0r_text.h"
#include "offline/param_text.h"
#include "offline/param_values.h"
#include "tools/lumatrail/editor_files.h"
#include "tools/lumatrail/effect_calls.h"

namespace lumatrail::tools {
namespace {

using offline::choices_text;
using offline::default_text;
using offline::number_text;

// The text, then spaces up to `width` characters (printf's "%-8s").
std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

// The values column of the table: the default, then the range or choices.
std::string describe(const offline::OfflineParam& p) {
    const PF_ParamDef& d = p.declared;
    switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER: {
        return "default " + padded(default_text(p), 8) + " valid " + number_text(d.u.fs_d.valid_min) +
               " to " + number_text(d.u.fs_d.valid_max) + ", slider " + number_text(d.u.fs_d.slider_min) +
               " to " + number_text(d.u.fs_d.slider_max);
    }
    case PF_Param_POPUP: return "default " + default_text(p) + "; choices " + choices_text(p, " | ");
    case PF_Param_CHECKBOX:
    case PF_Param_LAYER: return "default " + default_text(p);
    default: return "";
    }
}

// What the effect's own table says of the parameter the module declared at
// `index`, when the module's declaration is the one this program was built with.
std::string_view explanation_of(std::size_t index, const std::string& name) {
    if (index < 1 || index > PARAM_TABLE.size()) return {};
    const ParamRow& row = param_row(std::int32_t(index));
    return row.ui_name == name ? row.explanation : std::string_view{};
}

// The Values cell of the Markdown table: the slider range and, where it is
// wider, what may be typed in; the choices; on and off.
std::string values_cell(const offline::OfflineParam& p) {
    const PF_ParamDef& d = p.declared;
    switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER: {
        const auto& s = d.u.fs_d;
        std::string values = "slider " + number_text(s.slider_min) + " to " + number_text(s.slider_max);
        if (s.valid_min != s.slider_min || s.valid_max != s.slider_max)
            values += "; accepts " + number_text(s.valid_min) + " to " + number_text(s.valid_max);
        return values;
    }
    case PF_Param_POPUP: return choices_text(p, ", ");
    case PF_Param_CHECKBOX: return "on, off";
    case PF_Param_LAYER: return "a layer";
    default: return "";
    }
}

// One row of a group's table: the values as the module declared them.
std::string markdown_row(const offline::OfflineParam& p) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) of a
    // literal prepended to a temporary string.
    std::string row = "| ";
    for (const std::string& cell :
         {p.name, p.keys.empty() ? std::string() : std::string("`").append(offline::slug(p.name)).append("`"),
          std::string(offline::param_kind_name(p.declared.param_type)), default_text(p), values_cell(p)})
        row.append(cell).append(" | ");
    row.back() = '\n';
    return row;
}

constexpr const char* REFERENCE_INTRODUCTION =
    "# Controls\n\n"
    "<!-- Written by `lumatrail params --markdown` (`make docs`) from the effect's own parameter "
    "table; edit the explanations in host/parameters.h, not here. -->\n\n"
    "The effect's controls in the order the host shows them, group by group. The UI name or the slug "
    "names a control in `lumatrail render --set NAME=VALUE` and in presets; popups take a choice's text "
    "and checkboxes on or off. Sliders show their slider range and, where it is wider, what may be typed "
    "in. Lengths and sizes are in full-resolution pixels, so a half-resolution render keeps the look.\n";

// The closing line: group starts and ends are markers, not controls.
std::string reference_summary(const offline::OfflineHost& host) {
    const auto count = [&](auto&& kind_counts) {
        return std::count_if(host.params.begin() + 1, host.params.end(), [&](const offline::OfflineParam& p) {
            return kind_counts(p.declared.param_type);
        });
    };
    const auto controls =
        count([](std::int32_t t) { return t != PF_Param_GROUP_START && t != PF_Param_GROUP_END; });
    const auto groups = count([](std::int32_t t) { return t == PF_Param_GROUP_START; });
    return "\n" + std::to_string(controls) + " controls in " + std::to_string(groups) +
           " groups, after the input layer that the host adds itself.\n";
}

}  // namespace

std::string controls_reference(const offline::OfflineHost& host) {
    std::string text = REFERENCE_INTRODUCTION;
    std::string notes;
    const auto close_group = [&] {
        text += notes;
        notes.clear();
    };
    for (std::size_t i = 1; i < host.params.size(); ++i) {
        const offline::OfflineParam& p = host.params[i];
        const std::string_view explanation = explanation_of(i, p.name);
        switch (p.declared.param_type) {
        case PF_Param_GROUP_START:
            close_group();
            text += "\n## " + p.name + "\n\n";
            if (!explanation.empty()) text += std::string(explanation) + "\n\n";
            text += "| Control | Slug | Kind | Default | Values |\n|---|---|---|---|---|\n";
            break;
        case PF_Param_GROUP_END: close_group(); break;
        default:
            text += markdown_row(p);
            notes += "\n**" + p.name + "**: " +
                     (explanation.empty() ? std::string("(no explanation)") : std::string(explanation)) +
                     "\n";
            break;
        }
    }
    close_group();
    return text + reference_summary(host);
}

std::string parameter_table(const offline::OfflineHost& host) {
    std::string text;
    const auto line = [&](const std::string& index, const std::string& name, const std::string& kind,
                          const std::string& slug, const std::string& values) {
        text += padded(index, 5) + " " + padded(name, 28) + " " + padded(kind, 10) + " " + padded(slug, 24) +
                " " + values + "\n";
    };
    line("Index", "Name", "Kind", "Slug", "Values");
    int depth = 0;
    std::vector<std::string> open_groups;
    for (std::size_t i = 1; i < host.params.size(); ++i) {
        const offline::OfflineParam& p = host.params[i];
        std::string label = p.name;
        if (p.declared.param_type == PF_Param_GROUP_END) {
            --depth;
            label = "(end of " + (open_groups.empty() ? std::string("group") : open_groups.back()) + ")";
            if (!open_groups.empty()) open_groups.pop_back();
        } else if (p.declared.param_type == PF_Param_GROUP_START) {
            open_groups.push_back(p.name);
        }
        line(std::to_string(i), std::string(std::size_t(2 * std::max(depth, 0)), ' ') + label,
             std::string(offline::param_kind_name(p.declared.param_type)),
             p.keys.empty() ? std::string() : offline::slug(p.name), describe(p));
        if (p.declared.param_type == PF_Param_GROUP_START) ++depth;
    }
    return text + "\n" + std::to_string(host.params.size()) +
           " parameters declared (input layer included).\n";
}

std::string frei0r_parameters(const offline::OfflineHost& host) {
    std::string text = "| # | Parameter | Default | Values |\n|---|---|---|---|\n";
    const std::vector<std::int32_t> controls = offline::frei0r_controls();
    for (std::size_t position = 0; position < controls.size(); ++position) {
        const std::int32_t index = controls[position];
        const offline::OfflineParam& p = host.params.at(std::size_t(index));
        const ParamRow& row = param_row(index);
        std::string dephault = default_text(p), values;
        switch (p.declared.param_type) {
        case PF_Param_FLOAT_SLIDER:
            dephault = offline::frei0r_value_text(row, p.declared.u.fs_d.value);
            values = "0 to 1 is " + offline::frei0r_span_text(row) + "; accepts " +
                     offline::frei0r_accepts_text(row);
            break;
        case PF_Param_POPUP: values = choices_text(p, ", "); break;
        default: values = "y or n in ffmpeg, 1 or 0 in melt"; break;
        }
        // Appended piece by piece, as in markdown_row.
        text.append("| ").append(std::to_string(position));
        for (const std::string& cell : {p.name, dephault, values}) text.append(" | ").append(cell);
        text.append(" |\n");
    }
    return text;
}

void print_params(PF_EffectMainFunc effect_main, ParamsFormat format) {
    std::string text;
    switch (format) {
    case ParamsFormat::Kdenlive: text = kdenlive_effect(); break;
    case ParamsFormat::ShotcutMeta: text = shotcut_meta(); break;
    case ParamsFormat::ShotcutUi: text = shotcut_ui(); break;
    case ParamsFormat::Table:
    case ParamsFormat::Markdown:
    case ParamsFormat::Frei0r: {
        offline::OfflineHost host;
        load_effect_parameters(host, effect_main);
        text = format == ParamsFormat::Markdown ? controls_reference(host)
               : format == ParamsFormat::Frei0r ? frei0r_parameters(host)
                                                : parameter_table(host);
        break;
    }
    }
    std::fputs(text.c_str(), stdout);
}

}  // namespace lumatrail::tools
