#include <gtest/gtest.h>

#include "core/uuid.h"
#include "imageapi/custom_image_api.h"
#include "imaging/image_gate.h"
#include "platform/headless/memory_secret_store.h"
#include "support/https/fake_image_services.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using namespace std::chrono_literals;
using testing::APIMartLikeService;
using testing::failureOf;
using testing::kNoFailure;
using testing::readFile;
using testing::Reply;
using testing::spinMainUntil;
using testing::TempDir;
using testing::TestHttpsService;
using testing::testPNG;

constexpr const char* kOpenAI = "https://api.example.com/v1";
constexpr const char* kMart = "https://api.apimart.ai/v1";
constexpr const char* kTextOrRatio = "图片请求的文字或比例无效";
constexpr const char* kNoRemote = "服务未返回可读取的 HTTPS 图片";
constexpr const char* kBadTaskId = "服务商返回的任务编号无效";

URL url(const char* text) { return *URL::parse(text); }
std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string pngDataURL(int width, int height) {
  const std::string png = testPNG(width, height);
  return "data:image/png;base64," + base64Encode(Bytes(png.begin(), png.end()));
}

bool isCanonicalUuid(const std::string& text) {
  const auto parsed = Uuid::parse(text);
  return parsed && parsed->string() == text;
}

// What `value` yields as text, or the message of the failure it throws.
template <typename Work>
std::string outcomeOf(Work work) {
  std::string value;
  const std::string failure = failureOf([&] { value = work(); });
  return failure == kNoFailure ? value : failure;
}

TEST(GenerationRequest, AttachmentFollowsTheMode) {
  const std::string image = "data:image/png;base64,AAAA";
  const std::string unsupported = "当前图片 API 不支持此模式或局部蒙版";
  const std::pair<Json, std::string> rows[] = {
      {{{"kind", "image"}}, "none"},
      {{{"mode", "inpaint"}}, unsupported},
      {{{"mode", "reference"}, {"referenceImage", image}}, image},
      {{{"mode", "reference"}, {"referenceImage", ""}}, "请添加风格参考图"},
      {{{"mode", "edit"}, {"sourceImage", image}}, image},
      {{{"mode", "edit"}, {"sourceImage", image}, {"referenceImage", image}}, "请添加待调整原图"},
      {{{"mode", "direct"}, {"sourceImage", image}}, "图片需要选择参考风格或二次调整"},
  };
  for (const auto& [value, expected] : rows) {
    EXPECT_EQ(outcomeOf([&] { return CustomImageAPI::attachment(value).value_or("none"); }),
              expected)
        << value.dump();
  }
}

TEST(GenerationRequest, RefusesBlankOrLongPromptsUnknownRatiosAndBadReferences) {
  std::string longest;
  for (int i = 0; i < 12000; ++i) longest += "字";
  const std::string seedream =
      "Seedream 参考图需大于 14px、比例在 1:3 至 3:1 之间，且不超过 3600 万像素";
  struct Row {
    const char* base;
    std::string model, prompt, ratio;
    std::optional<std::string> reference;
    std::string expected;
  };
  const Row rows[] = {
      {kOpenAI, "m", " \n\t ", "1:1", {}, kTextOrRatio},
      {kOpenAI, "m", longest, "1:1", {}, kNoFailure},
      {kOpenAI, "m", longest + "字", "1:1", {}, kTextOrRatio},
      {kOpenAI, "m", "cat", "2:1", {}, kTextOrRatio},
      {kOpenAI, "m", "c\xff", "1:1", {}, kTextOrRatio},
      {kMart, "seedream-5-0-lite", "cat", "1:1", pngDataURL(10, 20), seedream},
      {kMart, "seedream-5-0-lite", "cat", "1:1", pngDataURL(15, 45), kNoFailure},
      {kMart, "seedream-5-0-lite", "cat", "1:1", pngDataURL(15, 46), seedream},
      {kMart, "other", "cat", "1:1", pngDataURL(46, 15), kNoFailure},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(failureOf([&] {
                CustomImageAPI::request(url(row.base), row.model, "k", row.prompt, row.ratio,
                                        row.reference);
              }),
              row.expected)
        << row.model << " " << row.ratio << " " << row.prompt.size();
  }
}

