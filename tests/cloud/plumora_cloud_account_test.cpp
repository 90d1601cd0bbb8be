#include "cloud/plumora_cloud_account.h"

#include <gtest/gtest.h>

#include <atomic>

#include "cloud/cloud_constants.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_workspace.h"
#include "platform/headless/memory_secret_store.h"
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using namespace std::chrono_literals;
using testing::RecordedRequest;
using testing::Reply;
using testing::spinMainUntil;
using testing::TestHttpsService;

constexpr const char* kCodePath = "/api/auth/device/code";
constexpr const char* kTokenPath = "/api/auth/device/token";
constexpr const char* kService = cloud::kKeychainService.data();
constexpr const char* kAccount = cloud::kKeychainAccount.data();
constexpr const char* kTooLarge = "云端响应无效或过大";
const Json kPending = {{"pending", true}};
const Json kCodeAnswer = {{"device_code", "DEV"},
                          {"user_code", "ABCD-EFGH"},
                          {"verification_uri", "https://glimmet.app/device"}};

// The one result of an asynchronous operation, whose completion may run on a
// pool thread, waiting on the main loop.
template <typename T = Json, typename Start>
CloudResult<T> awaitResult(Start start) {
  auto state = std::make_shared<std::pair<std::mutex, std::optional<CloudResult<T>>>>();
  start([state](CloudResult<T> result) {
    std::lock_guard guard(state->first);
    state->second.emplace(std::move(result));
  });
  EXPECT_TRUE(spinMainUntil([&] {
    std::lock_guard guard(state->first);
    return state->second.has_value();
  }));
  std::lock_guard guard(state->first);
  return state->second.value_or(CloudResult<T>(cloudFailure("no result")));
}

template <typename T>
std::string messageOf(const CloudResult<T>& result) {
  return result ? "" : result.failure().message;
}

class PlumoraCloudAccountTest : public ::testing::Test {
 protected:
  PlumoraCloudAccountTest() : account(makeAccount()) {}

  std::unique_ptr<PlumoraCloudAccount> makeAccount() {
    HttpSessionConfiguration session;
    session.trustedCAFile = service.caFile();
    session.connectTo = {service.connectTo("glimmet.app"), service.connectTo("other.example.com")};
    return std::make_unique<PlumoraCloudAccount>(PlumoraCloudAccount::websiteOrigin(), secrets,
                                                 workspace, panels, clock, session);
  }

  CloudResult<HttpResponse> send(const CloudCall& call) {
    return awaitResult<HttpResponse>([&](auto done) { account->send(call, done); });
  }
  CloudResult<Json> begin() {
    return awaitResult([&](auto done) { account->beginLogin(done); });
  }
  CloudResult<Json> poll() {
    return awaitResult([&](auto done) { account->pollLogin(done); });
  }
  CloudResult<Json> request(const Json& value) {
    return awaitResult([&](auto done) { account->request(value, done); });
  }
  CloudResult<Json> upload(const Json& value) {
    return awaitResult([&](auto done) { account->upload(value, done); });
  }

  std::size_t requestsTo(const std::string& path) const {
    std::size_t count = 0;
    for (const RecordedRequest& request : service.requests()) count += request.path == path;
    return count;
  }

  void answer(const char* path, int status, const Json& body) {
    service.route("POST", path, Reply::with(status, body.dump()));
  }

  TestHttpsService service{{"glimmet.app", "other.example.com"}};
  MemorySecretStore secrets;
  HeadlessWorkspace workspace;
  HeadlessFilePanels panels;
  ManualClock clock;
  std::unique_ptr<PlumoraCloudAccount> account;
};

