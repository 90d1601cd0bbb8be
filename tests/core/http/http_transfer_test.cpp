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

TEST_F(HttpTransferTest, RefusesPlainHttpAndHeadersThatWouldSplitTheRequestBeforeSending) {
  Delivered plain;
  start(request("GET", "http://127.0.0.1:" + std::to_string(service.port()) + "/"), plain);
  HttpRequest split = request("GET", "https://api.example.com/");
  split.headers = {{"Authorization", "Bearer k\r\nX-Injected: 1"}};
  Delivered injected;
  start(split, injected);
  ASSERT_TRUE(spinMainUntil([&] { return plain.count > 0 && injected.count > 0; }));
  EXPECT_EQ(std::get<HttpFailure>(*plain.outcome).problem, NetworkProblem::unsupportedURL);
  EXPECT_EQ(std::get<HttpFailure>(*injected.outcome).kind, HttpFailure::Kind::network);
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

TEST(URLTest, RefusesMalformedTextAndAppendsPathComponents) {
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
