#include <gtest/gtest.h>

#include "core/uuid.h"
#include "imageapi/custom_image_api.h"
#include "platform/headless/memory_secret_store.h"
#include "support/https/fake_image_services.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using namespace std::chrono_literals;
using testing::APIMartLikeService;
using testing::OpenAICompatibleService;
using testing::Reply;
using testing::spinMainUntil;
using testing::TempDir;
using testing::TestHttpsService;
using testing::testPNG;

constexpr const char* kCancelled = "任务已取消。服务商可能已开始处理，请在服务商账户查看用量。";
constexpr const char* kProviderFailed =
    "服务商确认任务失败或已取消，请到 API Mart 查看记录后重试。";
constexpr const char* kDeadline =
    "等待超时；服务商任务可能仍在生成。同一请求重试将继续查询已记录的 API Mart "
    "任务，请勿在服务商重复提交。";

const Json kRequest = {{"kind", "image"}, {"prompt", "a lighthouse"}, {"ratio", "1:1"}};

// One client over a defaults file, a keyring and a manual clock, talking to the
// loopback service under the real host names; the API Mart host and a result
// host are mapped to the same service.
class ImageGenerationTest : public ::testing::Test {
 protected:
  ImageGenerationTest() : defaults(dir / "defaults.json") { api = makeClient(); }

  std::unique_ptr<CustomImageAPI> makeClient() {
    HttpSessionConfiguration session;
    session.trustedCAFile = service.caFile();
    session.connectTo = {service.connectTo("api.example.com"), service.connectTo("api.apimart.ai"),
                         service.connectTo("cdn.example.net")};
    return std::make_unique<CustomImageAPI>(defaults, secrets, clock, session);
  }

  void configure(const std::string& base) {
    api->configure(Json{{"baseURL", base}, {"model", "gpt-image-1"}, {"key", "sk-test"}});
  }

  // Starts a generation whose result lands in `result`.
  void start(const Json& value = kRequest) {
    result.reset();
    api->generate(value, [this](Result<Json> outcome) {
      ASSERT_FALSE(result.has_value()) << "completion ran twice";
      result = std::move(outcome);
    });
  }

  Result<Json> awaitResult() {
    EXPECT_TRUE(spinMainUntil([&] { return result.has_value(); }));
    return std::move(*result);
  }

  std::string failure() {
    Result<Json> outcome = awaitResult();
    return outcome ? "(succeeded)" : outcome.failure().message();
  }

  // Waits until a poll is armed beside the deadline, then lets 4 s pass and
  // waits for that poll to be answered and handled.
  void nextPoll(APIMartLikeService& mart) {
    ASSERT_TRUE(spinMainUntil([&] { return clock.pendingCount() == 2; }));
    const int before = mart.polls();
    clock.advance(3999ms);
    ASSERT_EQ(mart.polls(), before) << "polled before 4 s";
    clock.advance(1ms);
    ASSERT_TRUE(spinMainUntil([&] { return mart.polls() == before + 1; }));
  }

  Json receipts() const { return api->pendingRequests(); }

  TestHttpsService service{{"api.example.com", "api.apimart.ai", "cdn.example.net"}};
  TempDir dir;
  DefaultsStore defaults;
  MemorySecretStore secrets;
  ManualClock clock;
  std::unique_ptr<CustomImageAPI> api;
  std::optional<Result<Json>> result;
};

