// Setting the effect's parameters from text, as users type them: by UI name
// ("Streak Length (px)") or its slug ("streak-length-px"); popups by choice
// text, its slug or its number; checkboxes on/off.
#pragma once

#include <string>
#include <string_view>

#include "offline/offline_host.h"

namespace lumatrail::offline {

// "Streak Length (px)" -> "streak-length-px".
std::string slug(std::string_view text);

// The text cut to at most `limit` bytes, at a character boundary, and "..."
// when cut: a message quoting what a user gave stays readable whatever its
// size.
std::string excerpt(std::string_view text, std::size_t limit = 60);

// The parameter's index; throws std::invalid_argument naming the closest
// parameter when nothing matches.
std::int32_t find_parameter(const OfflineHost& host, std::string_view name);

// The numeric value for the parameter's host record; throws
// std::invalid_argument saying what the parameter accepts.
double parse_value(const OfflineParam& param, std::string_view text);

// "NAME=VALUE": parses and sets (checked against the valid range).
void apply_setting(OfflineHost& host, std::string_view assignment);

}  // namespace lumatrail::offline
