#include "tools/lumatrail/editor_files.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "host/effect_identity.h"
#include "host/parameters.h"
#include "offline/frei0r_controls.h"
#include "offline/param_values.h"

namespace lumatrail::tools {
namespace {

using offline::editor_range;
using offline::frei0r_scale;

constexpr std::string_view SERVICE = "frei0r.lumatrail";

// One control as an editor shows it: its row and the group it sits in.
struct EditorControl {
    const ParamRow* row = nullptr;
    std::string_view group;
    bool opens_group = false;  // the first control shown of its group, after the first control
};

// The frei0r controls in frei0r's order, each with its group. Render Mode
// comes first, before any heading; a heading opens wherever the group changes.
std::vector<EditorControl> editor_controls() {
    std::vector<std::string_view> group_of(PARAM_TABLE.size() + 1);
    std::string_view group;
    for (const ParamRow& row : PARAM_TABLE) {
        if (row.kind == PF_Param_GROUP_START) group = row.ui_name;
        if (row.kind == PF_Param_GROUP_END) group = {};
        group_of[std::size_t(row.index)] = group;
    }
    std::vector<EditorControl> controls;
    for (const std::int32_t index : offline::frei0r_controls()) {
        EditorControl c{&param_row(index), group_of[std::size_t(index)], false};
        c.opens_group = !controls.empty() && c.group != controls.back().group;
        controls.push_back(c);
    }
    return controls;
}

// The shortest text that reads back as the same single-precision number: the
// table's values and units are floats ("0.05", "-200", "2000").
std::string number(double value) {
    if (value == 0) return "0";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, float(value));
    return std::string(text, result.ptr);
}

// The shortest text of the frei0r value that the filter turns back into
// exactly `units` (the value times the scale, rounded to single precision):
// Trail Length 1.2 s over 6 is "0.2", not the 0.20000000794728598 of the
// float's exact quotient.
std::string frei0r_number(const ParamRow& row, float units) {
    const double value = offline::frei0r_from_units(row, units);
    std::string text;
    for (int digits = 1; digits <= 17; ++digits) {
        char buffer[40];
        char* end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits).ptr;
        text.assign(buffer, end);
        double read = 0;
        std::from_chars(buffer, end, read);
        if (float(offline::units_from_frei0r(row, read)) == units) break;
    }
    return text;
}

// The unit in the UI name's parentheses, as a suffix after the shown value:
// "Streak Length (px)" shows " px", "Launch Spread (deg)" shows "°".
std::string unit_suffix(std::string_view name) {
    const std::size_t open = name.rfind(" (");
    if (open == std::string_view::npos || name.back() != ')') return "";
    const std::string_view unit = name.substr(open + 2, name.size() - open - 3);
    if (unit == "%") return "%";
    if (unit == "deg") return "\u00b0";
    if (unit == "sec") return " s";
    if (unit == "px/sec") return " px/s";
    return " " + std::string(unit);
}

// Counts (Random Seed, Particle Count) are whole numbers; the rest show two places.
int decimals(const ParamRow& row) { return row.conversion == Conversion::Count ? 0 : SLIDER_PRECISION; }

std::vector<std::string_view> choices(const ParamRow& row) {
    std::vector<std::string_view> out;
    std::string_view rest = row.choices;
    for (std::size_t bar; (bar = rest.find('|')) != std::string_view::npos; rest.remove_prefix(bar + 1))
        out.push_back(rest.substr(0, bar));
    out.push_back(rest);
    return out;
}

std::string_view default_choice(const ParamRow& row) {
    return choices(row).at(std::size_t(row.dephault) - 1);
}

std::string joined(const std::vector<std::string_view>& items, std::string_view separator) {
    std::string text;
    for (const std::string_view item : items) text.append(text.empty() ? "" : separator).append(item);
    return text;
}

