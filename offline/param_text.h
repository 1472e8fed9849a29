// A parameter as text, for the reports the tools print of what the effect
// declares: a number as the tools write it, a parameter's default and its
// choices. One writer, so that every tool says the same value the same way.
#pragma once

#include <string>
#include <string_view>

#include "offline/offline_host.h"

namespace lumatrail::offline {

// A declared value to the precision the host keeps it: "%.7g" ("640", "0.5",
// "1e+06").
std::string number_text(double value);

// The declared default: a slider's number, a popup's choice, "on" or "off"
// for a checkbox, "none" for a layer; empty for a group's start or end.
std::string default_text(const OfflineParam& param);

// A popup's choices in order, joined by `separator`, and the last two by
// `last_separator` ("A, B or C").
std::string choices_text(const OfflineParam& param, std::string_view separator,
                         std::string_view last_separator);
inline std::string choices_text(const OfflineParam& param, std::string_view separator) {
    return choices_text(param, separator, separator);
}

}  // namespace lumatrail::offline
