#include "cloud/cloud_error.h"

namespace glimmet {

CloudError cloudFailure(std::string message) {
  return {kCloudErrorDomain, kCloudErrorCode, std::move(message)};
}

CloudError networkFailure(NetworkProblem problem) {
  const char* message = "网络连接失败，请检查网络后重试";
  switch (problem) {
    case NetworkProblem::timedOut:
      message = "请求超时，请稍后重试";
      break;
    case NetworkProblem::notConnectedToInternet:
      message = "似乎已断开与互联网的连接";
      break;
    case NetworkProblem::cannotFindHost:
    case NetworkProblem::dnsLookupFailed:
      message = "未能找到云端服务器";
      break;
    case NetworkProblem::secureConnectionFailed:
    case NetworkProblem::serverCertificateUntrusted:
      message = "无法与云端建立安全连接";
      break;
    default:
      break;
  }
  return {kNetworkErrorDomain, static_cast<int>(problem), message};
}

CloudError jsonFailure() { return {kJsonErrorDomain, kJsonErrorCode, kUnreadableJsonMessage}; }

}  // namespace glimmet
