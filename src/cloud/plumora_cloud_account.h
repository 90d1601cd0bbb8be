#pragma once

// The user's account on the product website. Logs in with the OAuth 2.0 device
// authorization grant (RFC 8628): asks the website for a device code, opens the
// verification page in the browser, polls until the user approves, and keeps
// the access token in the secret store. Every call to the website goes through
// one guarded sender that talks only to the website's own origin, under
// "/api/", never follows a redirect and bounds the answer while it arrives.
//
// Completions run on a pool thread (callers hop to the main queue before
// touching the page); errors found before anything is sent are delivered
// synchronously. The account must outlive the operations it started.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cloud/cloud_error.h"
#include "core/clock.h"
#include "core/http/http_transfer.h"
#include "core/http/url.h"
#include "core/json.h"
#include "core/secret_store.h"
#include "platform/file_panels.h"
#include "platform/workspace.h"

namespace glimmet {

// One call through the guarded sender.
struct CloudCall {
  std::string path{};  // must start with "/api/", without ".." or "?"
  std::string method = "GET";
  std::optional<Bytes> body{};
  std::string mime{};  // the Content-Type of the body
  std::optional<std::string> idempotencyKey{};
  bool authenticated = false;
  std::size_t limit = 0;  // the most answer bytes accepted
};

class PlumoraCloudAccount {
 public:
  using SendCompletion = std::function<void(CloudResult<HttpResponse>)>;
  using Completion = std::function<void(CloudResult<Json>)>;

  // `session` lets tests trust a loopback website; the program passes the default.
  PlumoraCloudAccount(URL origin, SecretStore& secrets, Workspace& workspace, FilePanels& panels,
                      Clock& clock, HttpSessionConfiguration session = {});
  // Stops the exchanges in flight; their completions run with the cancellation first.
  ~PlumoraCloudAccount();
  PlumoraCloudAccount(const PlumoraCloudAccount&) = delete;
  PlumoraCloudAccount& operator=(const PlumoraCloudAccount&) = delete;

  // The product website's origin.
  static URL websiteOrigin();

  const URL& origin() const { return origin_; }

  // The stored session token; fails with the log-in-first message when it is
  // missing, unreadable, not UTF-8 or empty.
  CloudResult<std::string> token() const;

  // The guarded sender. Any HTTP status is a success here; callers judge it.
  void send(const CloudCall& call, SendCompletion completion);

  // Starts a device login: {"userCode", "verificationUri"}; the verification
  // page opens in the browser on the main thread.
  void beginLogin(Completion completion);
  // Polls once: {"pending": true} until the user approved, then {"pending": false}
  // with the token stored. Calls while a poll is in flight or before the next
  // poll is due answer pending at once without sending anything.
  void pollLogin(Completion completion);
  // Signs out on the website and removes the stored token: true.
  void logout(Completion completion);

  // An authenticated JSON call under "/api/v1" ({"path", "method", "body",
  // "requestKey"}): the answer object with "httpStatus" added; the status is
  // the page's to judge.
  void request(const Json& value, Completion completion);
  // Uploads a Base64 data URL ({"data", "kind"}): the answer's "data" entry.
  void upload(const Json& value, Completion completion);
  // Downloads the work `id`: a data URL, or with `save` whether the user
  // saved it through the save panel (that answer comes on the main thread).
  void asset(const std::string& id, bool save, Completion completion);
  // Opens an HTTPS page of the website or the payment provider in the browser;
  // answers false for anything else without opening it. Main thread.
  bool open(const std::string& url);

  // --- the website's answers (pure; the fuzz targets read them too) ---

  // A device-code answer that can start a login.
  struct DeviceCodeGrant {
    std::string deviceCode;
    std::string userCode;
    URL page;  // the HTTPS verification page on the website at `origin`
    std::chrono::seconds lifetime;
  };
  static CloudResult<DeviceCodeGrant> deviceCodeGrant(const HttpResponse& response,
                                                      const URL& origin);
  // A token poll answer: the access token, or none while the user has not
  // approved yet (`slowDown` when the website asks to poll less often).
  struct TokenPoll {
    std::optional<std::string> accessToken;
    bool slowDown = false;
  };
  static CloudResult<TokenPoll> tokenPoll(const HttpResponse& response);
  // A JSON call's answer object with "httpStatus" added.
  static CloudResult<Json> requestAnswer(const HttpResponse& response);
  // An upload answer's "data" entry.
  static CloudResult<Json> uploadAnswer(const HttpResponse& response);

 private:
  // An exchange's outcome as the sender's answer: network failures with their
  // meaning, answers from any host but the website's refused.
  static void deliver(HttpOutcome outcome, const std::optional<std::string>& host,
                      const SendCompletion& completion);
  void finishPoll(const CloudResult<HttpResponse>& outcome, const Completion& completion);
  std::optional<CloudError> storeToken(const std::string& token);

  const URL origin_;
  SecretStore& secrets_;
  Workspace& workspace_;
  FilePanels& panels_;
  Clock& clock_;
  const HttpSessionConfiguration session_;

  std::mutex lock_;  // guards the four login fields below
  std::optional<std::string> pendingCode_;
  TimePoint pendingExpiry_ = TimePoint::min();
  TimePoint nextPoll_ = TimePoint::min();
  bool polling_ = false;

  std::mutex flightLock_;  // guards the exchanges in flight
  std::condition_variable flightDone_;
  std::map<std::uint64_t, std::shared_ptr<HttpTransfer>> transfers_;
  std::uint64_t nextTransfer_ = 0;
};

}  // namespace glimmet
