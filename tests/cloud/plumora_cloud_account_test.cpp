#include "cloud/plumora_cloud_account.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "cloud/cloud_constants.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_workspace.h"
#include "platform/headless/memory_secret_store.h"
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::RecordedRequest;
using testing::Reply;
using testing::spinMainUntil;
using testing::TestHttpsService;

constexpr const char* kWebsiteHost = "glimmet.app";
constexpr const char* kCodePath = "/api/auth/device/code";
constexpr const char* kTokenPath = "/api/auth/device/token";
constexpr const char* kService = cloud::kKeychainService.data();
constexpr const char* kAccount = cloud::kKeychainAccount.data();

// The one result of an asynchronous operation, waiting on the main loop.
template <typename T, typename Start>
CloudResult<T> awaitResult(Start start) {
  struct State {
    std::mutex mutex;
    std::optional<CloudResult<T>> result;
  };
  auto state = std::make_shared<State>();
  start([state](CloudResult<T> result) {
    std::lock_guard guard(state->mutex);
    state->result.emplace(std::move(result));
  });
  EXPECT_TRUE(spinMainUntil([&] {
    std::lock_guard guard(state->mutex);
    return state->result.has_value();
  }));
  std::lock_guard guard(state->mutex);
  return state->result.value_or(CloudResult<T>(cloudFailure("no result")));
}

template <typename T>
std::string messageOf(const CloudResult<T>& result) {
  return result ? "" : result.failure().message;
}

class PlumoraCloudAccountTest : public ::testing::Test {
 protected:
  PlumoraCloudAccountTest()
      : account(PlumoraCloudAccount::websiteOrigin(), secrets, workspace, panels, clock,
                session()) {}

  HttpSessionConfiguration session() const {
    HttpSessionConfiguration configuration;
    configuration.trustedCAFile = service.caFile();
    configuration.connectTo = {service.connectTo(kWebsiteHost),
                               service.connectTo("other.example.com")};
    return configuration;
  }

  CloudResult<HttpResponse> send(const CloudCall& call) {
    return awaitResult<HttpResponse>([&](auto done) { account.send(call, done); });
  }
  CloudResult<Json> begin() {
    return awaitResult<Json>([&](auto done) { account.beginLogin(done); });
  }
  CloudResult<Json> poll() {
    return awaitResult<Json>([&](auto done) { account.pollLogin(done); });
  }
  CloudResult<Json> logout() {
    return awaitResult<Json>([&](auto done) { account.logout(done); });
  }
  CloudResult<Json> request(const Json& value) {
    return awaitResult<Json>([&](auto done) { account.request(value, done); });
  }
  CloudResult<Json> upload(const Json& value) {
    return awaitResult<Json>([&](auto done) { account.upload(value, done); });
  }

  std::size_t requestsTo(const std::string& path) const {
    std::size_t count = 0;
    for (const RecordedRequest& request : service.requests()) count += request.path == path;
    return count;
  }

  void routeCodeAnswer(const Json& answer) {
    service.route("POST", kCodePath, Reply::with(200, answer.dump()));
  }
  void routeTokenAnswer(int status, const Json& answer) {
    service.route("POST", kTokenPath, Reply::with(status, answer.dump()));
  }

  TestHttpsService service{{kWebsiteHost, "other.example.com"}};
  MemorySecretStore secrets;
  HeadlessWorkspace workspace;
  HeadlessFilePanels panels;
  ManualClock clock;
  PlumoraCloudAccount account;
};

Json codeAnswer() {
  return {{"device_code", "DEV"},
          {"user_code", "ABCD-EFGH"},
          {"verification_uri", "https://glimmet.app/device"}};
}

TEST_F(PlumoraCloudAccountTest, RefusesPathsOutsideTheApiAndUnauthenticatedCallsBeforeSending) {
  for (const char* path : {"/v1/x", "/api/../secret", "/api/x?y=1", "/api/a b", "api/x"}) {
    CloudCall call{.path = path, .limit = 100};
    EXPECT_EQ(messageOf(send(call)), "请求路径无效") << path;
  }
  CloudCall call{.path = "/api/me", .authenticated = true, .limit = 100};
  secrets.add(kService, kAccount, "");
  EXPECT_EQ(messageOf(send(call)), "请先登录 Glimmet 账号");
  EXPECT_TRUE(service.requests().empty());
}

