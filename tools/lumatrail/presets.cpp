#include "tools/lumatrail/presets.h"

#include <nlohmann/json.hpp>

#include <charconv>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "offline/param_values.h"
#include "tools/lumatrail/builtin_presets.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

using nlohmann::json;

// A preset needs three levels (the object, a parameter's keyframes, a key);
// anything nested deeper than this is refused while parsing, before code that
// recurses over the value (dump, for one) can run out of stack.
constexpr int MAX_PRESET_DEPTH = 16;
// Far more than any preset, even with long baked animations; a file that
// never ends (a device, a pipe) stops here.
constexpr std::size_t MAX_PRESET_BYTES = std::size_t(64) << 20;

std::string named(const std::string& path) { return "the preset \"" + path + "\""; }

// A path with no folder in it may name a built-in preset.
bool could_be_builtin(const std::string& path) { return path.find('/') == std::string::npos; }

// The preset's text; throws ToolError(EXIT_INPUT) when the file cannot be read.
std::string read_preset(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw ToolError(EXIT_INPUT, named(path) + " is a folder, not a file");
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        const int error = errno;
        if (error == ENOENT)
            throw ToolError(
                EXIT_INPUT,
                named(path) + " does not exist" +
                    (could_be_builtin(path) ? ", nor is it a built-in preset (lumatrail presets lists them)"
                                            : ""));
        throw ToolError(EXIT_INPUT, "cannot read " + named(path) + ": " + system_reason(error));
    }
    std::string text;
    char buffer[1 << 16];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get())) {
        text.append(buffer, n);
        if (text.size() > MAX_PRESET_BYTES)
            throw ToolError(EXIT_USAGE, named(path) + " is over " + std::to_string(MAX_PRESET_BYTES >> 20) +
                                            " MB, far larger than any preset");
    }
    if (std::ferror(file.get())) {
        const int error = errno;
        throw ToolError(EXIT_INPUT, error == EISDIR
                                        ? named(path) + " is a folder, not a file"
                                        : "cannot read " + named(path) + ": " + system_reason(error));
    }
    return text;
}

// What the JSON library says, without its "[json.exception.kind.id] " tag and
// cut to a readable length.
std::string library_detail(const json::exception& e) {
    std::string_view text = e.what();
    if (const std::size_t tag_end = text.find("] ");
        text.starts_with("[json.exception.") && tag_end != text.npos)
        text.remove_prefix(tag_end + 2);
    if (text.starts_with("parse error ")) text.remove_prefix(12);
    return offline::excerpt(text, 160);
}

// A name and value of the preset's object.
struct Member {
    std::string name;
    json value;
};

// The members of the preset's object in file order, a name given twice
// included (a JSON object keeps one value per key, sorted by key); throws
// ToolError(EXIT_USAGE) saying in plain words what keeps the text from being
// read.
std::vector<Member> parse_preset(const std::string& what, const std::string& text) {
    using Event = json::parse_event_t;
    std::vector<Member> members;
    std::string name;
    // Depth 1 is the object's members (or, were the text an array, its items).
    const json::parser_callback_t collect = [&](int depth, Event event, json& parsed) {
        if (event == Event::object_start || event == Event::array_start) {
            if (depth >= MAX_PRESET_DEPTH)
                throw ToolError(EXIT_USAGE, what + " nests lists or objects more than " +
                                                std::to_string(MAX_PRESET_DEPTH) + " levels deep");
        } else if (depth == 1 && event == Event::key) {
            name = parsed.get<std::string>();
        } else if (depth == 1) {  // a member's value, or the end of one that is a list or object
            members.push_back({name, parsed});
        }
        return true;
    };
    try {
        if (!json::parse(text, collect).is_object())
            throw ToolError(EXIT_USAGE, what + " must be a JSON object of parameter names and values");
        return members;
    } catch (const json::parse_error& e) {
        const std::string detail = library_detail(e);
        throw ToolError(EXIT_USAGE,
                        what + " is not valid JSON" + (detail.starts_with("at ") ? " " : ": ") + detail);
    } catch (const json::out_of_range& e) {
        if (e.id != 406) throw ToolError(EXIT_USAGE, what + " cannot be read: " + library_detail(e));
        // The number is quoted in the library's message: "number overflow parsing '1e999'".
        const std::string_view message = e.what();
        const std::size_t open = message.find('\''), close = message.rfind('\'');
        const std::string number = open < close ? offline::excerpt(message.substr(open + 1, close - open - 1))
                                                : std::string("beyond a double's range");
        throw ToolError(EXIT_USAGE, what + " holds a number too large: " + number);
    } catch (const json::exception& e) {
        throw ToolError(EXIT_USAGE, what + " cannot be read: " + library_detail(e));
    }
}

double value_of(const offline::OfflineParam& p, const json& v) {
    if (v.is_number()) return v.get<double>();
    if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
    if (v.is_string()) return offline::parse_value(p, v.get<std::string>());
    throw std::invalid_argument("\"" + p.name + "\" takes a number, a choice's text or true/false, not " +
                                offline::excerpt(v.dump()));
}

