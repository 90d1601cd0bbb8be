#include "core/http/http_transfer.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <csignal>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "core/glib_ptr.h"

namespace glimmet {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmedField(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

using EasyHandle = GPtr<CURL, curl_easy_cleanup>;
using HeaderList = GPtr<curl_slist, curl_slist_free_all>;

void append(HeaderList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown != nullptr) {
    (void)list.release();
    list.reset(grown);
  }
}

}  // namespace

std::optional<std::string> HttpResponse::header(std::string_view name) const {
  for (const auto& [field, value] : headers) {
    if (equalsIgnoringCase(field, name)) return value;
  }
  return std::nullopt;
}

struct HttpTransfer::Job {
  Job(HttpRequest request, std::size_t limit, Executor& executor, Completion completion)
      : request(std::move(request)),
        limit(limit),
        executor(executor),
        completion(std::move(completion)) {}

  // Posts the outcome unless one was decided before; answers whether this one won.
  bool decide(HttpOutcome outcome) {
    Completion deliver;
    {
      std::lock_guard lock(mutex);
      if (decided) return false;
      decided = true;
      deliver = std::move(completion);
    }
    executor.post([deliver = std::move(deliver), outcome = std::move(outcome)]() mutable {
      deliver(std::move(outcome));
    });
    return true;
  }

  const HttpRequest request;
  const std::size_t limit;
  Executor& executor;
  std::atomic<bool> cancelled{false};

  // Touched only by the worker thread once the job is handed over.
  EasyHandle easy;
  HeaderList headerList;
  HeaderList connectTo;
  HttpResponse response;
  std::optional<unsigned long long> declaredLength;
  std::size_t received = 0;  // body bytes accepted so far
  std::optional<HttpFailure::Kind> refusal;

 private:
  std::mutex mutex;
  bool decided = false;
  Completion completion;
};

