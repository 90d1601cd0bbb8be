#pragma once

// The error value of cloud operations. The page relies on its shape: failures
// of this subsystem carry the domain "Glimmet.Cloud" and code 1; network and
// JSON failures are passed on in their own domains, with their own codes.
// Every kind carries the user-facing message the page shows.

#include <string>
#include <utility>
#include <variant>

#include "core/http/network_problem.h"
#include "core/json.h"

namespace glimmet {

struct CloudError {
  std::string domain;
  int code = 0;
  std::string message;

  bool operator==(const CloudError&) const = default;
};

inline constexpr const char* kCloudErrorDomain = "Glimmet.Cloud";
inline constexpr const char* kNetworkErrorDomain = "Glimmet.Network";
inline constexpr const char* kJsonErrorDomain = "Glimmet.JSON";
inline constexpr int kCloudErrorCode = 1;
// The code data that is not valid JSON carries in the JSON domain.
inline constexpr int kJsonErrorCode = 3840;

// A failure of this subsystem with `message`.
CloudError cloudFailure(std::string message);
// A transport failure, with the network problem as its code.
CloudError networkFailure(NetworkProblem problem);
// Data that should have been JSON and is not.
CloudError jsonFailure();

// A value or the error that prevented it; completions receive it on any thread.
template <typename T>
class CloudResult {
 public:
  CloudResult(T value) : state_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  CloudResult(CloudError error)
      : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  // Precondition: ok().
  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }

  // Precondition: !ok().
  const CloudError& error() const { return std::get<CloudError>(state_); }

 private:
  std::variant<T, CloudError> state_;
};

}  // namespace glimmet