TEST(GenerationRequest, JsonRequestsCarryTheProtocolsFields) {
  const std::string reference = pngDataURL(20, 30);
  const std::string png = base64Encode(image_gate::decodeImage(reference).data);
  const std::string asked = R"("prompt":"Requested composition aspect ratio: 3:4.\nA cat")";
  struct Row {
    const char* base;
    std::string model, body;
    std::optional<std::string> reference = {};
  };
  const Row rows[] = {
      {kOpenAI, "gpt-image-1",
       R"({"model":"gpt-image-1","n":1,)" + asked + R"(,"size":"1024x1536"})"},
      {kOpenAI, "dall-e-3", R"({"model":"dall-e-3","n":1,)" + asked + "}"},
      {kMart, "gpt-image-1", R"({"model":"gpt-image-1","n":1,"prompt":"A cat","size":"3:4"})"},
      {kMart, "seedream-5-0-lite",
       R"({"image_urls":["data:image/png;base64,)" + png +
           R"("],"model":"seedream-5-0-lite","n":1,"output_format":"png",)"
           R"("prompt":"A cat","resolution":"2K","size":"3:4"})",
       reference},
  };
  for (const Row& row : rows) {
    const HttpRequest request =
        CustomImageAPI::request(url(row.base), row.model, "sk-1", "A cat", "3:4", row.reference);
    EXPECT_EQ(request.url, std::string(row.base) + "/images/generations");
    EXPECT_EQ(request.headers, (HttpHeaders{{"Authorization", "Bearer sk-1"},
                                            {"Content-Type", "application/json"}}));
    EXPECT_EQ(text(request.body), row.body) << row.model;
  }
}

TEST(GenerationRequest, OpenAIReferenceRequestIsAnOrderedMultipartForm) {
  const std::string reference = pngDataURL(20, 30);
  const HttpRequest request =
      CustomImageAPI::request(url(kOpenAI), "gpt-image-1", "sk-1", " A cat", "4:3", reference);
  EXPECT_EQ(request.url, "https://api.example.com/v1/images/edits");
  const std::string type = request.headers.back().second;
  const std::string prefix = "multipart/form-data; boundary=Plumora-";
  ASSERT_TRUE(type.starts_with(prefix)) << type;
  const std::string uuid = type.substr(prefix.size());
  ASSERT_TRUE(isCanonicalUuid(uuid)) << uuid;

  const std::string boundary = "--Plumora-" + uuid + "\r\nContent-Disposition: form-data; name=\"";
  std::string expected;
  for (const auto& [name, value] : {std::pair{"model", "gpt-image-1"},
                                    {"prompt", "Requested composition aspect ratio: 4:3.\n A cat"},
                                    {"size", "1536x1024"}}) {
    expected += boundary + name + "\"\r\n\r\n" + value + "\r\n";
  }
  expected += boundary + "image\"; filename=\"reference.png\"\r\nContent-Type: image/png\r\n\r\n" +
              text(image_gate::decodeImage(reference).data) + "\r\n--Plumora-" + uuid + "--\r\n";
  EXPECT_EQ(text(request.body), expected);
}

