#pragma once

// The program's one HTTP client. Each HttpTransfer is one request on its own
// connection (no reuse, no cookies, no cache), so transfers never share state.
// Redirects are never followed: a 3xx answer is the final response. The body
// is bounded while it arrives: a declared length over the limit is refused
// before any body byte, and the running total is checked before each chunk is
// accepted. Exactly one completion is posted to the executor the caller names;
// cancel() is safe from any thread at any moment and does nothing once the
// outcome is decided.
//
// Transfers run on libcurl's multi interface, driven by one worker thread
// ("app.plumora.http") that waits in curl_multi_poll. A cancel wakes that
// thread at once (curl_multi_wakeup) and the transfer is dropped on its next
// turn, whatever the transfer is doing, whereas blocking easy handles on pool
// threads could only notice a cancel in their progress callback, up to a
// second later, and would hold one thread per transfer.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/base64.h"
#include "core/clock.h"
#include "core/executors.h"
#include "core/http/network_problem.h"

namespace glimmet {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpSessionConfiguration {
  // Longest wait for the connection or for the next bytes of the answer.
  // Applies when the request names none. Whole seconds once connected.
  Duration requestTimeout = std::chrono::seconds(60);
  // Longest time the whole transfer may take.
  Duration resourceTimeout = std::chrono::seconds(300);
  // A PEM bundle trusted instead of the system's: SSL_CERT_FILE's in the
  // program, a loopback test service's CA in tests.
  std::filesystem::path trustedCAFile;
  // libcurl connect-to mappings, "HOST:PORT:CONNECT-HOST:CONNECT-PORT", so a
  // loopback service can answer for a real host name (and its certificate
  // name) without touching the network.
  std::vector<std::string> connectTo;
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  HttpHeaders headers;
  // Sent for every method but GET; an empty body is sent as "Content-Length: 0".
  Bytes body;
  // Overrides the session's request time-out.
  std::optional<Duration> timeout;
  // Refuse every scheme but "https" (the default), before connecting.
  bool httpsOnly = true;
  // When set, receives the body chunk by chunk on the HTTP thread instead of
  // HttpResponse::body, so a large download never sits in memory. Chunks are
  // counted against the limit before they are handed over; answering false
  // stops the transfer (HttpFailure::Kind::sinkFailed).
  std::function<bool(std::string_view chunk)> bodySink;
};

struct HttpResponse {
  long status = 0;
  HttpHeaders headers;  // of the final response, names as the server wrote them
  Bytes body;           // empty when the request had a body sink
  std::string url;      // the URL that answered (always the request's: no redirects)

  // The first header of that name, compared without regard to ASCII case.
  std::optional<std::string> header(std::string_view name) const;
};

struct HttpFailure {
  enum class Kind {
    network,           // see `problem` and `curlCode`
    cancelled,         // cancel() decided the outcome
    declaredTooLarge,  // Content-Length over the limit; no body byte accepted
    bodyTooLarge,      // the next chunk would pass the limit; it was not accepted
    noResponse,        // the exchange ended without any HTTP status
    sinkFailed,        // the request's body sink refused a chunk
  };
  Kind kind = Kind::network;
  NetworkProblem problem = NetworkProblem::unknown;
  int curlCode = 0;
};

using HttpOutcome = std::variant<HttpResponse, HttpFailure>;

class HttpTransfer {
 public:
  using Completion = std::function<void(HttpOutcome)>;

  // Starts the transfer at once; `completion` runs exactly once on `executor`,
  // which must outlive the transfer's completion.
  static std::shared_ptr<HttpTransfer> start(HttpRequest request, std::size_t limit,
                                             const HttpSessionConfiguration& configuration,
                                             Executor& executor, Completion completion);

  // Decides the outcome as cancelled, unless it is already decided.
  void cancel();

  struct Job;
  explicit HttpTransfer(std::shared_ptr<Job> job) : job_(std::move(job)) {}

 private:
  std::shared_ptr<Job> job_;
};

}  // namespace glimmet
