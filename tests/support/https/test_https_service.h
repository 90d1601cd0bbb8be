#pragma once

// A loopback HTTPS service for tests: a fresh self-signed certificate for
// localhost, 127.0.0.1 and the host names a test plays (through the HTTP
// layer's connect-to mappings), routes scripted per test, and a record of
// every request as it arrived (a multipart body is recorded as httplib leaves
// it, not byte for byte).

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace httplib {
class SSLServer;
}

namespace glimmet::testing {

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query, as sent
  std::string path;    // without the query
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first header of that name, compared without regard to ASCII case.
  std::optional<std::string> header(const std::string& name) const;
};

struct Reply {
  static Reply with(int status, std::string body,
                    std::vector<std::pair<std::string, std::string>> headers = {}) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers = std::move(headers);
    return reply;
  }

  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string contentType = "application/json";
  // Sent in chunks without a declared length.
  bool chunked = false;
  // Wait before answering (a stalled service); cut short when the service stops.
  std::chrono::milliseconds delay{0};
};

class TestHttpsService {
 public:
  using Handler = std::function<Reply(const RecordedRequest&)>;

  // `hosts`: names the certificate covers besides localhost and 127.0.0.1.
  explicit TestHttpsService(const std::vector<std::string>& hosts = {"api.example.com"});
  ~TestHttpsService();
  TestHttpsService(const TestHttpsService&) = delete;
  TestHttpsService& operator=(const TestHttpsService&) = delete;

  int port() const { return port_; }
  // PEM of this service's certificate, for the client to trust.
  const std::filesystem::path& caFile() const { return caFile_; }
  // A connect-to mapping that sends "host:port" to this service.
  std::string connectTo(const std::string& host, int port = 443) const;

  // Answers requests for exactly this method and path (query ignored); a later
  // route for the same pair replaces the earlier. Unrouted requests get 404.
  void route(const std::string& method, const std::string& path, Reply reply);
  void route(const std::string& method, const std::string& path, Handler handler);

  std::vector<RecordedRequest> requests() const;

 private:
  // Waits for `delay`, or less when the service stops.
  void pause(std::chrono::milliseconds delay);

  TempDir dir_;
  std::filesystem::path caFile_;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread listener_;

  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::map<std::pair<std::string, std::string>, Handler> routes_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace glimmet::testing
