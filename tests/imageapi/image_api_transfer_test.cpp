#include "imageapi/image_api_transfer.h"

#include <gtest/gtest.h>

#include "imageapi/custom_image_api.h"
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::Reply;
using testing::spinMainUntil;
using testing::TestHttpsService;

constexpr std::size_t kLimit = 1000;

class ImageAPITransferTest : public ::testing::Test {
 protected:
  HttpSessionConfiguration session(const TestHttpsService& trusted) const {
    HttpSessionConfiguration configuration;
    configuration.trustedCAFile = trusted.caFile();
    configuration.connectTo = {service.connectTo("api.example.com")};
    return configuration;
  }

  std::shared_ptr<ImageAPITransfer> start(const std::string& path) {
    return startTrusting(service, path);
  }

  std::shared_ptr<ImageAPITransfer> startTrusting(const TestHttpsService& trusted,
                                                  const std::string& path) {
    HttpRequest request;
    request.url = "https://api.example.com" + path;
    request.timeout = std::chrono::seconds(1);
    return ImageAPITransfer::start(
        request, kLimit, session(trusted),
        [this](ImageAPIOutcome outcome) { outcomes.push_back(std::move(outcome)); });
  }

  // The one outcome, after waiting a little longer for any second one.
  const ImageAPIOutcome& only() {
    EXPECT_TRUE(spinMainUntil([&] { return !outcomes.empty(); }));
    spinMainUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(outcomes.size(), 1u);
    return outcomes.front();
  }

  std::string message() { return CustomImageAPI::checked(only()).failure().message(); }

  TestHttpsService service;
  std::vector<ImageAPIOutcome> outcomes;
};

TEST_F(ImageAPITransferTest, AcceptsExactlyTheLimitAndRefusesOneByteMore) {
  Reply exact = Reply::with(200, std::string(kLimit, 'a'));
  Reply streamedExact = exact;
  streamedExact.chunked = true;
  Reply streamedOver = Reply::with(200, std::string(kLimit + 1, 'b'));
  streamedOver.chunked = true;
  // One body byte, then the connection drops: only a refusal on the declared
  // length, before the body, reports the size rather than a lost connection.
  Reply declaredOver = Reply::with(200, "x");
  declaredOver.declaredLength = kLimit + 1;
  service.route("GET", "/exact", exact);
  service.route("GET", "/streamed-exact", streamedExact);
  service.route("GET", "/streamed-over", streamedOver);
  service.route("GET", "/declared-over", declaredOver);

  for (const char* path : {"/exact", "/streamed-exact"}) {
    outcomes.clear();
    start(path);
    EXPECT_EQ(CustomImageAPI::checked(only()).value().size(), kLimit) << path;
  }
  const std::pair<const char*, const char*> refusals[] = {
      {"/streamed-over", "服务商返回的内容超过大小限制"},
      {"/declared-over", "服务商返回的内容过大或格式无效"}};
  for (const auto& [path, expected] : refusals) {
    outcomes.clear();
    start(path);
    EXPECT_EQ(message(), expected) << path;
  }
}

TEST_F(ImageAPITransferTest, ClassifiesEveryStatus) {
  const std::vector<std::pair<int, std::string>> rows = {
      {302, "服务要求重定向，请配置最终 HTTPS 地址"},
      {401, "API Key 无效或没有模型权限"},
      {403, "API Key 无效或没有模型权限"},
      {402, "服务商账户额度不足"},
      {404, "服务地址或模型不存在，请检查 Base URL 与模型名"},
      {429, "服务商请求过于频繁，请稍后重试"},
      {418, "服务商拒绝请求（HTTP 418），请检查图片模型和接口兼容性"},
  };
  for (const auto& [status, expected] : rows) {
    service.route("GET", "/status",
                  Reply::with(status, "{}", {{"Location", "https://elsewhere/"}}));
    outcomes.clear();
    start("/status");
    EXPECT_EQ(message(), expected) << status;
  }
  service.route("GET", "/status", Reply::with(204, ""));
  outcomes.clear();
  start("/status");
  EXPECT_TRUE(CustomImageAPI::checked(only()).ok());
}

TEST_F(ImageAPITransferTest, MapsNetworkFailuresToTheirMessagesAndPollingClasses) {
  Reply stalled = Reply::with(200, "{}");
  stalled.delay = std::chrono::seconds(10);
  service.route("GET", "/stalled", stalled);
  Reply dropped = Reply::with(200, "x");
  dropped.declaredLength = 10;
  service.route("GET", "/dropped", dropped);
  TestHttpsService stranger;

  start("/stalled");
  EXPECT_EQ(message(), "请求超时，请先到服务商确认是否已生成，再决定重试。");
  EXPECT_TRUE(CustomImageAPI::retryablePoll(outcomes.front()));

  outcomes.clear();
  start("/dropped");
  EXPECT_EQ(std::get<ImageAPINetworkFailure>(only()).code, NetworkProblem::networkConnectionLost);
  EXPECT_TRUE(CustomImageAPI::retryablePoll(outcomes.front()));

  outcomes.clear();
  startTrusting(stranger, "/any");  // a certificate from a CA the session does not trust
  EXPECT_EQ(message(), "无法连接服务商，请检查网络、服务地址和证书。");
  EXPECT_FALSE(CustomImageAPI::retryablePoll(outcomes.front()));
}

TEST_F(ImageAPITransferTest, CancelReportsOnceAndLateCancelChangesNothing) {
  Reply slow = Reply::with(200, "{}");
  slow.delay = std::chrono::seconds(10);
  service.route("GET", "/slow", slow);
  service.route("GET", "/fast", Reply::with(200, "{}"));

  const auto loading = start("/slow");
  ASSERT_TRUE(spinMainUntil([&] { return !service.requests().empty(); }));
  loading->cancel();
  loading->cancel();
  EXPECT_EQ(message(), kImageAPICancelledMessage);

  outcomes.clear();
  const auto done = start("/fast");
  ASSERT_TRUE(CustomImageAPI::checked(only()).ok());
  done->cancel();
  EXPECT_EQ(outcomes.size(), 1u);
  EXPECT_TRUE(CustomImageAPI::checked(outcomes.front()).ok());
}

}  // namespace
}  // namespace glimmet
