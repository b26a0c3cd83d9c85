#pragma once

#include <utility>
#include <variant>

#include "platform/status.h"

namespace qu {

// A value, or the Status that explains why there is none.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}            // NOLINT(google-explicit-constructor)
  Result(Status error) : state_(std::move(error)) {}       // NOLINT(google-explicit-constructor)

  bool hasValue() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return hasValue(); }
  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  // REQUIRES: !hasValue()
  const Status& error() const { return std::get<Status>(state_); }

 private:
  std::variant<T, Status> state_;
};

}  // namespace qu