// A value the host holds in single precision, as its shortest decimal: 1.2,
// not 1.2000000476837158. Values that are not floats are written whole.
json number_json(double v) {
    const float single = float(v);
    if (!(double(single) == v)) return json(v);
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, single).ptr;
    double shortest = 0.0;
    std::from_chars(text, end, shortest);
    return json(shortest);
}

json value_json(const offline::OfflineParam& p, double v) {
    switch (p.declared.param_type) {
    case PF_Param_POPUP: {
        const auto i = std::size_t(std::lround(v)) - 1;
        return i < p.choices.size() ? json(p.choices[i]) : json(v);
    }
    case PF_Param_CHECKBOX: return json(v != 0.0);
    default: return number_json(v);
    }
}

bool same_keys(const std::vector<offline::ParamKey>& a, const std::vector<offline::ParamKey>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.time_seconds == y.time_seconds && x.value == y.value;
    });
}

// The preset text of every parameter that holds a value, or of those whose
// keys differ from the baseline's.
std::string preset_text(const offline::OfflineHost& host, const offline::OfflineHost* baseline) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < host.params.size(); ++i) {
        const offline::OfflineParam& p = host.params[i];
        if (p.keys.empty()) continue;
        if (baseline && i < baseline->params.size() && same_keys(p.keys, baseline->params[i].keys)) continue;
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

// A parameter's new keys, checked, and how often the preset named it.
struct Change {
    std::int32_t index;
    std::vector<offline::ParamKey> keys;
    const json* value;  // as written, for the warning
    int times;
};

// The keys a member of the preset gives its parameter; throws
// std::invalid_argument saying what is wrong with them.
std::vector<offline::ParamKey> keys_of(const offline::OfflineParam& p, const json& v) {
    std::vector<offline::ParamKey> keys;
    if (!v.is_array()) return {{0.0, value_of(p, v)}};
    for (const json& key : v) {
        if (!key.is_array() || key.size() != 2 || !key[0].is_number())
            throw std::invalid_argument("keyframes of \"" + p.name + "\" are [seconds, value] pairs, not " +
                                        offline::excerpt(key.dump()));
        keys.push_back({key[0].get<double>(), value_of(p, key[1])});
    }
    return keys;
}

// Every member checked against the parameter it names, before anything is
// set; a parameter named again takes the later value.
std::vector<Change> changes_of(const offline::OfflineHost& host, const std::vector<Member>& members,
                               const std::string& what) {
    std::vector<Change> changes;
    try {
        for (const Member& member : members) {
            const std::int32_t index = offline::find_parameter(host, member.name);
            const offline::OfflineParam& p = host.params[std::size_t(index)];
            std::vector<offline::ParamKey> keys = keys_of(p, member.value);
            offline::OfflineHost trial_host;  // the range check, without touching the real host
            trial_host.params = {p};
            offline::set_param_keys(trial_host, 0, keys);
            const auto same = std::find_if(changes.begin(), changes.end(),
                                           [&](const Change& c) { return c.index == index; });
            if (same == changes.end()) {
                changes.push_back({index, std::move(keys), &member.value, 1});
            } else {
                same->keys = std::move(keys);
                same->value = &member.value;
                ++same->times;
            }
        }
    } catch (const std::invalid_argument& e) {
        throw ToolError(EXIT_USAGE, what + ": " + e.what());
    } catch (const json::exception& e) {
        throw ToolError(EXIT_USAGE, what + " cannot be read: " + library_detail(e));
    }
    return changes;
}

// Sets the preset's parameters; the warnings of parameters named twice.
std::vector<std::string> apply_preset(offline::OfflineHost& host, const std::string& what,
                                      const std::string& text) {
    const std::vector<Member> members = parse_preset(what, text);
    std::vector<Change> changes = changes_of(host, members, what);
    std::vector<std::string> warnings;
    for (Change& c : changes) {
        if (c.times > 1)
            warnings.push_back(what + " sets \"" + host.params[std::size_t(c.index)].name + "\" " +
                               (c.times == 2 ? std::string("twice") : std::to_string(c.times) + " times") +
                               "; the last value, " + offline::excerpt(c.value->dump()) + ", is used");
        offline::set_param_keys(host, c.index, std::move(c.keys));
    }
    return warnings;
}

}  // namespace

std::vector<std::string> load_preset(offline::OfflineHost& host, const std::string& path) {
    std::error_code error;
    const bool nothing_there =
        std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found;
    if (const BuiltinPreset* builtin =
            nothing_there && could_be_builtin(path) ? find_builtin_preset(path) : nullptr)
        return apply_preset(host, "the built-in preset \"" + path + "\"", std::string(builtin->text));
    return apply_preset(host, named(path), read_preset(path));
}

void save_preset(const offline::OfflineHost& host, const std::string& path,
                 const offline::OfflineHost* baseline) {
    const std::string text = preset_text(host, baseline);
    PendingFile file(path);
    file.write_at(text.data(), text.size(), 0);
    file.commit();
}

}  // namespace lumatrail::tools
