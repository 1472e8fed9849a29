// PNG files checked before OpenImageIO decodes them.
//
// The library hands PNG files to libpng with an error handler that returns,
// so libpng prints each error on stderr itself before giving up; and on a
// file cut short the library leaks the message it passes to libpng. A file
// this check passes gives libpng nothing to complain about: every chunk it
// reads lies within the file and is intact, and the image data inflates to
// every row the header promises.
#pragma once

#include <optional>
#include <string>

namespace lumatrail::tools {

enum class PngScope {
    header,  // the chunks libpng reads to open the file: everything before the image data
    whole,   // every chunk, and the image data inflated
};

// Nothing when the file does not start with the PNG signature, or when it is
// sound as far as the scope goes; otherwise what is wrong with it, as text
// to follow "cannot read "name": " ("the file is cut short in its IDAT chunk").
std::optional<std::string> png_problem(const std::string& path, PngScope scope);

}  // namespace lumatrail::tools
