#pragma once

#include <string.h>

#include <cstddef>
#include <span>

namespace quorvant {

// Overwrites key material so that it does not linger in memory; the compiler
// may not drop the write.
inline void Wipe(void* data, std::size_t size) {
  if (size != 0) explicit_bzero(data, size);
}

template <typename T, std::size_t N>
void Wipe(std::span<T, N> data) {
  Wipe(data.data(), data.size_bytes());
}

}  // namespace quorvant
