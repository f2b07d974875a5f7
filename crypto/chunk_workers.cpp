#include "crypto/chunk_workers.h"

#include <pthread.h>
#include <signal.h>

#include <initializer_list>
#include <system_error>

#include "base/usable_cores.h"
#include "base/verify.h"

namespace quorvant {

ChunkWorkers::ChunkWorkers(unsigned helpers) {
  // The threads inherit the mask they are started under: every signal
  // blocked but the faults their own code may raise, which must still end
  // the process.
  sigset_t signals, previous;
  sigfillset(&signals);
  for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
    sigdelset(&signals, fault);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  for (unsigned helper = 0; helper < helpers; ++helper) {
    try {
      threads_.emplace_back([this] { Serve(); });
    } catch (const std::system_error&) {
      break;
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ChunkWorkers::~ChunkWorkers() {
  {
    const std::lock_guard lock(mutex_);
    Verify(done_ == count_);
    stopping_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ChunkWorkers::Start(std::size_t count, std::function<void(std::size_t part)> part) {
  {
    const std::lock_guard lock(mutex_);
    Verify(done_ == count_);
    part_ = std::move(part);
    count_ = count;
    next_ = 0;
    done_ = 0;
  }
  if (!threads_.empty()) work_.notify_all();
}

void ChunkWorkers::Finish() {
  std::unique_lock lock(mutex_);
  TakeParts(lock);
  finished_.wait(lock, [this] { return done_ == count_; });
}

void ChunkWorkers::TakeParts(std::unique_lock<std::mutex>& lock) {
  while (next_ < count_) {
    const std::size_t part = next_++;
    lock.unlock();
    // part_ changes only in Start, once every part of the batch is done.
    part_(part);
    lock.lock();
    if (++done_ == count_) finished_.notify_all();
  }
}

void ChunkWorkers::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stopping_ || next_ < count_; });
    if (stopping_) return;
    TakeParts(lock);
  }
}

unsigned ChunkWorkers::BesideCaller() { return UsableCores() - 1; }

unsigned ChunkWorkers::WhileCallerReads() { return UsableCores(); }

}  // namespace quorvant