// Text for XML content and attribute values.
std::string xml_text(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A JavaScript string literal in single quotes.
std::string js_string(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

std::string attribute(std::string_view name, std::string_view value) {
    // Appended piece by piece: GCC 12 at -O3 warns (wrongly) of an overlapping
    // copy in `" " + std::string(name)`.
    std::string out(" ");
    out.append(name).append("=\"").append(xml_text(value)).append("\"");
    return out;
}

// One <parameter> of the Kdenlive description.
std::string kdenlive_parameter(const EditorControl& c) {
    const ParamRow& row = *c.row;
    std::string text = "    <parameter";
    std::string inner;
    if (row.kind == PF_Param_FLOAT_SLIDER) {
        const offline::EditorRange range = editor_range(row);
        text += attribute("type", "animated") + attribute("name", row.ui_name) +
                attribute("default", frei0r_number(row, row.dephault)) + attribute("min", number(range.low)) +
                attribute("max", number(range.high)) + attribute("factor", number(frei0r_scale(row))) +
                attribute("decimals", std::to_string(decimals(row)));
        if (const std::string suffix = unit_suffix(row.ui_name); !suffix.empty())
            text += attribute("suffix", suffix);
    } else if (row.kind == PF_Param_POPUP) {
        text += attribute("type", "list") + attribute("name", row.ui_name) +
                attribute("default", default_choice(row)) + attribute("paramlist", joined(choices(row), ";"));
        inner = "        <paramlistdisplay>" + xml_text(joined(choices(row), ",")) + "</paramlistdisplay>\n";
    } else {
        text += attribute("type", "bool") + attribute("name", row.ui_name) +
                attribute("default", row.dephault != 0 ? "1" : "0");
    }
    text += ">\n" + inner + "        <name>" + xml_text(row.ui_name) + "</name>\n";
    text += "        <comment>" + xml_text(std::string(c.group) + ": " + std::string(row.explanation)) +
            "</comment>\n";
    return text + "    </parameter>\n";
}

// A QML id from a UI name: "Streak Length (px)" and "Slider" give streakLengthPxSlider.
std::string qml_id(std::string_view name, std::string_view kind) {
    std::string id;
    bool upper = false;
    for (const char c : offline::slug(name)) {
        if (c == '-') {
            upper = true;
            continue;
        }
        id += upper && c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
        upper = false;
    }
    return id + std::string(kind);
}

std::string qml_label(std::string_view name) {
    return "        Label {\n            text: " + js_string(name) +
           "\n            Layout.alignment: Qt.AlignRight\n        }\n\n";
}

// A slider in units with its reset and keyframes buttons; the property gets value / scale.
std::string qml_slider(const ParamRow& row) {
    const std::string slider = qml_id(row.ui_name, "Slider"), keys = qml_id(row.ui_name, "Keyframes");
    const std::string name = js_string(row.ui_name), scale = number(frei0r_scale(row));
    const offline::EditorRange range = editor_range(row);
    return qml_label(row.ui_name) + "        Shotcut.SliderSpinner {\n            id: " + slider +
           "\n\n            minimumValue: " + number(range.low) +
           "\n            maximumValue: " + number(range.high) +
           "\n            decimals: " + std::to_string(decimals(row)) +
           "\n            suffix: " + js_string(unit_suffix(row.ui_name)) +
           "\n            onValueChanged: updateFilter(" + name + ", value / " + scale + ", " + keys +
           ", getPosition())\n        }\n\n        Shotcut.UndoButton {\n            onClicked: " + slider +
           ".value = " + number(row.dephault) +
           "\n        }\n\n        Shotcut.KeyframesButton {\n            id: " + keys +
           "\n\n            onToggled: {\n                enableControls(true);\n" +
           "                toggleKeyframes(checked, " + name + ", " + slider + ".value / " + scale +
           ");\n            }\n        }\n\n";
}

// A combo box of the choices; the property gets the choice's text.
std::string qml_combo(const ParamRow& row) {
    const std::string combo = qml_id(row.ui_name, "Combo"), name = js_string(row.ui_name);
    std::string model;
    for (const std::string_view choice : choices(row))
        model += (model.empty() ? "" : ", ") + js_string(choice);
    return qml_label(row.ui_name) + "        Shotcut.ComboBox {\n            id: " + combo +
           "\n\n            implicitWidth: 180\n            model: [" + model +
           "]\n            onActivated: filter.set(" + name + ", currentText)\n        }\n\n" +
           "        Shotcut.UndoButton {\n            onClicked: {\n                filter.set(" + name +
           ", " + js_string(default_choice(row)) + ");\n                " + combo +
           ".currentIndex = " + std::to_string(int(row.dephault) - 1) +
           ";\n            }\n        }\n\n        Item {\n" + "            width: 1\n        }\n\n";
}

// A check box; the property gets 1 or 0.
std::string qml_check(const ParamRow& row) {
    const std::string check = qml_id(row.ui_name, "Check"), name = js_string(row.ui_name);
    const std::string on = row.dephault != 0 ? "1" : "0";
    return qml_label(row.ui_name) + "        CheckBox {\n            id: " + check +
           "\n\n            onClicked: filter.set(" + name + ", checked ? 1 : 0)\n        }\n\n" +
           "        Shotcut.UndoButton {\n            onClicked: {\n                filter.set(" + name +
           ", " + on + ");\n                " + check + ".checked = " + (on == "1" ? "true" : "false") +
           ";\n            }\n        }\n\n        Item {\n            width: 1\n        }\n\n";
}

std::string qml_heading(std::string_view group) {
    return "        Label {\n            text: " + js_string(group) +
           "\n            font.bold: true\n            Layout.columnSpan: 4\n        }\n\n";
}

// The lists the panel's functions walk: the properties, scales, defaults and controls by kind.
struct QmlLists {
    std::vector<std::string> slider_names, scales, slider_defaults, sliders, keyframes;
    std::vector<std::string> combo_names, combo_defaults, combos, check_names, check_defaults, checks;
};

QmlLists qml_lists(const std::vector<EditorControl>& controls) {
    QmlLists l;
    for (const EditorControl& c : controls) {
        const ParamRow& row = *c.row;
        const std::string name = js_string(row.ui_name);
        if (row.kind == PF_Param_FLOAT_SLIDER) {
            l.slider_names.push_back(name);
            l.scales.push_back(number(frei0r_scale(row)));
            l.slider_defaults.push_back(frei0r_number(row, row.dephault));
            l.sliders.push_back(qml_id(row.ui_name, "Slider"));
            l.keyframes.push_back(qml_id(row.ui_name, "Keyframes"));
        } else if (row.kind == PF_Param_POPUP) {
            l.combo_names.push_back(name);
            l.combo_defaults.push_back(js_string(default_choice(row)));
            l.combos.push_back(qml_id(row.ui_name, "Combo"));
        } else {
            l.check_names.push_back(name);
            l.check_defaults.push_back(row.dephault != 0 ? "1" : "0");
            l.checks.push_back(qml_id(row.ui_name, "Check"));
        }
    }
    return l;
}

std::string qml_list(std::string_view property, const std::vector<std::string>& items) {
    std::string text = "    " + std::string(property) + ": [";
    for (std::size_t i = 0; i < items.size(); ++i) text += (i ? ", " : "") + items[i];
    return text + "]\n";
}

std::string qml_properties(const QmlLists& l) {
    return "    // Sliders: their properties (frei0r parameters), units per frei0r 1.0 and defaults as\n"
           "    // frei0r values; then the popups' and checkboxes' properties and defaults.\n" +
           qml_list("property var sliderParameters", l.slider_names) +
           qml_list("property var sliderScales", l.scales) +
           qml_list("property var sliderDefaults", l.slider_defaults) +
           qml_list("property var sliders", l.sliders) +
           qml_list("property var keyframesButtons", l.keyframes) +
           qml_list("property var comboParameters", l.combo_names) +
           qml_list("property var comboDefaults", l.combo_defaults) +
           qml_list("property var combos", l.combos) +
           qml_list("property var checkParameters", l.check_names) +
           qml_list("property var checkDefaults", l.check_defaults) +
           qml_list("property var checks", l.checks) + "\n" +
           qml_list("keyframableParameters", l.slider_names) + qml_list("startValues", l.slider_defaults) +
           qml_list("middleValues", l.slider_defaults) + qml_list("endValues", l.slider_defaults);
}

// The panel's behaviour, the same for every control of a kind.
constexpr std::string_view QML_FUNCTIONS = R"(
    function setControls() {
        var position = getPosition();
        blockUpdate = true;
        for (var i = 0; i < sliders.length; i++) {
            sliders[i].value = filter.getDouble(sliderParameters[i], position) * sliderScales[i];
            keyframesButtons[i].checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(sliderParameters[i]) > 0;
        }
        for (i = 0; i < combos.length; i++)
            combos[i].currentIndex = Math.max(0, combos[i].find(filter.get(comboParameters[i])));
        for (i = 0; i < checks.length; i++)
            checks[i].checked = filter.getDouble(checkParameters[i]) >= 0.5;
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        for (var i = 0; i < sliders.length; i++)
            sliders[i].enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setControls();
        for (var i = 0; i < sliders.length; i++)
            updateFilter(sliderParameters[i], sliders[i].value / sliderScales[i], keyframesButtons[i], null);
    }

    width: 420
    height: layout.implicitHeight + 16
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < sliderParameters.length; i++)
                filter.set(sliderParameters[i], sliderDefaults[i]);
            for (i = 0; i < comboParameters.length; i++)
                filter.set(comboParameters[i], comboDefaults[i]);
            for (i = 0; i < checkParameters.length; i++)
                filter.set(checkParameters[i], checkDefaults[i]);
            filter.savePreset(preset.parameters);
        }
        setControls();
    }
)";

