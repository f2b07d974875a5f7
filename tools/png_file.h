#pragma once

#include <string>

#include "base/result.h"
#include "surface/image.h"

namespace quorvant {

// Writes the part of `image` from (0, 0) to (width, height), clipped to the
// image, to `path` as an 8-bit RGB PNG file, replacing what was there. The
// image's colours are 0x00BBGGRR.
Status WritePng(const Image& image, int width, int height, const std::string& path);

}  // namespace quorvant