TEST_F(PlumoraCloudAccountTest, RefusesBadPathsAndParametersBeforeSending) {
  for (const char* path : {"/api/../secret", "/api/x?y=1"}) {
    EXPECT_EQ(messageOf(send({.path = path, .limit = 100})), "请求路径无效") << path;
  }
  secrets.add(kService, kAccount, "");
  EXPECT_EQ(messageOf(send({.path = "/api/me", .authenticated = true, .limit = 100})),
            "请先登录 Glimmet 账号");
  secrets.add(kService, kAccount, "tok");
  for (const Json& value :
       {Json{{"path", "/a.b"}, {"method", "GET"}}, Json{{"path", "/a"}, {"method", "PUT"}},
        Json{{"path", "/a"}, {"method", "POST"}, {"body", 3}}}) {
    EXPECT_EQ(messageOf(request(value)), "请求参数无效") << value.dump();
  }
  EXPECT_TRUE(service.requests().empty());
}

// An account going away with an exchange in flight stops it and waits for its
// completion instead of leaving it to run into freed memory.
TEST_F(PlumoraCloudAccountTest, DestructionStopsTheExchangesInFlight) {
  Reply stalled = Reply::with(200, "{}");
  stalled.delay = 20s;
  service.route("GET", "/api/slow", stalled);
  std::atomic<bool> finished = false;
  account->send({.path = "/api/slow", .limit = 100},
                [&](CloudResult<HttpResponse> outcome) { finished = !outcome.ok(); });
  ASSERT_TRUE(spinMainUntil([&] { return requestsTo("/api/slow") == 1; }));
  account.reset();
  EXPECT_TRUE(finished);
}

TEST_F(PlumoraCloudAccountTest, RefusesUnusableDeviceCodeAnswersWithoutOpeningTheBrowser) {
  const std::string refused = "无法启动账号登录，请稍后重试";
  const auto codeAnswer = [](const char* field, const Json& value) {
    Json answer = kCodeAnswer;
    answer[field] = value;
    return Reply::with(200, answer.dump());
  };
  // A redirect is the final answer: its target is never fetched.
  answer("/api/x", 200, kCodeAnswer);
  const std::pair<Reply, std::string> rows[] = {
      {codeAnswer("verification_uri_complete", "https://other.example.com/device"), refused},
      {Reply::with(302, "{}", {{"Location", "https://other.example.com/api/x"}}), refused},
      {Reply::with(200, "not json"), jsonFailure().message},
  };
  for (const auto& [reply, expected] : rows) {
    service.route("POST", kCodePath, reply);
    EXPECT_EQ(messageOf(begin()), expected) << reply.body;
  }
  EXPECT_EQ(requestsTo("/api/x"), 0u);
  spinMainUntil([] { return false; }, 50ms);
  EXPECT_TRUE(workspace.openedUrls().empty());
}

// Each poll waits `wait` first; a step with a status answers token polls anew.
struct PollStep {
  std::chrono::seconds wait;
  int status;
  Json answer;
  std::string expected;  // the poll's value, or its failure
};

TEST_F(PlumoraCloudAccountTest, PollsAtTheWebsitesPaceUntilTheTokenIsStoredOrTheLoginEnds) {
  const auto run = [&](const std::vector<PollStep>& steps) {
    answer(kCodePath, 200, kCodeAnswer);
    const CloudResult<Json> started = begin();
    ASSERT_TRUE(started) << messageOf(started);
    EXPECT_EQ(started.value(),
              (Json{{"userCode", "ABCD-EFGH"}, {"verificationUri", "https://glimmet.app/device"}}));
    for (const PollStep& step : steps) {
      if (step.status != 0) answer(kTokenPath, step.status, step.answer);
      clock.advance(step.wait);
      const CloudResult<Json> result = poll();
      EXPECT_EQ(result ? result.value().dump() : messageOf(result), step.expected)
          << step.answer.dump();
    }
  };
  const std::string pending = kPending.dump();
  const std::string expired = "设备登录已过期，请重新登录";
  run({{0s, 0, {}, pending},  // too early: nothing sent
       {5s, 400, {{"error", "authorization_pending"}}, pending},
       {5s, 400, {{"error", "slow_down"}}, pending},
       {9s, 0, {}, pending},
       {1s, 200, {{"access_token", "tok"}}, R"({"pending":false})"},
       {0s, 0, {}, expired}});
  EXPECT_EQ(workspace.openedUrls(), std::vector<std::string>{"https://glimmet.app/device"});
  EXPECT_EQ(requestsTo(kTokenPath), 3u);
  EXPECT_EQ(secrets.read(kService, kAccount), "tok");

  // Refusals end the login; without "expires_in" the code lives 600 seconds.
  secrets.remove(kService, kAccount);
  run({{5s, 400, {{"error", "access_denied"}}, "你已拒绝此设备登录"},
       {5s, 400, {{"error", "expired_token"}}, "设备登录已结束，请重新登录"},
       {5s, 200, Json::array(), "登录返回无效"},
       {585s, 0, {}, expired}});
  EXPECT_EQ(secrets.size(), 0u);
  // A token the keychain refuses is reported.
  secrets.setRefused(MemorySecretStore::Operation::add, true);
  run({{5s, 200, {{"access_token", "tok"}}, "无法将账号保存到钥匙串"}});
}

