// A value or the failure that stands in its place. Phases return these, and
// a caller passes a failure on unchanged:
//   Result<Form> form = ReadForm(...);
//   if (!form) return form.failure();
#pragma once

#include <utility>
#include <variant>

#include "model/failure.hpp"

namespace veltrano {

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Failure failure) : state_(std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Failure& failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// The result of a step that yields nothing but may fail.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failure_(std::move(failure)), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Failure& failure() const { return failure_; }

 private:
  Failure failure_{};
  bool ok_ = true;
};

using Status = Result<void>;

}  // namespace veltrano
