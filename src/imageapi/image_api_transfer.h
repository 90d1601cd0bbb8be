#pragma once

// One HTTP exchange of the image service client (a generation request, a task
// poll, a result download, the model list): the shared HTTP layer with the
// client's byte limit and messages, and a single exit, finish(), through which
// the completion runs exactly once. Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "core/failure.h"
#include "core/http/http_transfer.h"

namespace glimmet {

inline constexpr const char* kImageAPICancelledMessage =
    "任务已取消。服务商可能已开始处理，请在服务商账户查看用量。";

// A network error, kept with its meaning so that polling can tell a passing
// outage from a lasting one.
struct ImageAPINetworkFailure {
  NetworkProblem code = NetworkProblem::unknown;

  // The user-facing message: time-outs ask to check with the provider before
  // retrying, every other problem to check the network, address and certificate.
  std::string errorDescription() const;
};

// The body and response, a network failure, or a failure with its message.
using ImageAPIOutcome = std::variant<HttpResponse, ImageAPINetworkFailure, LocalAgentFailure>;

class ImageAPITransfer : public std::enable_shared_from_this<ImageAPITransfer> {
 public:
  using Completion = std::function<void(ImageAPIOutcome)>;

  // Starts `request` at once on a session like `configuration` but with the
  // client's own session time-outs. The completion runs on the main thread.
  static std::shared_ptr<ImageAPITransfer> start(HttpRequest request, std::size_t limit,
                                                 HttpSessionConfiguration configuration,
                                                 Completion completion);

  // The single exit: the first call stops the exchange and runs the
  // completion with `outcome`; later calls do nothing.
  void finish(ImageAPIOutcome outcome);
  // Finishes with the cancellation message.
  void cancel();

  explicit ImageAPITransfer(Completion completion) : completion_(std::move(completion)) {}

 private:
  std::shared_ptr<HttpTransfer> http_;
  bool finished_ = false;
  Completion completion_;
};

}  // namespace glimmet
