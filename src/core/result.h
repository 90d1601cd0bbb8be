#pragma once

// A value or the failure that prevented it: what completions receive, so that
// errors travel between threads as plain values. The failure is the program's
// one error record unless a subsystem's callers rely on another shape.

#include <exception>
#include <functional>
#include <type_traits>
#include <utility>
#include <variant>

#include "core/failure.h"

namespace glimmet {

template <typename T, typename Failure = LocalAgentFailure>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(Failure failure)                        // NOLINT(google-explicit-constructor)
      : state_(std::move(failure)) {}

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  // Precondition: ok().
  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }

  // Precondition: !ok().
  const Failure& failure() const { return std::get<Failure>(state_); }

  // The value, or the failure thrown again on the calling thread.
  T take() && {
    if (!ok()) throw failure();
    return std::get<T>(std::move(state_));
  }

 private:
  std::variant<T, Failure> state_;
};

struct Unit {};

// Runs `work` and turns a thrown LocalAgentFailure into a failed Result. Any other
// exception is a programming error and is not caught.
template <typename F>
auto resultOf(F&& work) -> Result<
    std::conditional_t<std::is_void_v<std::invoke_result_t<F>>, Unit, std::invoke_result_t<F>>> {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
      std::forward<F>(work)();
      return Unit{};
    } else {
      return std::forward<F>(work)();
    }
  } catch (const LocalAgentFailure& failure) {
    return failure;
  }
}

}  // namespace glimmet
