#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace quorvant {

// First-in first-out queue between the thread that receives input and the
// thread that handles it. Keys and clicks queue up instead of overwriting
// each other: a lost character of a hidden key would encrypt a file with a
// key nobody knows.
//
// It holds only a few items: the window side takes an event from the window
// system's own queue only while this one is not Full, so what does not fit
// waits there, in order, and is never lost; and a key held down cannot
// pile up thousands of repeats here that act long after it was released.
// One event may give several items (a text of several characters): Push
// never refuses, the bound is kept by whoever takes the events.
template <typename T>
class InputQueue {
 public:
  static constexpr std::size_t Capacity = 4;

  void Push(T item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
  }

  // No room for another event: the window side leaves the next one where it is.
  bool Full() const {
    std::lock_guard lock(mutex_);
    return items_.size() >= Capacity;
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
  }

  std::optional<T> Pop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  bool Empty() const {
    std::lock_guard lock(mutex_);
    return items_.empty();
  }

 private:
  mutable std::mutex mutex_;
  std::deque<T> items_;
};

}  // namespace quorvant
