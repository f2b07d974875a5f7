#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "base/verify.h"

namespace quorvant {

// A failed system call: errno and what was being done ("read report.txt").
struct Error {
  int code = 0;
  std::string action;
  // What the refusal counted, where it is a count (the names, or hard
  // links, of a file that has too many); 0 otherwise. Words that show the
  // number read it here, never from the action's text.
  std::int64_t count = 0;

  // "read report.txt: Permission denied"
  std::string Describe() const;

  static Error FromErrno(std::string action) { return Error{errno, std::move(action)}; }
};

// A value, or what went wrong instead: an Error, or a richer failure (a
// file run's Failure carries its outcome too).
template <typename T, typename E = Error>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(E error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() {
    Verify(ok());
    return std::get<0>(state_);
  }
  const T& value() const {
    Verify(ok());
    return std::get<0>(state_);
  }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const {
    Verify(!ok());
    return std::get<1>(state_);
  }

 private:
  std::variant<T, E> state_;
};

template <typename E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const E& error() const {
    Verify(failed_);
    return error_;
  }

 private:
  E error_;
  bool failed_ = false;
};

using Status = Result<void>;

// Returns from the calling function with the failure of `expression` (a
// Result) when it failed; goes on otherwise:
//   QUORVANT_TRY(Rename(to));
#define QUORVANT_TRY(expression)                                           \
  do {                                                                     \
    if (auto quorvant_try_result = (expression); !quorvant_try_result) {   \
      return quorvant_try_result.error();                                  \
    }                                                                      \
  } while (false)

}  // namespace quorvant