TEST_F(PlumoraCloudAccountTest, LogoutRemovesTheTokenUnlessTheWebsiteRefuses) {
  for (const auto& [status, expected] :
       {std::pair{500, "退出未完成，请重试"}, std::pair{401, ""}, std::pair{200, ""}}) {
    secrets.add(kService, kAccount, "tok");
    service.route("POST", "/api/auth/sign-out", Reply::with(status, ""));
    EXPECT_EQ(messageOf(awaitResult([&](auto done) { account->logout(done); })), expected);
    EXPECT_EQ(secrets.size(), status == 500 ? 1u : 0u) << status;
  }
  EXPECT_EQ(service.requests().back().header("Authorization"), "Bearer tok");
}

TEST_F(PlumoraCloudAccountTest, JsonCallsReachVersionedApiPathsAndCarryTheStatus) {
  secrets.add(kService, kAccount, "tok");
  service.route("GET", "/api/v1/me/profile", Reply::with(404, R"({"reason":"none"})"));
  EXPECT_EQ(request({{"path", "/me/profile"}, {"method", "GET"}}).value(),
            (Json{{"reason", "none"}, {"httpStatus", 404}}));

  service.route("POST", "/api/v1/orders", Reply::with(200, "[]"));
  EXPECT_EQ(messageOf(request({{"path", "/orders"},
                               {"method", "POST"},
                               {"body", {{"plan", "pro"}}},
                               {"requestKey", "R1"}})),
            "云端返回格式无效");
  const RecordedRequest sent = service.requests().back();
  EXPECT_EQ(sent.body, R"({"plan":"pro"})");
  for (const auto& [name, value] : {std::pair{"Origin", "https://glimmet.app"},
                                    {"Content-Type", "application/json"},
                                    {"Idempotency-Key", "R1"},
                                    {"Authorization", "Bearer tok"}}) {
    EXPECT_EQ(sent.header(name), value) << name;
  }

  // The website's answers are bounded at 4 MiB.
  service.route("GET", "/api/v1/big", Reply::with(200, std::string((4 << 20) + 1, ' ')));
  EXPECT_EQ(messageOf(request({{"path", "/big"}, {"method", "GET"}})), kTooLarge);
}

