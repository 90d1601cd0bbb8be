#include "core/http/http_transfer.h"

#include <gtest/gtest.h>

#include <atomic>

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
  std::string thread;  // the name of the thread it was delivered on
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
                                      Executor& executor = MainQueue::shared()) {
    return HttpTransfer::start(std::move(request), 1024, session(), executor,
                               [&delivered](HttpOutcome outcome) {
                                 char name[16] = {};
                                 pthread_getname_np(pthread_self(), name, sizeof name);
                                 delivered.thread = name;
                                 delivered.outcome = std::move(outcome);
                                 ++delivered.count;
                               });
  }

  TestHttpsService service;
};

TEST_F(HttpTransferTest, SendsExactlyTheRequestAndAnswersOnTheNamedExecutor) {
  service.route("PUT", "/v1/items", Reply::with(201, "done", {{"X-Answer", "yes"}}));
  HttpRequest put = request("PUT", "https://api.example.com/v1/items?x=1");
  put.body = {'{', '}'};
  Delivered delivered;
  SerialQueue queue("http-test");
  start(put, delivered, queue);
  ASSERT_TRUE(spinMainUntil([&] { return delivered.count > 0; }));
  EXPECT_EQ(delivered.thread, "http-test");

  const auto& response = std::get<HttpResponse>(*delivered.outcome);
  EXPECT_EQ(response.status, 201);
  EXPECT_EQ(std::string(response.body.begin(), response.body.end()), "done");
  EXPECT_EQ(response.header("x-answer"), "yes");
  const testing::RecordedRequest sent = service.requests().at(0);
  EXPECT_EQ(sent.method, "PUT");
  EXPECT_EQ(sent.target, "/v1/items?x=1");
  EXPECT_EQ(sent.body, "{}");
  // libcurl adds neither a form content type nor an expectation of its own.
  EXPECT_FALSE(sent.header("Content-Type"));
  EXPECT_FALSE(sent.header("Expect"));
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

}  // namespace
}  // namespace glimmet
