// Still files checked for being whole where OpenImageIO's reader stays
// silent about a file cut short or damaged, and hands back a picture with
// its missing part grey or blank:
//   JPEG   an end-of-image marker after the last scan (the reader fills a
//          cut scan with grey and calls it a success);
//   TIFF   every strip or tile within the file and, compressed, decoding
//          without an error or a decoding warning (the strip reader drops
//          libtiff's errors); deflated data inflated to its end and
//          checksum, since libtiff stops once a strip is full;
//   Targa  the pixel data within the file, and a 2.0 extension area the
//          writer began followed by its footer (a file one byte short has
//          lost its footer, which the reader takes for an older file).
//   DPX    the size its header gives and the first element's pixel data
//          within the file (the reader fills the missing rows of 10- and
//          12-bit files with black).
// PNG files are read through libpng itself (png_read.h); the OpenEXR, HDR, BMP and
// WebP readers refuse such files themselves. Nothing is allocated from a
// size a file claims before the size is checked against the file.
#pragma once

#include <optional>
#include <string>

namespace lumatrail::tools {

// Nothing when the file is whole as far as its format's check goes (or the
// format needs none); otherwise what is wrong, as text to follow
// "cannot read "name": ". The format is the library's name for the reader
// that opened the file ("jpeg", "tiff", "targa").
std::optional<std::string> whole_file_problem(const std::string& path, const std::string& format);

}  // namespace lumatrail::tools