// An account going away with an exchange in flight stops it and waits for its
// completion instead of leaving it to run into freed memory.
TEST_F(PlumoraCloudAccountTest, DestructionStopsTheExchangesInFlight) {
  Reply stalled = Reply::with(200, "{}");
  stalled.delay = std::chrono::seconds(20);
  service.route("GET", "/api/slow", stalled);
  std::atomic<bool> finished = false;
  {
    PlumoraCloudAccount leaving(PlumoraCloudAccount::websiteOrigin(), secrets, workspace, panels,
                                clock, session());
    leaving.send({.path = "/api/slow", .limit = 100},
                 [&](CloudResult<HttpResponse> outcome) { finished = !outcome.ok(); });
    ASSERT_TRUE(spinMainUntil([&] { return requestsTo("/api/slow") == 1; }));
  }
  EXPECT_TRUE(finished);
}

TEST_F(PlumoraCloudAccountTest, SendsTheHeadersAndBoundsTheAnswer) {
  constexpr std::size_t kLimit = 1000;
  Reply over = Reply::with(200, std::string(kLimit + 1, 'x'));
  Reply streamedOver = over;
  streamedOver.chunked = true;
  service.route("POST", "/api/exact", Reply::with(200, std::string(kLimit, 'x')));
  service.route("GET", "/api/over", over);
  service.route("GET", "/api/streamed-over", streamedOver);
  secrets.add(kService, kAccount, "tok");

  CloudResult<HttpResponse> exact = send({.path = "/api/exact",
                                          .method = "POST",
                                          .body = Bytes{'{', '}'},
                                          .mime = "application/json",
                                          .idempotencyKey = "K1",
                                          .authenticated = true,
                                          .limit = kLimit});
  ASSERT_TRUE(exact) << messageOf(exact);
  EXPECT_EQ(exact.value().body.size(), kLimit);
  RecordedRequest sent = service.requests().at(0);
  EXPECT_EQ(sent.header("User-Agent"), "GlimmetMac/1.0");
  EXPECT_EQ(sent.header("Origin"), "https://glimmet.app");
  EXPECT_EQ(sent.header("Content-Type"), "application/json");
  EXPECT_EQ(sent.header("Idempotency-Key"), "K1");
  EXPECT_EQ(sent.header("Authorization"), "Bearer tok");
  EXPECT_EQ(sent.body, "{}");

  for (const char* path : {"/api/over", "/api/streamed-over"}) {
    EXPECT_EQ(messageOf(send({.path = path, .limit = kLimit})), "云端响应无效或过大") << path;
  }
}

TEST_F(PlumoraCloudAccountTest, RefusesUnusableDeviceCodeAnswersWithoutOpeningTheBrowser) {
  Json otherHost = codeAnswer();
  otherHost["verification_uri_complete"] = "https://other.example.com/device";
  Json plainHttp = codeAnswer();
  plainHttp["verification_uri"] = "http://glimmet.app/device";
  Json noUserCode = codeAnswer();
  noUserCode.erase("user_code");
  for (const Json& answer : {otherHost, plainHttp, noUserCode}) {
    routeCodeAnswer(answer);
    EXPECT_EQ(messageOf(begin()), "无法启动账号登录，请稍后重试") << answer.dump();
  }
  // A redirect is the final answer: its target is never fetched.
  service.route("POST", kCodePath,
                Reply::with(302, "{}", {{"Location", "https://other.example.com/api/x"}}));
  service.route("POST", "/api/x", Reply::with(200, codeAnswer().dump()));
  EXPECT_EQ(messageOf(begin()), "无法启动账号登录，请稍后重试");
  EXPECT_EQ(requestsTo("/api/x"), 0u);

  service.route("POST", kCodePath, Reply::with(200, "not json"));
  EXPECT_EQ(begin().failure(), jsonFailure());
  spinMainUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_TRUE(workspace.openedUrls().empty());
}

TEST_F(PlumoraCloudAccountTest, PollsAtTheWebsitesPaceUntilTheTokenIsStored) {
  routeCodeAnswer(codeAnswer());
  CloudResult<Json> started = begin();
  ASSERT_TRUE(started) << messageOf(started);
  EXPECT_EQ(started.value(),
            (Json{{"userCode", "ABCD-EFGH"}, {"verificationUri", "https://glimmet.app/device"}}));
  ASSERT_TRUE(spinMainUntil([&] { return !workspace.openedUrls().empty(); }));
  EXPECT_EQ(workspace.openedUrls(), std::vector<std::string>{"https://glimmet.app/device"});

  const Json pending = {{"pending", true}};
  EXPECT_EQ(poll().value(), pending);  // too early: nothing sent
  EXPECT_EQ(requestsTo(kTokenPath), 0u);

  routeTokenAnswer(400, {{"error", "authorization_pending"}});
  clock.advance(std::chrono::seconds(5));
  EXPECT_EQ(poll().value(), pending);
  EXPECT_EQ(Json::parse(service.requests().back().body),
            (Json{{"client_id", "glimmet-mac"},
                  {"device_code", "DEV"},
                  {"grant_type", "urn:ietf:params:oauth:grant-type:device_code"}}));

  routeTokenAnswer(400, {{"error", "slow_down"}});
  clock.advance(std::chrono::seconds(5));
  EXPECT_EQ(poll().value(), pending);
  clock.advance(std::chrono::seconds(9));
  EXPECT_EQ(poll().value(), pending);
  EXPECT_EQ(requestsTo(kTokenPath), 2u);

  routeTokenAnswer(200, {{"access_token", "tok"}});
  clock.advance(std::chrono::seconds(1));
  EXPECT_EQ(poll().value(), (Json{{"pending", false}}));
  EXPECT_EQ(secrets.read(kService, kAccount), "tok");
  EXPECT_EQ(account.token().value(), "tok");
  EXPECT_EQ(messageOf(poll()), "设备登录已过期，请重新登录");
}