// A submission answer (no expected task) or a task answer (task "t1") as one
// comparable line: its kind and value, or the failure.
TEST(ImageResponse, SubmissionAndTaskAnswers) {
  struct Row {
    std::string body;
    const char* base;
    std::optional<std::string> task;
    std::string expected;
  };
  const std::string longTask = R"({"data":[{"task_id":")" + std::string(129, 'a') + R"("}]})";
  // A completed task whose result holds `image`, or none.
  const auto completed = [](const std::string& image) {
    const std::string result = image.empty() ? "" : R"(,"result":{"images":[)" + image + "]}";
    return R"({"data":{"id":"t1","status":"completed")" + result + "}}";
  };
  const Row rows[] = {
      {"not json", kOpenAI, {}, "未能读取数据，因为它的格式不正确。"},
      {"[]", kOpenAI, {}, "服务商返回的图片响应格式无效"},
      {R"({"code":401,"data":[{"b64_json":"AA=="}]})",
       kOpenAI,
       {},
       "服务商未接受请求（401），请检查账户额度和模型"},
      {R"({"data":[{"b64_json":"AA==","url":"https://x.test/a"}]})", kOpenAI, {}, "base64 AA=="},
      {R"({"data":{"b64_json":"AA=="}})", kOpenAI, {}, "响应不包含图片，请确认图片接口兼容性"},
      {R"({"data":[{"task_id":"task_1"}]})",
       kOpenAI,
       {},
       "该服务返回异步任务，当前仅接入 API Mart 的任务协议"},
      {R"({"data":[{"task_id":"task_1-A"}]})", kMart, {}, "pending task_1-A"},
      {longTask, kMart, {}, kBadTaskId},
      {R"({"data":[{"url":"https://x.test/a?s=1"}]})", kOpenAI, {}, "remote https://x.test/a?s=1"},
      {R"({"data":[{"url":"http://x.test/a.png"}]})", kOpenAI, {}, kNoRemote},
      {R"({"data":[{"url":"https://u:p@x.test/a.png"}]})", kOpenAI, {}, kNoRemote},
      {R"({"data":{"id":"t2","status":"pending"}})", kMart, "t1", "任务响应与本次生成不匹配"},
      {R"({"data":{"id":"t1","status":"processing"}})", kMart, "t1", "pending t1"},
      {R"({"data":{"id":"t1","status":"canceled"}})", kMart, "t1", "failed"},
      {R"({"data":{"id":"t1","status":"Completed"}})", kMart, "t1",
       "服务商返回了未知任务状态；请先查看原任务，勿重复提交"},
      {completed(""), kMart, "t1", "任务已结束，但未返回图片"},
      {completed(R"({"url":["https://x.test/a","https://x.test/b"]})"), kMart, "t1",
       "remote https://x.test/a"},
      {completed(R"({"url":[]})"), kMart, "t1", kNoRemote},
  };
  for (const Row& row : rows) {
    const std::string actual = outcomeOf([&]() -> std::string {
      const auto response = CustomImageAPI::imageResponse(Bytes(row.body.begin(), row.body.end()),
                                                          url(row.base), row.task);
      if (const auto* image = std::get_if<CustomImageAPI::Base64Image>(&response))
        return "base64 " + image->text;
      if (const auto* remote = std::get_if<CustomImageAPI::RemoteImage>(&response))
        return "remote " + remote->url.absoluteString();
      if (const auto* task = std::get_if<CustomImageAPI::PendingTask>(&response))
        return "pending " + task->id;
      return "failed";
    });
    EXPECT_EQ(actual, row.expected) << row.body;
  }
}

// One client over a defaults file, a keyring and a manual clock, talking to the
// loopback service under the real host names; the API Mart host and a result
// host are mapped to the same service.
class ImageAPITest : public ::testing::Test {
 protected:
  ImageAPITest() : defaults(dir / "defaults.json") { api = makeClient(); }

  HttpSessionConfiguration session(const TestHttpsService& trusted) const {
    HttpSessionConfiguration session;
    session.trustedCAFile = trusted.caFile();
    session.connectTo = {service.connectTo("api.example.com"), service.connectTo("api.apimart.ai"),
                         service.connectTo("cdn.example.net")};
    return session;
  }

  std::unique_ptr<CustomImageAPI> makeClient() {
    return std::make_unique<CustomImageAPI>(defaults, secrets, clock, session(service));
  }

  static Json entry(const std::string& base, const std::string& model, const std::string& key) {
    return Json{{"baseURL", base}, {"model", model}, {"key", key}};
  }

  std::string refusal(const Json& value) {
    const std::string failure = failureOf([&] { api->configure(value); });
    return failure == kNoFailure ? "accepted" : failure;
  }

  // Starts a generation or a check whose result lands in `result`.
  void start(const Json& value = {
                 {"kind", "image"}, {"prompt", "a lighthouse"}, {"ratio", "1:1"}}) {
    result.reset();
    api->generate(value, [this](Result<Json> outcome) {
      ASSERT_FALSE(result.has_value()) << "completion ran twice";
      result = std::move(outcome);
    });
  }
  void startCheck() {
    result.reset();
    api->check([this](Result<Json> outcome) { result = std::move(outcome); });
  }

  Result<Json> awaitResult() {
    EXPECT_TRUE(spinMainUntil([&] { return result.has_value(); }));
    return std::move(result).value_or(Result<Json>(LocalAgentFailure("no result")));
  }

  std::string failure() {
    Result<Json> outcome = awaitResult();
    return outcome ? "(succeeded)" : outcome.failure().message();
  }

  // The one outcome of a transfer of `path`, after waiting a little longer for
  // any second one.
  ImageAPIOutcome transfer(const std::string& path, const TestHttpsService* trusted = nullptr) {
    HttpRequest request;
    request.url = "https://api.example.com" + path;
    request.timeout = std::chrono::seconds(1);
    outcomes.clear();
    ImageAPITransfer::start(
        request, 1000, session(trusted ? *trusted : service),
        [this](ImageAPIOutcome outcome) { outcomes.push_back(std::move(outcome)); });
    EXPECT_TRUE(spinMainUntil([&] { return !outcomes.empty(); }));
    spinMainUntil([] { return false; }, 50ms);
    EXPECT_EQ(outcomes.size(), 1u);
    return outcomes.empty() ? ImageAPIOutcome(LocalAgentFailure("none")) : outcomes.front();
  }
  static std::string message(ImageAPIOutcome outcome) {
    const Result<Bytes> checked = CustomImageAPI::checked(std::move(outcome));
    return checked ? std::to_string(checked.value().size()) + " bytes"
                   : checked.failure().message();
  }

  // Plays an API Mart service whose task polls answer `polls`, configures its
  // base and starts a generation.
  void startTask(std::vector<APIMartLikeService::Poll> polls) {
    mart = std::make_unique<APIMartLikeService>(service);
    mart->script(std::move(polls));
    api->configure(entry(kMart, "gpt-image-1", "sk-test"));
    start();
  }

  // Waits until a poll is armed beside the deadline, then lets 4 s pass and
  // waits for that poll to be answered and handled.
  void nextPoll() {
    ASSERT_TRUE(spinMainUntil([&] { return clock.pendingCount() == 2; }));
    const int before = mart->polls();
    clock.advance(3999ms);
    ASSERT_EQ(mart->polls(), before) << "polled before 4 s";
    clock.advance(1ms);
    ASSERT_TRUE(spinMainUntil([&] { return mart->polls() == before + 1; }));
  }

  Json receipts() const { return api->pendingRequests(); }

  // The OpenAI-compatible service's answer to a generation.
  void answer(const Json& value) {
    service.route("POST", "/v1/images/generations", Reply::with(200, value.dump()));
  }

  // Declared before the service, whose handlers call it, so that it outlives them.
  std::unique_ptr<APIMartLikeService> mart;
  TestHttpsService service{{"api.example.com", "api.apimart.ai", "cdn.example.net"}};
  TempDir dir;
  DefaultsStore defaults;
  MemorySecretStore secrets;
  ManualClock clock;
  std::unique_ptr<CustomImageAPI> api;
  std::optional<Result<Json>> result;
  std::vector<ImageAPIOutcome> outcomes;
};

TEST_F(ImageAPITest, TransferBoundsTheBodyAndClassifiesStatusesAndNetworkFailures) {
  const auto reply = [](int status, std::size_t size) {
    Reply reply = Reply::with(status, std::string(size, 'a'), {{"Location", "https://elsewhere/"}});
    reply.chunked = true;  // so the bound is met while reading, not on a declared length
    return reply;
  };
  Reply stalled = reply(200, 2);
  stalled.delay = 10s;
  const std::string unreachable = "无法连接服务商，请检查网络、服务地址和证书。";
  const std::tuple<Reply, std::string, bool> rows[] = {
      {reply(200, 1000), "1000 bytes", false},
      {reply(200, 1001), "服务商返回的内容超过大小限制", false},
      {stalled, "请求超时，请先到服务商确认是否已生成，再决定重试。", true},
      {reply(302, 0), "服务要求重定向，请配置最终 HTTPS 地址", false},
      {reply(403, 0), "API Key 无效或没有模型权限", false},
      {reply(429, 0), "服务商请求过于频繁，请稍后重试", true},
      {reply(418, 0), "服务商拒绝请求（HTTP 418），请检查图片模型和接口兼容性", false},
  };
  for (const auto& [answer, expected, retryable] : rows) {
    service.route("GET", "/answer", answer);
    const ImageAPIOutcome outcome = transfer("/answer");
    EXPECT_EQ(message(outcome), expected) << answer.status << " " << answer.body.size();
    EXPECT_EQ(CustomImageAPI::retryablePoll(outcome), retryable) << expected;
  }
  const TestHttpsService stranger;  // its CA is one the session does not trust
  const ImageAPIOutcome untrusted = transfer("/any", &stranger);
  EXPECT_EQ(message(untrusted), unreachable);
  EXPECT_FALSE(CustomImageAPI::retryablePoll(untrusted));
}

TEST_F(ImageAPITest, ConfigurationRefusalsLeaveTheStoredConfigurationUntouched) {
  // The longest base URL and model (128 bytes in UTF-8) are accepted.
  const std::string longest = "https://api.example.com/" + std::string(2048 - 24, 'a');
  EXPECT_EQ(refusal(entry(longest, std::string(125, 'm') + "界", "k")), "accepted");
  api->configure(entry(kOpenAI, "gpt-image-1", "sk-old"));
  defaults.set("api.verified", true);
  const std::string before = readFile(defaults.file());

  const std::string base = "请输入 HTTPS Base URL，不含密钥、查询参数或账号密码";
  const std::string model = "请填写图片模型名称";
  const std::string keyFormat = "API Key 格式无效";
  const std::string keyMissing = "请在配置中填写 API Key，并允许 Glimmet 访问钥匙串";
  const std::pair<Json, std::string> rows[] = {
      {entry("http://api.example.com/v1", "m", "k"), base},
      {entry("https://user:pw@api.example.com/v1", "m", "k"), base},
      {entry("https://api.example.com/v1?", "m", "k"), base},
      {entry("https://api.example.com/" + std::string(2049 - 24, 'a'), "m", "k"), base},
      {entry(kOpenAI, "gpt image", "k"), model},
      {entry(kOpenAI, std::string(129, 'm'), "k"), model},
      {entry(kOpenAI, "m", std::string(8193, 'k')), keyFormat},
      {entry("https://other.example.com/v1", "m", ""), keyMissing},
  };
  for (const auto& [value, expected] : rows) {
    EXPECT_EQ(refusal(value), expected) << value.dump();
  }
  secrets.setRefused(MemorySecretStore::Operation::update, true);
  EXPECT_EQ(refusal(entry(kOpenAI, "m", "sk-new")), "无法更新钥匙串，原配置已保留");
  EXPECT_EQ(readFile(defaults.file()), before);
}

TEST_F(ImageAPITest, KeepsTheKeyOnlyInTheSecretStoreUnderTheNormalisedBase) {
  const Json status = api->configure(entry("https://api.example.com/v1/", "m", "sk-secret"));
  EXPECT_EQ(status,
            (Json{{"baseURL", kOpenAI}, {"model", "m"}, {"hasKey", true}, {"verified", false}}));
  EXPECT_EQ(secrets.read("app.plumora.native.image-api", kOpenAI), "sk-secret");
  EXPECT_EQ(readFile(defaults.file()).find("sk-secret"), std::string::npos);
  // The stored key is found again under the same base written with its slash.
  EXPECT_EQ(refusal(entry("https://api.example.com/v1/", "m", "")), "accepted");
  EXPECT_EQ(api->key(kOpenAI), "sk-secret");
}

TEST_F(ImageAPITest, CheckLooksForTheModelAndCanBeCancelled) {
  api->configure(entry(kOpenAI, "gpt-image-1", "sk-1"));
  const std::string missing = "连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成";
  const std::pair<std::string, std::string> rows[] = {
      {R"({"data":[{"id":"dall-e-3"},{"id":"gpt-image-1"}]})", "(succeeded)"},
      {R"({"data":[{"id":"GPT-IMAGE-1"}, 3]})", missing},
      {"not json", "未能读取数据，因为它的格式不正确。"},
  };
  for (const auto& [body, expected] : rows) {
    service.route("GET", "/v1/models", Reply::with(200, body));
    startCheck();
    EXPECT_EQ(failure(), expected) << body;
  }
  EXPECT_EQ(service.requests().at(0).header("Authorization"), "Bearer sk-1");

  // While a check runs, a second request is refused; cancel ends it.
  Reply slow = Reply::with(200, "{}");
  slow.delay = 10s;
  service.route("GET", "/v1/models", slow);
  startCheck();
  ASSERT_TRUE(api->running());
  std::optional<Result<Json>> second;
  api->check([&](Result<Json> outcome) { second = std::move(outcome); });
  ASSERT_TRUE(second);
  EXPECT_EQ(second->failure().message(), "已有请求正在进行");

  EXPECT_TRUE(api->cancel());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->failure().message(), kImageAPICancelledMessage);
}

TEST_F(ImageAPITest, OpenAICompatibleAnswersBecomeTheResultDictionary) {
  service.route("GET", "/results/a.png", Reply::with(200, testPNG(20, 10)));
  api->configure(entry(kOpenAI, "gpt-image-1", "sk-test"));
  const std::string png = testPNG(48, 32);
  answer(Json{{"data", {{{"b64_json", base64Encode(Bytes(png.begin(), png.end()))}}}}});
  start();
  Result<Json> outcome = awaitResult();
  ASSERT_TRUE(outcome) << outcome.failure().message();
  Json value = outcome.value();
  EXPECT_TRUE(isCanonicalUuid(value["taskId"].get<std::string>()));
  value.erase("taskId");
  EXPECT_EQ(value["image"].get<std::string>().rfind("data:image/png;base64,", 0), 0u);
  value.erase("image");
  EXPECT_EQ(
      value,
      (Json{{"agent", "custom-api"}, {"model", "gpt-image-1"}, {"width", 48}, {"height", 32}}));
  EXPECT_TRUE(api->status()["verified"]);
  EXPECT_EQ(clock.pendingCount(), 0u) << "the deadline outlived the generation";

  // A result given by URL is fetched without the key.
  answer(Json{{"data", {{{"url", "https://cdn.example.net/results/a.png?sig=1"}}}}});
  start();
  outcome = awaitResult();
  ASSERT_TRUE(outcome) << outcome.failure().message();
  EXPECT_EQ(outcome.value()["width"], 20);
  const auto download = service.requests().back();
  EXPECT_EQ(download.target, "/results/a.png?sig=1");
  EXPECT_EQ(download.header("Host"), "cdn.example.net");
  EXPECT_FALSE(download.header("Authorization").has_value());
}

TEST_F(ImageAPITest, APIMartTaskIsPolledUntilItsImageArrives) {
  service.route("GET", "/results/t.png", Reply::with(200, testPNG(16, 16)));
  startTask({std::string("processing"), Reply::with(503, "{}"), Reply::with(429, "{}"),
             std::string("completed")});
  mart->resultURL("https://cdn.example.net/results/t.png");
  ASSERT_TRUE(spinMainUntil([&] { return receipts().size() == 1; }));
  for (int poll = 0; poll < 4; ++poll) nextPoll();

  Result<Json> outcome = awaitResult();
  ASSERT_TRUE(outcome) << outcome.failure().message();
  EXPECT_EQ(outcome.value()["width"], 16);
  EXPECT_TRUE(receipts().empty());
  EXPECT_EQ(service.requests().at(1).header("Authorization"), "Bearer sk-test");
}

TEST_F(ImageAPITest, ReceiptSurvivesFailureCancellationAndRestart) {
  startTask({Reply::with(400, "{}")});
  nextPoll();
  EXPECT_EQ(failure(), "服务商拒绝请求（HTTP 400），请检查图片模型和接口兼容性");
  ASSERT_EQ(receipts().size(), 1u);

  // The same request resumes the paid task; a cancellation keeps the receipt.
  mart->script({std::string("running")});
  start();
  nextPoll();
  EXPECT_TRUE(api->cancel());
  ASSERT_TRUE(result.has_value()) << "cancellation was not reported at once";
  EXPECT_EQ(result->failure().message(), kImageAPICancelledMessage);

  // After a restart, the same request still follows task-1, and a confirmed
  // failure releases it.
  api = makeClient();
  mart->script({std::string("canceled")});
  start();
  nextPoll();
  EXPECT_EQ(failure(), "服务商确认任务失败或已取消，请到 API Mart 查看记录后重试。");
  EXPECT_TRUE(receipts().empty());
  EXPECT_EQ(mart->submissions(), 1);

  // A different prompt is a different request and is submitted anew.
  mart->script({Reply::with(400, "{}")});
  start({{"kind", "image"}, {"prompt", "a harbour"}, {"ratio", "1:1"}});
  ASSERT_TRUE(spinMainUntil([&] { return mart->submissions() == 2; }));
}

TEST_F(ImageAPITest, DeadlineEndsTheGenerationAndNoPollFollowsIt) {
  startTask({Reply::with(503, "{}")});
  nextPoll();
  // The next poll goes out at 8 s; its transient answer is handled at 596 s,
  // which would arm a poll for exactly the deadline.
  ASSERT_TRUE(spinMainUntil([&] { return clock.pendingCount() == 2; }));
  clock.advance(592s);
  ASSERT_TRUE(spinMainUntil([&] { return mart->polls() == 2 && clock.pendingCount() == 2; }));
  clock.advance(4s);
  EXPECT_EQ(failure(),
            "等待超时；服务商任务可能仍在生成。同一请求重试将继续查询已记录的 API Mart "
            "任务，请勿在服务商重复提交。");
  EXPECT_EQ(receipts().size(), 1u);
  EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(ImageAPITest, LateAnswersOfACancelledGenerationAreIgnored) {
  Reply late = Reply::with(200, R"({"data":{"id":"task-1","status":"failed"}})");
  late.delay = 300ms;
  startTask({late});
  nextPoll();
  // The poll has reached the service; the cancellation overtakes its answer.
  EXPECT_TRUE(api->cancel());
  result.reset();
  spinMainUntil([] { return false; }, 500ms);
  EXPECT_FALSE(result.has_value());
  EXPECT_EQ(receipts().size(), 1u) << "a late failure answer released the receipt";
}

TEST_F(ImageAPITest, InvalidTaskIdIsRefusedWithoutAReceipt) {
  answer(Json{{"data", {{{"task_id", "../task"}}}}});
  api->configure(entry(kMart, "gpt-image-1", "sk-test"));
  start();
  EXPECT_EQ(failure(), kBadTaskId);
  EXPECT_TRUE(receipts().empty());
}

}  // namespace
}  // namespace glimmet
