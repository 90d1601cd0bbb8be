#include "core/http/http_transfer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/http/url.h"
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::Reply;
using testing::spinMainUntil;
using testing::TestHttpsService;

HttpRequest request(std::string method, std::string url) {
  HttpRequest request;
  request.method = std::move(method);
  request.url = std::move(url);
  return request;
}

struct Delivered {
  std::atomic<int> count{0};
  std::optional<HttpOutcome> outcome;
};

class HttpTransferTest : public ::testing::Test {
 protected:
  HttpSessionConfiguration session() const {
    HttpSessionConfiguration configuration;
    configuration.trustedCAFile = service.caFile();
    configuration.connectTo = {service.connectTo("api.example.com")};
    return configuration;
  }

  std::shared_ptr<HttpTransfer> start(HttpRequest request, Delivered& delivered,
                                      std::size_t limit = 1024) {
    return HttpTransfer::start(std::move(request), limit, session(), MainQueue::shared(),
                               [&delivered](HttpOutcome outcome) {
                                 delivered.outcome = std::move(outcome);
                                 ++delivered.count;
                               });
  }

  TestHttpsService service;
};

TEST_F(HttpTransferTest, SendsExactlyTheRequestToTheMappedHostAndReturnsTheAnswer) {
  service.route("PUT", "/v1/items", Reply::with(201, "done", {{"X-Answer", "yes"}}));
  HttpRequest put = request("PUT", "https://api.example.com/v1/items?x=1");
  put.headers = {{"Authorization", "Bearer k"}};
  put.body = {'{', '}'};
  Delivered delivered;
  start(put, delivered);
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));

  const auto& response = std::get<HttpResponse>(*delivered.outcome);
  EXPECT_EQ(response.status, 201);
  EXPECT_EQ(std::string(response.body.begin(), response.body.end()), "done");
  EXPECT_EQ(response.header("x-answer"), "yes");
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].target, "/v1/items?x=1");
  EXPECT_EQ(requests[0].header("Host"), "api.example.com");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer k");
  EXPECT_EQ(requests[0].body, "{}");
  // libcurl adds neither a form content type nor an expectation of its own.
  EXPECT_FALSE(requests[0].header("Content-Type"));
  EXPECT_FALSE(requests[0].header("Expect"));
}

TEST_F(HttpTransferTest, TheServiceRecordsMultipartBodiesAsSent) {
  const std::string body =
      "--B\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\nm\r\n--B--\r\n";
  HttpRequest post = request("POST", "https://api.example.com/v1/images/edits");
  post.headers = {{"Content-Type", "multipart/form-data; boundary=B"}};
  post.body.assign(body.begin(), body.end());
  Delivered delivered;
  start(post, delivered);
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, body);
  EXPECT_EQ(requests[0].header("Content-Type"), "multipart/form-data; boundary=B");
}

TEST_F(HttpTransferTest, NeverFollowsARedirect) {
  service.route("GET", "/old", Reply::with(302, "", {{"Location", "https://api.example.com/new"}}));
  service.route("GET", "/new", Reply::with(200, "moved"));
  Delivered delivered;
  start(request("GET", "https://api.example.com/old"), delivered);
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));
  EXPECT_EQ(std::get<HttpResponse>(*delivered.outcome).status, 302);
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST_F(HttpTransferTest, RefusesPlainHttpWhenHttpsOnly) {
  Delivered delivered;
  start(request("GET", "http://127.0.0.1:" + std::to_string(service.port()) + "/"), delivered);
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));
  EXPECT_EQ(std::get<HttpFailure>(*delivered.outcome).problem, NetworkProblem::unsupportedURL);
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(HttpTransferTest, RefusesAHeaderThatWouldSplitTheRequest) {
  HttpRequest get = request("GET", "https://api.example.com/");
  get.headers = {{"Authorization", "Bearer k\r\nX-Injected: 1"}};
  Delivered delivered;
  start(get, delivered);
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));
  EXPECT_EQ(std::get<HttpFailure>(*delivered.outcome).kind, HttpFailure::Kind::network);
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(HttpTransferTest, DeliversOnTheNamedExecutor) {
  service.route("GET", "/", Reply::with(200, "x"));
  SerialQueue queue("http-test");
  std::atomic<bool> onQueue{false};
  std::atomic<bool> done{false};
  HttpTransfer::start(request("GET", "https://api.example.com/"), 10, session(), queue,
                      [&](const HttpOutcome&) {
                        char name[16] = {};
                        pthread_getname_np(pthread_self(), name, sizeof name);
                        onQueue = std::string(name) == "http-test";
                        done = true;
                      });
  ASSERT_TRUE(spinMainUntil([&] { return done.load(); }));
  EXPECT_TRUE(onQueue);
}

TEST_F(HttpTransferTest, CancelFromAnotherThreadWinsOnceAndLateCancelsDoNothing) {
  Reply slow = Reply::with(200, "late");
  slow.delay = std::chrono::milliseconds(3000);
  service.route("GET", "/slow", slow);
  Delivered delivered;
  const auto transfer = start(request("GET", "https://api.example.com/slow"), delivered);
  std::thread([transfer] { transfer->cancel(); }).join();
  transfer->cancel();
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));
  EXPECT_EQ(std::get<HttpFailure>(*delivered.outcome).kind, HttpFailure::Kind::cancelled);

  service.route("GET", "/fast", Reply::with(200, "ok"));
  Delivered finished;
  const auto done = start(request("GET", "https://api.example.com/fast"), finished);
  ASSERT_TRUE(spinMainUntil([&] { return finished.count > 0; }));
  done->cancel();
  spinMainUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(delivered.count, 1);
  EXPECT_EQ(finished.count, 1);
  EXPECT_EQ(std::get<HttpResponse>(*finished.outcome).status, 200);
}

TEST(URLTest, SplitsComponentsAsWritten) {
  const auto url = URL::parse("HTTPS://User:pw@API.Example.com:8443/v1/?#");
  ASSERT_TRUE(url);
  const URLComponents& parts = url->components();
  EXPECT_EQ(parts.scheme, "HTTPS");
  EXPECT_EQ(parts.user, "User");
  EXPECT_EQ(parts.password, "pw");
  EXPECT_EQ(parts.host, "API.Example.com");
  EXPECT_EQ(parts.port, 8443);
  EXPECT_EQ(parts.path, "/v1/");
  EXPECT_EQ(parts.query, "");
  EXPECT_EQ(parts.fragment, "");

  for (const char* bad :
       {"https://a b/", "https://host:99999/", "no-scheme", "https://h/%zz", "https://[::1/"}) {
    EXPECT_FALSE(URL::parse(bad)) << bad;
  }
  EXPECT_EQ(URL::parse("https://h/v1")->appendingPathComponent("models").absoluteString(),
            "https://h/v1/models");
  EXPECT_EQ(URL::parse("https://h")->appendingPathComponent("models").absoluteString(),
            "https://h/models");
  EXPECT_EQ(URL::parse("https://h/v1/?a")->appendingPathComponent("x").absoluteString(),
            "https://h/v1/x?a");
}

}  // namespace
}  // namespace glimmet
