#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "surface/image.h"

namespace quorvant {

// The part of `image` from (0, 0) to (width, height), clipped to the image,
// as an 8-bit RGB PNG file. The image's colours are 0x00BBGGRR.
std::vector<std::uint8_t> EncodePng(const Image& image, int width, int height);

// Writes `bytes` to `path`, replacing what was there.
Status WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace quorvant
