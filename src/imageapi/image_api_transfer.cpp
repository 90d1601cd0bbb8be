#include "imageapi/image_api_transfer.h"

#include "imageapi/image_api_constants.h"

namespace glimmet {
namespace {

ImageAPIOutcome outcomeOf(HttpOutcome outcome) {
  if (auto* response = std::get_if<HttpResponse>(&outcome)) return std::move(*response);
  const auto& failure = std::get<HttpFailure>(outcome);
  switch (failure.kind) {
    case HttpFailure::Kind::network:
      return ImageAPINetworkFailure{failure.problem};
    case HttpFailure::Kind::cancelled:
      return LocalAgentFailure(kImageAPICancelledMessage);
    case HttpFailure::Kind::declaredTooLarge:
      return LocalAgentFailure("服务商返回的内容过大或格式无效");
    case HttpFailure::Kind::bodyTooLarge:
      return LocalAgentFailure("服务商返回的内容超过大小限制");
    case HttpFailure::Kind::noResponse:
    case HttpFailure::Kind::sinkFailed:  // image requests never stream their body
      break;
  }
  return LocalAgentFailure("服务商没有返回响应");
}

}  // namespace

std::string ImageAPINetworkFailure::errorDescription() const {
  if (code == NetworkProblem::timedOut) {
    return "请求超时，请先到服务商确认是否已生成，再决定重试。";
  }
  return "无法连接服务商，请检查网络、服务地址和证书。";
}

std::shared_ptr<ImageAPITransfer> ImageAPITransfer::start(HttpRequest request, std::size_t limit,
                                                          HttpSessionConfiguration configuration,
                                                          Completion completion) {
  auto transfer = std::make_shared<ImageAPITransfer>(std::move(completion));
  configuration.requestTimeout = imageapi::kSessionTimeout;
  configuration.resourceTimeout = imageapi::kSessionTimeout;
  // The exchange holds the transfer until it reports, as a session holds its delegate.
  transfer->http_ = HttpTransfer::start(
      std::move(request), limit, configuration, MainQueue::shared(),
      [transfer](HttpOutcome outcome) { transfer->finish(outcomeOf(std::move(outcome))); });
  return transfer;
}

void ImageAPITransfer::finish(ImageAPIOutcome outcome) {
  if (finished_) return;
  finished_ = true;
  const auto self = shared_from_this();  // the completion may drop the last owner
  if (http_) http_->cancel();
  http_.reset();
  Completion completion = std::move(completion_);
  completion(std::move(outcome));
}

void ImageAPITransfer::cancel() { finish(LocalAgentFailure(kImageAPICancelledMessage)); }

}  // namespace glimmet
