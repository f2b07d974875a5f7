#pragma once

// The chunk loop of a file run's window: each chunk is read, transformed
// block by block and written, in file order. With two cores, the cipher turns
// one chunk on a thread of its own while the caller's thread reads the next
// one. Everything else stays on the caller's thread and in the order a
// single thread gives it: every call through the system-call seam, every
// progress step, every write, and the point at which a failure is reported.
// The cipher still takes the chunks strictly one after another, in file
// order, as a cipher may carry its state from block to block.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "rewrite/journal_format.h"

namespace quorvant {

// Where the cipher of a file run works.
enum class CipherThread {
  Auto,    // a thread of its own when the process may run on two cores or more
  Caller,  // the caller's thread, between its reads and writes
  Own,     // a thread of its own
};

// What turns a loop's chunks: given each chunk once, in file order, each a
// whole number of blocks but maybe the file's last. It may be called on the
// loop's own thread, but never while the caller's thread uses it.
class ChunkCipher {
 public:
  virtual ~ChunkCipher() = default;
  virtual void Turn(std::span<std::uint8_t> chunk) = 0;
};

// The caller's side of the chunk loop. Every step runs on the caller's thread.
class ChunkSteps {
 public:
  virtual ~ChunkSteps() = default;
  // Reads the chunk at file offset `at` into `chunk`.
  virtual Status Read(std::int64_t at, std::span<std::uint8_t> chunk) = 0;
  // Asked once for each block, with its file offset, before the block is
  // transformed; Cancel stops the loop there.
  virtual ProgressAnswer Ask(std::int64_t at) = 0;
  // Writes the transformed chunk of file offset `at`.
  virtual Status Write(std::int64_t at, std::span<const std::uint8_t> chunk) = 0;
};

enum class ChunkLoopEnd { Done, Cancelled, ReadFailed, WriteFailed };

struct ChunkLoopResult {
  ChunkLoopEnd end = ChunkLoopEnd::Done;
  Error error;  // of the read or write that failed
};

class CipherWorker;

// Two chunk buffers and, where wanted, the cipher's thread; made once for a
// run, used by each of its windows in turn.
class ChunkPipeline {
 public:
  // Buffers for chunks of up to `chunk_capacity` bytes. A thread that cannot
  // be started leaves the cipher on the caller's thread: slower, never wrong.
  ChunkPipeline(std::size_t chunk_capacity, CipherThread placement);
  // Stops the thread; wipes the buffers, which held the file's data.
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  bool HasOwnThread() const { return worker_ != nullptr; }

  // The first `size` bytes of a buffer, for work between loops (reading an
  // image back from the journal).
  std::span<std::uint8_t> Buffer(std::size_t size);

  // Transforms [start, end) of the file in chunks of `chunk_length` bytes (a
  // multiple of `block_length`, at most the capacity; `start` is a block
  // boundary) with `cipher`, and adds each transformed chunk to `hash` in
  // file order. For each chunk, in order:
  //   its Read (a failure: ReadFailed);
  //   Ask for each of its blocks (Cancel: Cancelled);
  //   the cipher;
  //   its Write (a failure: WriteFailed).
  // With the cipher on a thread of its own, the next chunk's Read is made
  // while the cipher turns this one, so before this one's Write; a failed
  // read is reported only after that Write, where a loop of one thread
  // would have read. Every end is reached with the cipher's thread idle.
  ChunkLoopResult Run(std::int64_t start, std::int64_t end, std::int64_t chunk_length,
                      std::int32_t block_length, ChunkCipher& cipher, ImageHash& hash, ChunkSteps& steps);

 private:
  std::span<std::uint8_t> Buffer(int which, std::size_t size);

  const std::size_t capacity_;
  std::vector<std::uint8_t> buffers_;  // two chunks, one after the other
  std::unique_ptr<CipherWorker> worker_;
};

}  // namespace quorvant
