#include "rewrite/chunk_pipeline.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <system_error>
#include <thread>

#include "base/usable_cores.h"
#include "base/verify.h"
#include "base/wipe.h"

namespace quorvant {

namespace {

// One chunk's work for the cipher: pure computation on memory that the
// caller's thread leaves alone meanwhile.
struct CipherJob {
  std::span<std::uint8_t> chunk;
  ChunkCipher* cipher = nullptr;
  ImageHash* hash = nullptr;
};

void Transform(const CipherJob& job) { job.cipher->Turn(job.chunk); }

void Hash(const CipherJob& job) { job.hash->Add(job.chunk); }

// How long a thread that waits for the other one looks at the state word
// before it sleeps: some thousands of pauses, tens to hundreds of
// microseconds. Waking a sleeping thread takes about a tenth of a
// millisecond on a virtual machine, as long as the cipher takes for a
// chunk; the other thread is nearly always back sooner than that.
constexpr int SpinPauses = 8192;

// Tells the core that this thread is only looking at a word another writes.
inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

// The cipher's thread. The caller's thread offers it one job at a time. The
// thread transforms the chunk, then hashes it while the caller's thread may
// already write it (both only read it then). A job the thread has not begun
// when the caller's thread needs it is taken back and done there, so a
// thread that is slow to wake, or has no core to run on, costs nothing.
//
// The state word hands the job, and the chunk, cipher and hash it points to,
// from one thread to the other: each side touches them only while the state
// gives them to it, and the word's release and acquire order every access
// of one side before those of the other.
class CipherWorker {
 public:
  // The thread takes no signal meant for the process: they go on reaching
  // the threads that handle them, as if this one did not exist. Throws
  // std::system_error when no thread can be started.
  CipherWorker() {
    sigset_t signals, previous;
    sigfillset(&signals);
    // Faults raised by the thread's own code must still end the process.
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
      sigdelset(&signals, fault);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    try {
      thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error&) {
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  ~CipherWorker() {
    Verify(state_.load(std::memory_order_relaxed) == State::Idle);
    state_.store(State::Stopping, std::memory_order_release);
    state_.notify_all();
    thread_.join();
  }
  CipherWorker(const CipherWorker&) = delete;
  CipherWorker& operator=(const CipherWorker&) = delete;

  // Caller's thread: offers a job; the thread must be idle.
  void Offer(const CipherJob& job) {
    Verify(state_.load(std::memory_order_relaxed) == State::Idle);
    job_ = job;
    state_.store(State::Offered, std::memory_order_release);
    state_.notify_all();
  }

  // Caller's thread: returns once the chunk offered is transformed (its hash
  // may still be in progress: the chunk may be read, not changed).
  void AwaitTransformed() {
    State state = State::Offered;
    if (state_.compare_exchange_strong(state, State::Idle, std::memory_order_acquire)) {
      // Not begun: taken back.
      Transform(job_);
      Hash(job_);
      return;
    }
    AwaitNot(State::Transforming);
  }

  // Caller's thread, leaving the loop early: a job not yet begun is not
  // wanted any more. (Waiting for it instead could find it still offered.)
  void Withdraw() {
    State state = State::Offered;
    state_.compare_exchange_strong(state, State::Idle, std::memory_order_acquire);
  }

  // Caller's thread: returns once the thread is idle, the job all done.
  void AwaitIdle() {
    for (State state = state_.load(std::memory_order_acquire); state != State::Idle;
         state = state_.load(std::memory_order_acquire)) {
      Verify(state == State::Transforming || state == State::Hashing);
      AwaitNot(state);
    }
  }

 private:
  enum class State {
    Idle,          // no job: the caller's thread owns everything
    Offered,       // a job waits; whichever thread takes it first does it
    Transforming,  // the cipher's thread transforms the chunk
    Hashing,       // the cipher's thread hashes it; the chunk may be read
    Stopping,      // the thread is to end
  };

  // Waits until the state is no longer `state`: a moment of looking, then sleep.
  void AwaitNot(State state) {
    for (int pause = 0; pause < SpinPauses; ++pause) {
      if (state_.load(std::memory_order_acquire) != state) return;
      Pause();
    }
    state_.wait(state, std::memory_order_acquire);
  }

  void Serve() {
    for (;;) {
      State state = state_.load(std::memory_order_acquire);
      if (state == State::Stopping) return;
      if (state != State::Offered) {
        AwaitNot(state);
        continue;
      }
      if (!state_.compare_exchange_strong(state, State::Transforming, std::memory_order_acquire)) continue;
      Transform(job_);
      state_.store(State::Hashing, std::memory_order_release);
      state_.notify_all();
      Hash(job_);
      state_.store(State::Idle, std::memory_order_release);
      state_.notify_all();
    }
  }

  std::atomic<State> state_{State::Idle};
  CipherJob job_;  // written by the caller's thread only while Idle
  std::thread thread_;
};

ChunkPipeline::ChunkPipeline(std::size_t chunk_capacity, CipherThread placement)
    : capacity_(chunk_capacity), buffers_(2 * chunk_capacity) {
  const bool own_thread =
      placement == CipherThread::Own || (placement == CipherThread::Auto && UsableCores() >= 2);
  if (!own_thread) return;
  try {
    worker_ = std::make_unique<CipherWorker>();
  } catch (const std::system_error&) {
    // No thread to be had: the cipher stays on the caller's thread.
  }
}

ChunkPipeline::~ChunkPipeline() {
  worker_.reset();
  Wipe(buffers_.data(), buffers_.size());
}

std::span<std::uint8_t> ChunkPipeline::Buffer(std::size_t size) { return Buffer(0, size); }

std::span<std::uint8_t> ChunkPipeline::Buffer(int which, std::size_t size) {
  Verify(size <= capacity_);
  return std::span(buffers_).subspan(static_cast<std::size_t>(which) * capacity_, size);
}

// With the cipher on the caller's thread, the loop is that of a single
// thread: read a chunk, ask for its blocks, transform, hash and write it,
// then the next. With a thread of its own, one thing changes: the read of
// chunk n + 1 is made while the cipher turns chunk n, before chunk n is
// written. A read changes nothing, and its failure is held back until chunk
// n is written, so what reaches the file and the journal, and where a run
// stops, is what one thread would give. The blocks of a chunk are all asked
// for before the cipher gets any of them, so a cancel still comes before
// its block is transformed.
//
// The buffers take turns: while the cipher turns (and then hashes) one, the
// other is read into; a buffer is read into again only after the thread is
// idle, its hash done.
ChunkLoopResult ChunkPipeline::Run(std::int64_t start, std::int64_t end, std::int64_t chunk_length,
                                   std::int32_t block_length, ChunkCipher& cipher, ImageHash& hash,
                                   ChunkSteps& steps) {
  Verify(block_length > 0 && chunk_length > 0 && chunk_length % block_length == 0);
  const auto size_at = [&](std::int64_t at) {
    return static_cast<std::size_t>(std::min(chunk_length, end - at));
  };
  // Every way out leaves the thread idle, owning nothing of the caller's.
  struct Settle {
    CipherWorker* worker;
    ~Settle() {
      if (worker == nullptr) return;
      worker->Withdraw();
      worker->AwaitIdle();
    }
  } settle{worker_.get()};

  int current = 0;
  Status read;
  for (std::int64_t at = start; at < end; at += chunk_length) {
    const std::span<std::uint8_t> chunk = Buffer(current, size_at(at));
    // With the thread, every chunk but the first was read ahead.
    if (!worker_ || at == start) read = steps.Read(at, chunk);
    if (!read) return {ChunkLoopEnd::ReadFailed, read.error()};
    for (std::size_t offset = 0; offset < chunk.size(); offset += static_cast<std::size_t>(block_length)) {
      if (steps.Ask(at + static_cast<std::int64_t>(offset)) == ProgressAnswer::Cancel) {
        return {ChunkLoopEnd::Cancelled, Error{}};
      }
    }
    const CipherJob job{chunk, &cipher, &hash};
    if (worker_) {
      // The previous chunk's hash is done before this chunk's begins, and
      // before the next read goes into the previous chunk's buffer.
      worker_->AwaitIdle();
      worker_->Offer(job);
      const std::int64_t next = at + chunk_length;
      current = 1 - current;
      if (next < end) read = steps.Read(next, Buffer(current, size_at(next)));
      worker_->AwaitTransformed();
    } else {
      Transform(job);
      Hash(job);
    }
    if (Status written = steps.Write(at, chunk); !written)
      return {ChunkLoopEnd::WriteFailed, written.error()};
  }
  return {};
}

}  // namespace quorvant