constexpr std::string_view QML_PRESET = R"(
    GridLayout {
        id: layout

        anchors.fill: parent
        anchors.margins: 8
        columns: 4

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            id: preset

            parameters: sliderParameters.concat(comboParameters, checkParameters)
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

)";

constexpr std::string_view QML_CONNECTIONS = R"(        Item {
            Layout.fillHeight: true
        }

    }

    Connections {
        function onChanged() {
            setControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged(name) {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }

}
)";

}  // namespace

std::string shotcut_ui() {
    const std::vector<EditorControl> controls = editor_controls();
    std::string rows;
    for (const EditorControl& c : controls) {
        if (c.opens_group) rows += qml_heading(c.group);
        const ParamRow& row = *c.row;
        rows += row.kind == PF_Param_FLOAT_SLIDER ? qml_slider(row)
                : row.kind == PF_Param_POPUP      ? qml_combo(row)
                                                  : qml_check(row);
    }
    return "// Written by `lumatrail params --shotcut-ui` (`make docs`) from the effect's parameter table.\n"
           "// Sliders show units; each property holds the frei0r value, the shown value / its scale.\n"
           "import QtQuick 2.12\nimport QtQuick.Controls 2.12\nimport QtQuick.Layouts 1.12\n"
           "import Shotcut.Controls 1.0 as Shotcut\n\nShotcut.KeyframableFilter {\n" +
           qml_properties(qml_lists(controls)) + std::string(QML_FUNCTIONS) + std::string(QML_PRESET) + rows +
           std::string(QML_CONNECTIONS);
}

