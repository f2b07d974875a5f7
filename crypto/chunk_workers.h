#pragma once

// A few threads that share out the parts of one batch of independent work:
// the strong format's chunks, each of which is opened or sealed on its own.
// The caller hands out a batch, may do something else meanwhile (read the
// next piece of the file), then joins in: it does every part no thread has
// begun and waits for the rest. Which thread did a part changes nothing in
// what the parts produce, so a caller that keeps each part's result in its
// own place and reads them in order gets the result of one thread.
//
// The threads take no signal meant for the process, so a program that reads
// its signals through a signalfd (or handles them on its main thread) sees
// them as if the threads did not exist.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quorvant {

class ChunkWorkers {
 public:
  // Starts `helpers` threads; those that cannot be started leave their share
  // to the caller's thread: slower, never wrong. 0: everything on the caller.
  explicit ChunkWorkers(unsigned helpers);
  // The batch handed out last must be finished.
  ~ChunkWorkers();
  ChunkWorkers(const ChunkWorkers&) = delete;
  ChunkWorkers& operator=(const ChunkWorkers&) = delete;

  // The threads actually running.
  unsigned Helpers() const { return static_cast<unsigned>(threads_.size()); }

  // Hands out part(0) .. part(count - 1) and returns at once. `part` is
  // called on any thread, each index once, and must not throw; it and what
  // it touches must stay until Finish returns. The batch before must be
  // finished.
  void Start(std::size_t count, std::function<void(std::size_t part)> part);
  // Does on the caller's thread every part not begun, then waits for the
  // others: when it returns, every part of the batch is done and everything
  // they wrote is seen by the caller.
  void Finish();
  void Run(std::size_t count, std::function<void(std::size_t part)> part) {
    Start(count, std::move(part));
    Finish();
  }

  // Helpers for work that the caller's thread does not share: one for each
  // core this process may run on but the caller's.
  static unsigned BesideCaller();
  // Helpers for work while the caller's thread mostly waits on the disk: one
  // for each core.
  static unsigned WhileCallerReads();

 private:
  void Serve();
  // Runs parts while some are not begun; the lock is held on entry and exit.
  void TakeParts(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable work_;      // a batch was handed out, or the threads are to end
  std::condition_variable finished_;  // the last part of a batch was done
  // The batch, all under mutex_.
  std::function<void(std::size_t)> part_;
  std::size_t count_ = 0;
  std::size_t next_ = 0;  // the first part not begun
  std::size_t done_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quorvant