namespace {

using Job = HttpTransfer::Job;

size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
  auto& job = *static_cast<Job*>(context);
  const std::string_view line(data, size * count);
  if (job.cancelled.load()) return 0;
  if (line.rfind("HTTP/", 0) == 0) {  // a new response (after a 1xx) starts afresh
    job.response.headers.clear();
    job.declaredLength.reset();
    return line.size();
  }
  if (trimmedField(line).empty()) {  // end of this response's headers
    long status = 0;
    curl_easy_getinfo(job.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 && job.declaredLength && *job.declaredLength > job.limit) {
      job.refusal = HttpFailure::Kind::declaredTooLarge;
      return 0;
    }
    // A declared length within the limit sizes the body once instead of by doubling.
    if (status >= 200 && job.declaredLength && !job.request.bodySink) {
      job.response.body.reserve(static_cast<std::size_t>(*job.declaredLength));
    }
    return line.size();
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return line.size();
  const std::string_view name = trimmedField(line.substr(0, colon));
  const std::string_view value = trimmedField(line.substr(colon + 1));
  if (equalsIgnoringCase(name, "Content-Length")) {
    unsigned long long length = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    // A length libcurl cannot read fails the transfer on its own; a huge one is over any limit.
    if (error == std::errc::result_out_of_range)
      length = std::numeric_limits<unsigned long long>::max();
    if (end == value.data() + value.size()) job.declaredLength = length;
  }
  job.response.headers.emplace_back(name, value);
  return line.size();
}

size_t receiveBody(char* data, size_t size, size_t count, void* context) {
  auto& job = *static_cast<Job*>(context);
  const size_t length = size * count;
  if (job.cancelled.load()) return 0;
  if (job.received + length > job.limit) {
    job.refusal = HttpFailure::Kind::bodyTooLarge;
    return 0;
  }
  job.received += length;
  if (job.request.bodySink) {
    if (job.request.bodySink(std::string_view(data, length))) return length;
    job.refusal = HttpFailure::Kind::sinkFailed;
    return 0;
  }
  job.response.body.insert(job.response.body.end(), data, data + length);
  return length;
}

long wholeSeconds(Duration duration) {
  return std::max<long>(1, static_cast<long>((duration.count() + 999) / 1000));
}

// Configures the job's easy handle; answers the libcurl code of the first refusal.
CURLcode configure(Job& job, const HttpSessionConfiguration& configuration) {
  CURL* easy = job.easy.get();
  const HttpRequest& request = job.request;
  const Duration idle = request.timeout.value_or(configuration.requestTimeout);
  CURLcode code = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_URL, request.url.c_str());
  set(CURLOPT_PROTOCOLS_STR, request.httpsOnly ? "https" : "http,https");
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_FORBID_REUSE, 1L);
  set(CURLOPT_FRESH_CONNECT, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle.count()));
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, wholeSeconds(idle));
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(configuration.resourceTimeout.count()));
  set(CURLOPT_HEADERFUNCTION, &receiveHeader);
  set(CURLOPT_HEADERDATA, &job);
  set(CURLOPT_WRITEFUNCTION, &receiveBody);
  set(CURLOPT_WRITEDATA, &job);
  if (!configuration.trustedCAFile.empty()) {
    set(CURLOPT_CAINFO, configuration.trustedCAFile.c_str());
  }
  for (const auto& mapping : configuration.connectTo) append(job.connectTo, mapping);
  if (job.connectTo) set(CURLOPT_CONNECT_TO, job.connectTo.get());

  if (request.method == "GET") {
    set(CURLOPT_HTTPGET, 1L);
  } else {
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    set(CURLOPT_POSTFIELDS,
        request.body.empty() ? "" : reinterpret_cast<const char*>(request.body.data()));
    if (request.method != "POST") set(CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  bool hasContentType = false;
  for (const auto& [name, value] : request.headers) {
    // A line break or NUL in a header (say, a damaged stored key) would end
    // the header early and let the rest pass as further headers.
    if ((name + value).find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    hasContentType = hasContentType || equalsIgnoringCase(name, "Content-Type");
    std::string line = name;
    line += ": ";
    line += value;
    append(job.headerList, line);
  }
  // libcurl would otherwise add a form content type and "Expect: 100-continue".
  if (!hasContentType) append(job.headerList, "Content-Type:");
  append(job.headerList, "Expect:");
  set(CURLOPT_HTTPHEADER, job.headerList.get());
  return code;
}

HttpFailure networkFailure(CURL* easy, CURLcode code) {
  long osErrno = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
  return HttpFailure{HttpFailure::Kind::network, networkProblemOf(code, osErrno), code};
}

// The thread that drives every transfer through one multi handle.
class Engine {
 public:
  static Engine& shared() {
    static Engine engine;
    return engine;
  }

  void add(std::shared_ptr<Job> job) {
    {
      std::lock_guard lock(mutex_);
      incoming_.push_back(std::move(job));
    }
    wake();
  }

  void wake() { curl_multi_wakeup(multi_); }

 private:
  // The main queue is made first so that it outlives the engine: a transfer
  // finishing while the process exits still posts to a live queue.
  Engine() : multi_((MainQueue::shared(), curl_multi_init())), worker_([this] { run(); }) {}

  ~Engine() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake();
    worker_.join();
    for (auto& [easy, job] : active_) curl_multi_remove_handle(multi_, easy);
    active_.clear();
    curl_multi_cleanup(multi_);
  }

  void run() {
    setCurrentThreadName("app.plumora.http");
    // A peer that closes its socket must never kill the process: a SIGPIPE
    // raised by a write on this thread stays pending instead.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    for (;;) {
      std::deque<std::shared_ptr<Job>> arrived;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        arrived.swap(incoming_);
      }
      for (auto& job : arrived) {
        if (job->cancelled.load()) continue;
        const CURLMcode added = curl_multi_add_handle(multi_, job->easy.get());
        if (added != CURLM_OK) {
          job->decide(
              HttpFailure{HttpFailure::Kind::network, NetworkProblem::unknown, CURLE_FAILED_INIT});
          continue;
        }
        active_.emplace(job->easy.get(), std::move(job));
      }
      dropCancelled();
      int running = 0;
      curl_multi_perform(multi_, &running);
      collectFinished();
      curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
  }

  void dropCancelled() {
    for (auto it = active_.begin(); it != active_.end();) {
      if (it->second->cancelled.load()) {
        curl_multi_remove_handle(multi_, it->first);
        it = active_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void collectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      const CURLcode code = message->data.result;
      const auto found = active_.find(easy);
      if (found == active_.end()) continue;
      std::shared_ptr<Job> job = std::move(found->second);
      active_.erase(found);
      curl_multi_remove_handle(multi_, easy);
      job->decide(outcome(*job, code));
    }
  }

  static HttpOutcome outcome(Job& job, CURLcode code) {
    if (job.refusal) return HttpFailure{*job.refusal};
    if (code != CURLE_OK) return networkFailure(job.easy.get(), code);
    long status = 0;
    curl_easy_getinfo(job.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) return HttpFailure{HttpFailure::Kind::noResponse};
    job.response.status = status;
    job.response.url = job.request.url;
    return std::move(job.response);
  }

  CURLM* multi_;
  std::mutex mutex_;
  std::deque<std::shared_ptr<Job>> incoming_;
  bool stopping_ = false;
  std::map<CURL*, std::shared_ptr<Job>> active_;  // worker thread only
  std::thread worker_;
};

void initialiseCurlOnce() {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialised;
}

}  // namespace

std::shared_ptr<HttpTransfer> HttpTransfer::start(HttpRequest request, std::size_t limit,
                                                  const HttpSessionConfiguration& configuration,
                                                  Executor& executor, Completion completion) {
  initialiseCurlOnce();
  auto job = std::make_shared<Job>(std::move(request), limit, executor, std::move(completion));
  job->easy.reset(curl_easy_init());
  const CURLcode code = job->easy ? configure(*job, configuration) : CURLE_FAILED_INIT;
  auto transfer = std::make_shared<HttpTransfer>(job);
  if (code != CURLE_OK) {
    job->decide(HttpFailure{HttpFailure::Kind::network, networkProblemOf(code, 0), code});
  } else {
    Engine::shared().add(std::move(job));
  }
  return transfer;
}

void HttpTransfer::cancel() {
  if (!job_->decide(HttpFailure{HttpFailure::Kind::cancelled})) return;
  job_->cancelled.store(true);
  Engine::shared().wake();
}

}  // namespace glimmet
