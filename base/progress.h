#pragma once

#include <cstdint>
#include <functional>

namespace quorvant {

// What a long operation's progress step answers: go on, or stop (the user
// pressed Esc, or a signal asked to cancel).
enum class ProgressAnswer { Continue, Cancel };

// The progress step of every long file operation (transform, erase,
// statistics): `offset` is the file offset reached, `last_offset` the file's
// length minus one. Each operation says when it calls it.
using ProgressFunction = std::function<ProgressAnswer(std::int64_t offset, std::int64_t last_offset)>;

// Told once by an operation that changes a file, when its last block is
// written and the sync of the data to the disk begins: a sync can take
// seconds, during which no progress step comes. Not called when the run
// stops before that point.
using SyncStartFunction = std::function<void()>;

// ⌊100 × offset ÷ last_offset⌋, the percentage a progress display shows; 0
// when last_offset is 0 (a one-byte file) or below.
inline int ProgressPercent(std::int64_t offset, std::int64_t last_offset) {
  if (last_offset <= 0 || offset <= 0) return 0;
  return static_cast<int>(static_cast<__int128>(offset) * 100 / last_offset);
}

}  // namespace quorvant
