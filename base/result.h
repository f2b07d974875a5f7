#pragma once

#include <cerrno>
#include <string>
#include <utility>
#include <variant>

#include "base/verify.h"

namespace quorvant {

// A failed system call: errno and what was being done ("read report.txt").
struct Error {
  int code = 0;
  std::string action;

  // "read report.txt: Permission denied"
  std::string Describe() const;

  static Error FromErrno(std::string action) { return Error{errno, std::move(action)}; }
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

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

  const Error& error() const {
    Verify(!ok());
    return std::get<1>(state_);
  }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    Verify(failed_);
    return error_;
  }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace quorvant
