#pragma once

// The key and encrypted-name suffix the file-run tests encrypt with.

#include <string>

#include "crypto/cipher.h"

namespace quorvant::testing {

inline constexpr char Key[] = "correct horse";
inline constexpr EncryptedSuffix Suffix = {' ', 'A', 'b', '3', '~', ' ', 'x', '!', '['};
inline const std::string SuffixText(Suffix.begin(), Suffix.end());

}  // namespace quorvant::testing
