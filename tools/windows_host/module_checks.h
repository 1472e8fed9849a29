// Checks of what a loaded module answers, against the effect's own identity
// and parameter table. Each returns the problems it found, one sentence each;
// an empty list means the module answered as it should. They are free of any
// platform's loader, so the Windows test host uses them on a module loaded
// under wine and the native tests prove they catch wrong answers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/host_contract.h"
#include "offline/offline_host.h"
#include "offline/plugin_module.h"

namespace lumatrail::tools {

using Problems = std::vector<std::string>;

// The property list resource read from the module against PROPERTY_LIST:
// the first different byte, and a length mismatch.
Problems property_list_problems(std::span<const std::uint8_t> resource);

// The values passed to the registration callback against the identity.
Problems registration_problems(const offline::Registration& registration);

// About (command 0): the About text, zero-terminated, in return_msg.
Problems about_problems(const PF_OutData& out_data);

// Global setup (command 1): the packed version and both capability words.
Problems global_setup_problems(const PF_OutData& out_data);

// Parameter setup (command 4) as the offline host recorded it: the input layer
// and then one parameter per row of the table, in order, with the row's kind,
// name, defaults, ranges and choices.
Problems parameter_problems(const offline::OfflineHost& host);

}  // namespace lumatrail::tools