TEST_F(PlumoraCloudAccountTest, EndsTheLoginOnRefusalsAndExpiry) {
  struct Row {
    int status;
    Json answer;
    std::string message;
  };
  const std::vector<Row> rows = {
      {400, {{"error", "access_denied"}}, "你已拒绝此设备登录"},
      {400, {{"error", "expired_token"}}, "设备登录已结束，请重新登录"},
      {200, Json::object(), "设备登录已结束，请重新登录"},
      {200, Json::array(), "登录返回无效"},
  };
  routeCodeAnswer(codeAnswer());
  ASSERT_TRUE(begin());
  for (const Row& row : rows) {
    routeTokenAnswer(row.status, row.answer);
    clock.advance(std::chrono::seconds(5));
    EXPECT_EQ(messageOf(poll()), row.message) << row.answer.dump();
  }
  // Without "expires_in" the code lives 600 seconds from its issue.
  clock.advance(std::chrono::seconds(580));
  EXPECT_EQ(messageOf(poll()), "设备登录已过期，请重新登录");
  EXPECT_EQ(secrets.size(), 0u);
}

TEST_F(PlumoraCloudAccountTest, ConcurrentAndOverlappingPollsSendOneRequest) {
  routeCodeAnswer(codeAnswer());
  ASSERT_TRUE(begin());
  Reply slow = Reply::with(400, R"({"error":"authorization_pending"})");
  slow.delay = std::chrono::milliseconds(200);
  service.route("POST", kTokenPath, slow);
  clock.advance(std::chrono::seconds(5));

  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  threads.reserve(8);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] { account.pollLogin([&](const CloudResult<Json>&) { ++answered; }); });
  }
  for (std::thread& thread : threads) thread.join();
  // A poll in flight longer than the interval still blocks the next one.
  clock.advance(std::chrono::seconds(5));
  account.pollLogin([&](const CloudResult<Json>&) { ++answered; });
  ASSERT_TRUE(spinMainUntil([&] { return answered == 9; }));
  EXPECT_EQ(requestsTo(kTokenPath), 1u);
}

TEST_F(PlumoraCloudAccountTest, ReportsATokenTheKeychainRefused) {
  routeCodeAnswer(codeAnswer());
  ASSERT_TRUE(begin());
  routeTokenAnswer(200, {{"access_token", "tok"}});
  secrets.setRefused(MemorySecretStore::Operation::add, true);
  clock.advance(std::chrono::seconds(5));
  EXPECT_EQ(messageOf(poll()), "无法将账号保存到钥匙串");
}

TEST_F(PlumoraCloudAccountTest, LogoutRemovesTheTokenUnlessTheWebsiteRefuses) {
  EXPECT_EQ(messageOf(logout()), "请先登录 Glimmet 账号");
  EXPECT_TRUE(service.requests().empty());

  secrets.add(kService, kAccount, "tok");
  service.route("POST", "/api/auth/sign-out", Reply::with(500, "{}"));
  EXPECT_EQ(messageOf(logout()), "退出未完成，请重试");
  EXPECT_EQ(secrets.size(), 1u);

  for (int status : {401, 200}) {
    secrets.add(kService, kAccount, "tok");
    service.route("POST", "/api/auth/sign-out", Reply::with(status, ""));
    EXPECT_EQ(logout().value(), Json(true)) << status;
    EXPECT_EQ(secrets.size(), 0u);
  }
  EXPECT_EQ(service.requests().back().header("Authorization"), "Bearer tok");
}