std::string kdenlive_effect() {
    std::string text =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n"
        "<!-- Written by `lumatrail params` (`make docs`) from the effect's parameter table. "
        "Sliders show units; the property holds the frei0r value, the shown value / factor. -->\n";
    text +=
        "<effect" + attribute("tag", SERVICE) + attribute("id", SERVICE) + attribute("type", "video") + ">\n";
    text += "    <name>" + xml_text(EFFECT_IDENTITY.display_name) + "</name>\n";
    text += "    <description>" + xml_text(offline::FREI0R_SUMMARY) + "</description>\n";
    text += "    <author>" + xml_text(EFFECT_IDENTITY.category) + "</author>\n";
    for (const EditorControl& c : editor_controls()) text += kdenlive_parameter(c);
    return text + "</effect>\n";
}

std::string shotcut_meta() {
    std::string parameters;
    std::vector<std::string_view> animated;
    for (const EditorControl& c : editor_controls()) {
        const ParamRow& row = *c.row;
        if (row.kind != PF_Param_FLOAT_SLIDER) continue;
        const offline::EditorRange range = editor_range(row);
        parameters +=
            std::string(parameters.empty() ? "" : ",\n") + "            Parameter {\n" +
            "                name: " + js_string(row.ui_name) + "\n" +
            "                property: " + js_string(row.ui_name) + "\n" + "                isCurve: true\n" +
            "                minimum: " + frei0r_number(row, float(range.low)) + "\n" +
            "                maximum: " + frei0r_number(row, float(range.high)) + "\n" + "            }";
        animated.push_back(row.ui_name);
    }
    std::string simple;
    for (const std::string_view name : animated) simple += (simple.empty() ? "" : ", ") + js_string(name);
    return "// Written by `lumatrail params --shotcut-meta` (`make docs`) from the effect's parameter "
           "table.\n"
           "// The keyframes panel shows the frei0r values the properties hold (units / scale).\n"
           "import QtQuick 2.0\nimport org.shotcut.qml 1.0\n\nMetadata {\n"
           "    type: Metadata.Filter\n"
           "    name: " +
           js_string(EFFECT_IDENTITY.display_name) +
           "\n    keywords: " + js_string("streaks pixel sorting particles force lines glitch lumatrail") +
           "\n    mlt_service: " + js_string(SERVICE) +
           "\n    qml: 'ui.qml'\n\n    keyframes {\n"
           "        allowAnimateIn: true\n        allowAnimateOut: true\n"
           "        simpleProperties: [" +
           simple + "]\n        parameters: [\n" + parameters + "\n        ]\n    }\n}\n";
}

}  // namespace lumatrail::tools
