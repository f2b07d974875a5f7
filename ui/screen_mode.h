#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvant {

// What the screen is doing, which decides what a key or a click means. The
// mode is never told apart by its caption: the caption is only what is shown.
enum class ScreenMode {
  Scroll,      // browsing the list
  Key,         // typing the key
  Erasing,     // the erase prompt and the erase it leads to
  Encrypting,  // a run on a plain file
  Decrypting,  // a run on an encrypted file
  Statistics,  // the statistics screen
};

// The caption of each mode, in the enum's order; the file run and the erase
// print theirs at the start of the status band.
constexpr std::array<std::string_view, 6> ScreenModeCaptions = {
    "scroll",      // Scroll
    "the key",     // Key
    "Erasing ",    // Erasing
    "Encrypting",  // Encrypting
    "Decrypting",  // Decrypting
    "statistics",  // Statistics
};

constexpr std::string_view Caption(ScreenMode mode) {
  return ScreenModeCaptions[static_cast<std::size_t>(mode)];
}

}  // namespace quorvant
