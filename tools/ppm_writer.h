// Writing a rendered world as a binary PPM: the premultiplied colour, which
// is the picture over black, at 8 bits per channel.
#pragma once

#include <string>

#include "offline/offline_world.h"

namespace lumatrail::tools {

// Writes through a temporary file renamed into place, so a failed write
// leaves no half-written file. Throws std::runtime_error saying what failed.
void write_ppm(const offline::OfflineWorld& world, const std::string& path);

}  // namespace lumatrail::tools
