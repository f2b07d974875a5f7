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
// key nobody knows. The bound only guards against a runaway producer; no
// person types or clicks that far ahead.
template <typename T>
class InputQueue {
 public:
  static constexpr std::size_t Capacity = 4096;

  // Returns false when the queue is full and the item was refused.
  bool Push(T item) {
    std::lock_guard lock(mutex_);
    if (items_.size() >= Capacity) return false;
    items_.push_back(std::move(item));
    return true;
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
