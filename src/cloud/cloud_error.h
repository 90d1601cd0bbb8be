#pragma once

// The error value of cloud operations. The page relies on its shape: failures
// of this subsystem carry the domain "Glimmet.Cloud" and code 1; network and
// JSON failures are passed on in their own domains, with their own codes.
// Every kind carries the user-facing message the page shows.

#include <string>

#include "core/http/network_problem.h"
#include "core/json.h"
#include "core/result.h"

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

// A value or the cloud error that prevented it; completions receive it on any thread.
template <typename T>
using CloudResult = Result<T, CloudError>;

}  // namespace glimmet
