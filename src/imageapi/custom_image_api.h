#pragma once

// The user's own HTTP image service: its stored configuration (base URL and
// model in the user defaults, the API key in the secret store, one item per
// base URL), the protocol the base URL selects, the classification of every
// transfer outcome, and the connection check. One instance per process; every
// operation runs on the main thread. One generation or connection check runs at
// a time (`running`). A generation carries a token; every later step of it
// (request building and decoding on the image queue, transfers, polls, the
// deadline) compares its copy with the current one before acting, so the
// steps of a cancelled or timed-out generation do nothing.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/base64.h"
#include "core/clock.h"
#include "core/defaults_store.h"
#include "core/executors.h"
#include "core/http/http_transfer.h"
#include "core/http/url.h"
#include "core/json.h"
#include "core/lifetime.h"
#include "core/result.h"
#include "core/secret_store.h"
#include "imageapi/image_api_transfer.h"

namespace glimmet {

class CustomImageAPI {
 public:
  // `session` carries extra trust and host mappings for tests and the harness;
  // the program passes the default.
  // Polls and the generation deadline run on `clock`.
  CustomImageAPI(DefaultsStore& defaults, SecretStore& secrets, Clock& clock,
                 HttpSessionConfiguration session = {});
  ~CustomImageAPI();
  CustomImageAPI(const CustomImageAPI&) = delete;
  CustomImageAPI& operator=(const CustomImageAPI&) = delete;

  // {"baseURL", "model", "hasKey", "verified"} from the user defaults.
  Json status() const;

  // Validates and stores {"baseURL", "model", "key"} (an empty or absent key
  // keeps the stored one) and answers status(). Throws LocalAgentFailure; a
  // refusal leaves the stored configuration untouched.
  Json configure(const Json& value);

  // The base URL validator: an HTTPS URL without credentials, query or fragment.
  static URL baseURL(std::string_view text);
  // The stored text of a base URL (and its key's account): without leading or trailing "/".
  static std::string normalised(const URL& base);

  // The stored key for a normalised base URL. Throws LocalAgentFailure.
  std::string key(const std::string& account) const;

  struct KeychainQuery {
    std::string service;
    std::string account;
  };
  static KeychainQuery query(const std::string& account);

  // True when the base URL is the API Mart endpoint (its protocol is then the task API).
  static bool isAPIMart(const URL& url);

  // Asks the service for its model list and looks for the configured model.
  // The completion runs once on the main thread (synchronously for a refusal
  // before any request) with status() or the failure.
  void check(std::function<void(Result<Json>)> completion);

  using GenerationCompletion = std::function<void(Result<Json>)>;

  // Generates one image from the page's input {"kind", "prompt", "ratio",
  // "mode", "referenceImage", "sourceImage"}. The completion runs exactly once
  // on the main thread: synchronously for a refusal of the input, otherwise
  // later with {"image", "agent", "model", "width", "height", "taskId"} or the
  // failure.
  void generate(const Json& value, GenerationCompletion completion);

  // Ends the generation or check in flight with the cancellation message;
  // answers whether one was running.
  bool cancel();

  bool running() const { return running_; }

  // --- generation requests (pure; safe on the image queue) ---

  // The one image a generation input sends, by its "mode": the reference or
  // source image as a data URL, or none. Throws LocalAgentFailure.
  static std::optional<std::string> attachment(const Json& value);

  // The generation request for the service `base` selects: validates the
  // prompt and ratio, decodes the reference image through the image gate and
  // builds the exact wire form. Throws LocalAgentFailure.
  static HttpRequest request(const URL& base, const std::string& model, const std::string& secret,
                             const std::string& prompt, const std::string& ratio,
                             const std::optional<std::string>& reference);

  // Lower-case SHA-256 of the base URL, a line feed, the key and the body:
  // equal for requests a paid API Mart task may be resumed for.
  static std::string requestIdentity(const URL& base, const std::string& secret, const Bytes& body);

  // --- responses (pure; safe on the image queue) ---

  struct Base64Image {
    std::string text;
  };
  struct RemoteImage {
    URL url;
  };
  struct PendingTask {
    std::string id;
  };
  struct FailedTask {};
  // What one submission or task answer means.
  using ImageResponse = std::variant<Base64Image, RemoteImage, PendingTask, FailedTask>;

  // Reads a body `checked` accepted: a submission answer without
  // `expectedTask`, an API Mart task answer with it. Throws LocalAgentFailure.
  static ImageResponse imageResponse(const Bytes& body, const URL& base,
                                     const std::optional<std::string>& expectedTask);
  // A result image URL: HTTPS with a host and no credentials. Throws LocalAgentFailure.
  static ImageResponse remoteImage(const std::optional<std::string>& url);
  // The poll URL of an API Mart task id. Throws LocalAgentFailure.
  static URL taskURL(std::string_view id, const URL& base);

  // A transfer outcome as body bytes, or the failure its status or error means.
  static Result<Bytes> checked(ImageAPIOutcome outcome);
  // True for outcomes worth polling again: passing network trouble, 429 and 5xx.
  static bool retryablePoll(const ImageAPIOutcome& outcome);

  // --- API Mart task receipts ---

  // Request identity -> task id of every paid task not yet settled
  // ("api.pendingRequests"; anything but a text-to-text object reads as empty).
  Json pendingRequests() const;
  // Records identity -> `id`, or forgets the identity without an id.
  void receipt(const std::optional<std::string>& id, const std::string& identity);

 private:
  // What one generation's steps carry along.
  struct Generation {
    std::string token;
    URL base;
    std::string model;
    std::string secret;
    std::string identity;
    TimePoint deadline;
    GenerationCompletion completion;
  };
  using Step = std::variant<Json, ImageResponse>;

  void send(const Generation& generation, HttpRequest request);
  void schedulePoll(const std::string& id, const Generation& generation);
  void poll(const std::string& id, const Generation& generation);
  // Handles a submission (no expected task) or poll outcome.
  void receive(ImageAPIOutcome outcome, const Generation& generation,
               const std::optional<std::string>& expectedTask);
  // Runs `work` on the image queue and hands its step back on the main thread
  // while the generation is current.
  void onImageQueue(const Generation& generation, std::function<Step()> work);
  void handle(Result<Step> step, const Generation& generation);
  void download(const URL& url, const Generation& generation);
  bool isCurrent(const std::string& token) const { return generationID_ == token; }
  void finish(const std::string& token, const std::optional<std::string>& identity,
              Result<Json> result, GenerationCompletion completion);
  void finishCancellation(const std::string& token, const std::string& message,
                          GenerationCompletion completion);
  void clearGeneration();

  DefaultsStore& defaults_;
  SecretStore& secrets_;
  Clock& clock_;
  const HttpSessionConfiguration session_;

  std::shared_ptr<ImageAPITransfer> transfer_;
  bool running_ = false;
  std::optional<std::string> generationID_;
  std::function<void()> cancelActive_;
  std::shared_ptr<ScheduledWork> pollWork_;
  std::shared_ptr<ScheduledWork> deadlineWork_;
  // Late completions check this before touching a destroyed client.
  Lifetime lifetime_;
  // Builds requests and decodes answers; its work never touches the client.
  SerialQueue imageQueue_;
};

}  // namespace glimmet
