#include "tools/lumatrail/presets.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/lumatrail/param_values.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

using nlohmann::json;

double value_of(const offline::OfflineParam& p, const json& v) {
    if (v.is_number()) return v.get<double>();
    if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
    if (v.is_string()) return parse_value(p, v.get<std::string>());
    throw std::invalid_argument("\"" + p.name + "\" takes a number, a choice's text or true/false, not " +
                                v.dump());
}

json value_json(const offline::OfflineParam& p, double v) {
    switch (p.declared.param_type) {
    case PF_Param_POPUP: {
        const auto i = std::size_t(std::lround(v)) - 1;
        return i < p.choices.size() ? json(p.choices[i]) : json(v);
    }
    case PF_Param_CHECKBOX: return json(v != 0.0);
    default: return json(v);
    }
}

// The preset text of every parameter that holds a value.
std::string preset_text(const offline::OfflineHost& host) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    for (const offline::OfflineParam& p : host.params) {
        if (p.keys.empty()) continue;
        if (p.keys.size() == 1) {
            doc[p.name] = value_json(p, p.keys.front().value);
            continue;
        }
        nlohmann::ordered_json keys = nlohmann::ordered_json::array();
        for (const offline::ParamKey& k : p.keys) keys.push_back({k.time_seconds, value_json(p, k.value)});
        doc[p.name] = keys;
    }
    return doc.dump(2) + "\n";
}

}  // namespace

void load_preset(offline::OfflineHost& host, const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError(EXIT_INPUT, "cannot read the preset \"" + path + "\"");
    json doc;
    try {
        doc = json::parse(in);
    } catch (const json::parse_error& e) {
        throw ToolError(EXIT_USAGE, "the preset \"" + path + "\" is not valid JSON: " + e.what());
    }
    if (!doc.is_object())
        throw ToolError(EXIT_USAGE,
                        "the preset \"" + path + "\" must be a JSON object of parameter names and values");
    // Checked in full before anything is set.
    std::vector<std::pair<std::int32_t, std::vector<offline::ParamKey>>> changes;
    try {
        for (const auto& [name, v] : doc.items()) {
            const std::int32_t index = find_parameter(host, name);
            const offline::OfflineParam& p = host.params[std::size_t(index)];
            std::vector<offline::ParamKey> keys;
            if (v.is_array()) {
                for (const json& key : v) {
                    if (!key.is_array() || key.size() != 2 || !key[0].is_number())
                        throw std::invalid_argument("keyframes of \"" + p.name +
                                                    "\" are [seconds, value] pairs, not " + key.dump());
                    keys.push_back({key[0].get<double>(), value_of(p, key[1])});
                }
            } else {
                keys.push_back({0.0, value_of(p, v)});
            }
            offline::OfflineHost trial_host;  // the range check, without touching the real host
            trial_host.params = {p};
            offline::set_param_keys(trial_host, 0, keys);
            changes.emplace_back(index, std::move(keys));
        }
    } catch (const std::invalid_argument& e) {
        throw ToolError(EXIT_USAGE, "the preset \"" + path + "\": " + e.what());
    }
    for (auto& [index, keys] : changes) offline::set_param_keys(host, index, std::move(keys));
}

void save_preset(const offline::OfflineHost& host, const std::string& path) {
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary);
        out << preset_text(host);
        if (!out.flush()) {
            std::remove(temporary.c_str());
            throw ToolError(EXIT_OUTPUT, "cannot write the preset \"" + path + "\"");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw ToolError(EXIT_OUTPUT, "cannot write the preset \"" + path + "\"");
    }
}

}  // namespace lumatrail::tools