TEST_F(PlumoraCloudAccountTest, UploadsOnlyAllowedTypesAndSizesToTheirEndpoints) {
  secrets.add(kService, kAccount, "tok");
  service.route("POST", "/api/v1/assets/upload", Reply::with(200, R"({"data":{"id":"A"}})"));
  service.route("POST", "/api/v1/library/packages", Reply::with(201, R"({"data":"P"})"));
  auto dataUrl = [](const std::string& mime, std::size_t size) {
    return "data:" + mime + ";base64," + base64Encode(Bytes(size, 7));
  };
  constexpr std::size_t kFourMiB = std::size_t{4} << 20;
  EXPECT_EQ(upload({{"data", dataUrl("image/png", kFourMiB)}}).value(), (Json{{"id", "A"}}));
  EXPECT_EQ(service.requests().back().body.size(), kFourMiB);
  EXPECT_EQ(service.requests().back().header("Content-Type"), "image/png");
  EXPECT_EQ(upload({{"data", dataUrl("application/zip", kFourMiB * 5)}, {"kind", "skill"}}).value(),
            "P");
  EXPECT_EQ(service.requests().back().body.size(), kFourMiB * 5);

  const std::pair<Json, std::string> refusals[] = {
      {{{"data", dataUrl("image/png", kFourMiB + 1)}}, "文件格式或大小不支持"},
      {{{"data", dataUrl("application/zip", 10)}}, "文件格式或大小不支持"},
      {{{"data", "data:image/png;base64,AAA"}}, "上传文件无效"},
  };
  for (const auto& [value, expected] : refusals) {
    EXPECT_EQ(messageOf(upload(value)), expected) << value.dump().substr(0, 60);
  }
  EXPECT_EQ(service.requests().size(), 2u);

  service.route("POST", "/api/v1/assets/upload", Reply::with(413, R"({"message":"太大了"})"));
  EXPECT_EQ(messageOf(upload({{"data", dataUrl("image/webp", 3)}})), "太大了");
  service.route("POST", "/api/v1/assets/upload", Reply::with(200, "{}"));
  EXPECT_EQ(messageOf(upload({{"data", dataUrl("image/webp", 3)}})), "上传失败");
}

TEST_F(PlumoraCloudAccountTest, DownloadsWorksAsDataUrlsOrThroughTheSavePanel) {
  secrets.add(kService, kAccount, "tok");
  const std::string id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
  auto fetch = [&](const std::string& mime, int status = 200) {
    Reply reply = Reply::with(status, "abc");
    reply.contentType = mime;
    service.route("GET", "/api/v1/assets/" + id + "/download", reply);
    return awaitResult([&](auto done) { account->asset(id, false, done); });
  };
  for (const char* mime : {"image/png", "image/webp", "video/mp4"}) {
    EXPECT_EQ(fetch(mime).value(), std::string("data:") + mime + ";base64,YWJj");
  }
  EXPECT_EQ(messageOf(fetch("text/html")), "作品暂时无法读取");
  EXPECT_EQ(messageOf(fetch("image/png", 404)), "作品暂时无法读取");
  EXPECT_EQ(messageOf(awaitResult([&](auto done) { account->asset("../x", false, done); })),
            "作品编号无效");

  testing::TempDir dir;
  fetch("image/jpeg");
  for (bool confirm : {true, false}) {
    auto state = std::make_shared<std::optional<CloudResult<Json>>>();
    account->asset(id, true,
                   [state](CloudResult<Json> result) { state->emplace(std::move(result)); });
    ASSERT_TRUE(spinMainUntil([&] { return panels.pendingSave().has_value(); }));
    EXPECT_EQ(panels.pendingSave()->suggestedFileName, "Glimmet-" + id + ".jpeg");
    confirm ? panels.answerSave(dir / "work.jpeg") : panels.cancel();
    ASSERT_TRUE(spinMainUntil([&] { return state->has_value(); }));
    EXPECT_EQ((*state)->value(), Json(confirm));
  }
  EXPECT_EQ(testing::readFile(dir / "work.jpeg"), "abc");
}

TEST_F(PlumoraCloudAccountTest, OpensOnlyHttpsPagesOfTheWebsiteAndPaymentHosts) {
  for (const char* url : {"https://glimmet.app/pricing", "https://checkout.stripe.com/c/1"}) {
    EXPECT_TRUE(account->open(url)) << url;
  }
  for (const char* url : {"https://user@glimmet.app/", "https://glimmet.app.evil.com/"}) {
    EXPECT_FALSE(account->open(url)) << url;
  }
  EXPECT_EQ(workspace.openedUrls().size(), 2u);
}

}  // namespace
}  // namespace glimmet
