// The description files the video editors built on MLT read for the frei0r
// filter (`lumatrail params --kdenlive`, `--shotcut-meta`, `--shotcut-ui`;
// committed under tools/frei0r/kdenlive and tools/frei0r/shotcut/lumatrail),
// written from the parameter table and the frei0r controls so that the names,
// ranges, defaults and units agree with the filter.
//
// Every control is named by its UI name, which is its frei0r parameter name
// and so the MLT property an editor sets. Sliders show units (px, %, degrees)
// and store the frei0r value, units / frei0r_scale(row): Kdenlive through its
// `factor`, Shotcut by dividing in the panel. Popups store the choice's text,
// checkboxes 0 or 1. No file sets `threads`.
#pragma once

#include <string>

namespace lumatrail::tools {

// Kdenlive's effect description (frei0r_lumatrail.xml): one keyframable
// `animated` parameter per slider, a `list` per popup, a `bool` per checkbox,
// in frei0r's order.
std::string kdenlive_effect();

// Shotcut's filter metadata (lumatrail/meta.qml): the service and the
// keyframable sliders with their ranges as frei0r values.
std::string shotcut_meta();

// Shotcut's filter panel (lumatrail/ui.qml): the controls under their group
// headings, sliders with keyframe buttons, combo boxes and check boxes.
std::string shotcut_ui();

}  // namespace lumatrail::tools
