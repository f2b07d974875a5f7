#pragma once

#include <string.h>

#include <cstddef>
#include <span>
#include <string>

namespace quorvant {

// Overwrites key material so that it does not linger in memory; the compiler
// may not drop the write.
inline void Wipe(void* data, std::size_t size) { explicit_bzero(data, size); }

template <typename T, std::size_t N>
void Wipe(std::span<T, N> data) {
  explicit_bzero(data.data(), data.size_bytes());
}

inline void Wipe(std::string& text) {
  explicit_bzero(text.data(), text.size());
  text.clear();
}

}  // namespace quorvant