TEST_F(ImageGenerationTest, InputRefusalsAnswerBeforeGenerateReturns) {
  configure("https://api.example.com/v1");
  const std::vector<std::pair<Json, std::string>> rows = {
      {Json::object(), "只支持图片生成，参考图片参数无效"},
      {Json{{"kind", "video"}, {"prompt", "x"}}, "只支持图片生成，参考图片参数无效"},
      {Json{{"kind", "image"}, {"mask", nullptr}}, "当前图片 API 不支持此模式或局部蒙版"},
  };
  for (const auto& [value, message] : rows) {
    start(value);
    ASSERT_TRUE(result.has_value()) << value;
    EXPECT_EQ(result->failure().message(), message) << value;
  }
  EXPECT_FALSE(api->running());
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(ImageGenerationTest, OpenAICompatibleAnswerBecomesTheResultDictionary) {
  OpenAICompatibleService openAI(service);
  openAI.answerWithBase64(testPNG(48, 32));
  configure("https://api.example.com/v1");

  start();
  start();  // a second generation while one runs
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->failure().message(), "已有请求正在进行");
  result.reset();

  Result<Json> outcome = awaitResult();
  ASSERT_TRUE(outcome) << outcome.failure().message();
  const Json& value = outcome.value();
  EXPECT_EQ(value["agent"], "custom-api");
  EXPECT_EQ(value["model"], "gpt-image-1");
  EXPECT_EQ(value["width"], 48);
  EXPECT_EQ(value["height"], 32);
  EXPECT_TRUE(value["image"].get<std::string>().starts_with("data:image/png;base64,iVBORw0KGgo"));
  const auto token = Uuid::parse(value["taskId"].get<std::string>());
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->string(), value["taskId"]);
  EXPECT_TRUE(api->status()["verified"]);
  EXPECT_FALSE(api->running());
  EXPECT_EQ(clock.pendingCount(), 0u) << "the deadline outlived the generation";

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/v1/images/generations");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-test");
}

TEST_F(ImageGenerationTest, ResultURLsAreFetchedOnlyOverHTTPSAndWithoutTheKey) {
  OpenAICompatibleService openAI(service);
  service.route("GET", "/results/a.png", Reply::with(200, testPNG(20, 10)));
  configure("https://api.example.com/v1");

  openAI.answerWithURL("http://cdn.example.net/results/a.png");
  start();
  EXPECT_EQ(failure(), "服务未返回可读取的 HTTPS 图片");
  EXPECT_EQ(service.requests().size(), 1u);
  EXPECT_FALSE(api->status()["verified"]);

  openAI.answerWithURL("https://cdn.example.net/results/a.png?sig=1");
  start();
  Result<Json> outcome = awaitResult();
  ASSERT_TRUE(outcome) << outcome.failure().message();
  EXPECT_EQ(outcome.value()["width"], 20);
  const auto download = service.requests().back();
  EXPECT_EQ(download.target, "/results/a.png?sig=1");
  EXPECT_EQ(download.header("Host"), "cdn.example.net");
  EXPECT_FALSE(download.header("Authorization").has_value());

  openAI.answerWith(Reply::with(200, R"({"data":[{"task_id":"task-9"}]})"));
  start();
  EXPECT_EQ(failure(), "该服务返回异步任务，当前仅接入 API Mart 的任务协议");
  EXPECT_EQ(clock.pendingCount(), 0u) << "a task of a non-API-Mart service was polled";
}

TEST_F(ImageGenerationTest, APIMartTaskIsPolledUntilItsImageArrives) {
  APIMartLikeService mart(service);
  mart.script({std::string("processing"), Reply::with(503, "{}"), Reply::with(429, "{}"),
               std::string("completed")});
  mart.resultURL("https://cdn.example.net/results/t.png");
  service.route("GET", "/results/t.png", Reply::with(200, testPNG(16, 16)));
  configure("https://api.apimart.ai/v1");

  start();
  ASSERT_TRUE(spinMainUntil([&] { return receipts().size() == 1; }));
  EXPECT_EQ(defaults.string("api.lastTask"), "task-1");
  EXPECT_EQ(defaults.string("api.lastTaskBase"), "https://api.apimart.ai/v1");
  for (int poll = 0; poll < 4; ++poll) nextPoll(mart);

  Result<Json> outcome = awaitResult();
  ASSERT_TRUE(outcome) << outcome.failure().message();
  EXPECT_EQ(outcome.value()["width"], 16);
  EXPECT_TRUE(receipts().empty());
  EXPECT_TRUE(api->status()["verified"]);
  const auto requests = service.requests();
  EXPECT_EQ(requests[1].path, "/v1/tasks/task-1");
  EXPECT_EQ(requests[1].header("Authorization"), "Bearer sk-test");
}