TEST_F(PlumoraCloudAccountTest, JsonCallsReachOnlyVersionedApiPathsAndCarryTheStatus) {
  secrets.add(kService, kAccount, "tok");
  for (const Json& value :
       {Json{{"path", "/a.b"}, {"method", "GET"}}, Json{{"path", "/a?b"}, {"method", "GET"}},
        Json{{"path", "/a b"}, {"method", "GET"}}, Json{{"path", "a/b"}, {"method", "GET"}},
        Json{{"path", "/a"}, {"method", "PUT"}},
        Json{{"path", "/a"}, {"method", "POST"}, {"body", 3}}}) {
    EXPECT_EQ(messageOf(request(value)), "请求参数无效") << value.dump();
  }
  EXPECT_TRUE(service.requests().empty());

  service.route("GET", "/api/v1/me/profile", Reply::with(404, R"({"reason":"none"})"));
  EXPECT_EQ(request({{"path", "/me/profile"}, {"method", "GET"}}).value(),
            (Json{{"reason", "none"}, {"httpStatus", 404}}));

  service.route("POST", "/api/v1/orders", Reply::with(200, "[]"));
  EXPECT_EQ(messageOf(request({{"path", "/orders"},
                               {"method", "POST"},
                               {"body", {{"plan", "pro"}}},
                               {"requestKey", "R1"}})),
            "云端返回格式无效");
  RecordedRequest sent = service.requests().back();
  EXPECT_EQ(sent.body, R"({"plan":"pro"})");
  EXPECT_EQ(sent.header("Idempotency-Key"), "R1");
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

  for (const Json& value : {Json{{"data", dataUrl("image/png", kFourMiB + 1)}},
                            Json{{"data", dataUrl("application/zip", 10)}},
                            Json{{"data", dataUrl("image/png", 10)}, {"kind", "skill"}}}) {
    EXPECT_EQ(messageOf(upload(value)), "文件格式或大小不支持");
  }
  for (const char* data : {"image/png;base64,AAAA", "data:image/png,AAAA",
                           "data:image/png;base64,AAA", "data:image/png;base64"}) {
    EXPECT_EQ(messageOf(upload({{"data", data}})), "上传文件无效") << data;
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
  const std::string path = "/api/v1/assets/" + id + "/download";
  auto serve = [&](const std::string& mime, int status = 200) {
    Reply reply = Reply::with(status, "abc");
    reply.contentType = mime;
    service.route("GET", path, reply);
  };
  auto fetch = [&](bool save) {
    return awaitResult<Json>([&](auto done) { account.asset(id, save, done); });
  };

  for (const char* mime : {"image/png", "image/jpeg", "image/webp", "video/mp4"}) {
    serve(mime);
    EXPECT_EQ(fetch(false).value(), std::string("data:") + mime + ";base64,YWJj");
  }
  serve("text/html");
  EXPECT_EQ(messageOf(fetch(false)), "作品暂时无法读取");
  serve("image/png", 404);
  EXPECT_EQ(messageOf(fetch(false)), "作品暂时无法读取");
  EXPECT_EQ(messageOf(awaitResult<Json>([&](auto done) { account.asset("../x", false, done); })),
            "作品编号无效");

  testing::TempDir dir;
  serve("image/jpeg");
  for (bool confirm : {true, false}) {
    auto state = std::make_shared<std::optional<CloudResult<Json>>>();
    account.asset(id, true,
                  [state](CloudResult<Json> result) { state->emplace(std::move(result)); });
    ASSERT_TRUE(spinMainUntil([&] { return panels.pendingSave().has_value(); }));
    EXPECT_EQ(panels.pendingSave()->suggestedFileName, "Glimmet-" + id + ".jpeg");
    confirm ? panels.answerSave(dir.path() / "work.jpeg") : panels.cancel();
    ASSERT_TRUE(spinMainUntil([&] { return state->has_value(); }));
    EXPECT_EQ((*state)->value(), Json(confirm));
  }
  EXPECT_EQ(testing::readFile(dir.path() / "work.jpeg"), "abc");
}

TEST_F(PlumoraCloudAccountTest, OpensOnlyHttpsPagesOfTheWebsiteAndPaymentHosts) {
  for (const char* url : {"https://glimmet.app/pricing", "https://checkout.stripe.com/c/1",
                          "https://billing.stripe.com/p/2"}) {
    EXPECT_TRUE(account.open(url)) << url;
  }
  for (const char* url : {"http://glimmet.app/pricing", "https://user@glimmet.app/",
                          "https://GLIMMET.app/", "https://glimmet.app.evil.com/", "not a url"}) {
    EXPECT_FALSE(account.open(url)) << url;
  }
  EXPECT_EQ(workspace.openedUrls().size(), 3u);
}

}  // namespace
}  // namespace glimmet