TEST_F(ImageGenerationTest, ReceiptSurvivesFailureCancellationAndRestart) {
  APIMartLikeService mart(service);
  mart.script({Reply::with(400, "{}")});
  configure("https://api.apimart.ai/v1");

  start();
  nextPoll(mart);
  EXPECT_EQ(failure(), "服务商拒绝请求（HTTP 400），请检查图片模型和接口兼容性");
  ASSERT_EQ(receipts().size(), 1u);

  // The same request resumes the paid task; a cancellation keeps the receipt.
  mart.script({std::string("running")});
  start();
  nextPoll(mart);
  EXPECT_TRUE(api->cancel());
  ASSERT_TRUE(result.has_value()) << "cancellation was not reported at once";
  EXPECT_EQ(result->failure().message(), kCancelled);
  EXPECT_FALSE(api->cancel());

  // After a restart, the same request still follows task-1, and a confirmed
  // failure releases it.
  api = makeClient();
  mart.script({std::string("canceled")});
  start();
  nextPoll(mart);
  EXPECT_EQ(failure(), kProviderFailed);
  EXPECT_TRUE(receipts().empty());
  EXPECT_EQ(mart.submissions(), 1);
  for (const auto& request : service.requests()) {
    if (request.method == "GET") {
      EXPECT_EQ(request.path, "/v1/tasks/task-1");
    }
  }

  // A different prompt is a different request and is submitted anew.
  mart.script({Reply::with(400, "{}")});
  Json other = kRequest;
  other["prompt"] = "a harbour";
  start(other);
  ASSERT_TRUE(spinMainUntil([&] { return mart.submissions() == 2; }));
}

TEST_F(ImageGenerationTest, DeadlineEndsTheGenerationAndNoPollFollowsIt) {
  APIMartLikeService mart(service);
  mart.script({Reply::with(503, "{}")});
  configure("https://api.apimart.ai/v1");

  start();
  nextPoll(mart);
  // The next poll goes out at 8 s; its transient answer is handled at 596 s,
  // which would arm a poll for exactly the deadline.
  ASSERT_TRUE(spinMainUntil([&] { return clock.pendingCount() == 2; }));
  clock.advance(592s);
  ASSERT_TRUE(spinMainUntil([&] { return mart.polls() == 2 && clock.pendingCount() == 2; }));
  clock.advance(4s);
  EXPECT_EQ(failure(), kDeadline);
  EXPECT_EQ(receipts().size(), 1u);
  EXPECT_EQ(clock.pendingCount(), 0u);
  spinMainUntil([] { return false; }, 200ms);
  EXPECT_EQ(mart.polls(), 2);
}

TEST_F(ImageGenerationTest, LateAnswersOfACancelledGenerationAreIgnored) {
  APIMartLikeService mart(service);
  Reply late = Reply::with(200, R"({"data":{"id":"task-1","status":"failed"}})");
  late.delay = 300ms;
  mart.script({late});
  configure("https://api.apimart.ai/v1");

  start();
  nextPoll(mart);
  // The poll has reached the service; the cancellation overtakes its answer.
  EXPECT_TRUE(api->cancel());
  EXPECT_EQ(result->failure().message(), kCancelled);
  result.reset();
  spinMainUntil([] { return false; }, 500ms);
  EXPECT_FALSE(result.has_value());
  EXPECT_EQ(receipts().size(), 1u) << "a late failure answer released the receipt";
}

TEST_F(ImageGenerationTest, InvalidTaskIdIsRefusedWithoutAReceipt) {
  APIMartLikeService mart(service);
  mart.answerSubmissionWith(Reply::with(200, R"({"data":[{"task_id":"../task"}]})"));
  configure("https://api.apimart.ai/v1");
  start();
  EXPECT_EQ(failure(), "服务商返回的任务编号无效");
  EXPECT_TRUE(receipts().empty());
  EXPECT_FALSE(defaults.string("api.lastTask").has_value());
}

}  // namespace
}  // namespace glimmet
