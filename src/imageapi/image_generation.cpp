// One generation from start to end: the input checks, request building on the
// image queue, submission, API Mart task receipts and polls, the result
// download, decoding, the deadline and cancellation. Every generation ends
// through finish() or finishCancellation(), exactly once.

#include "core/failure.h"
#include "core/lifetime.h"
#include "core/uuid.h"
#include "imageapi/custom_image_api.h"
#include "imageapi/image_api_constants.h"
#include "imaging/image_gate.h"

namespace glimmet {
namespace {

using namespace imageapi;

constexpr const char* kKindMessage = "只支持图片生成，参考图片参数无效";
constexpr const char* kDeadlineMessage =
    "等待超时；服务商任务可能仍在生成。同一请求重试将继续查询已记录的 API Mart "
    "任务，请勿在服务商重复提交。";
constexpr const char* kTaskStillPendingMessage =
    "等待超时；任务可能仍在 API Mart 生成，请先查看服务商记录，避免重复计费。";
constexpr const char* kTaskFailedMessage =
    "服务商确认任务失败或已取消，请到 API Mart 查看记录后重试。";
constexpr std::string_view kPNGDataURLPrefix = "data:image/png;base64,";

Json resultDictionary(const DecodedImage& image, const std::string& model,
                      const std::string& token) {
  std::string dataURL(kPNGDataURLPrefix);
  dataURL += base64Encode(image.data);
  return Json{{"image", std::move(dataURL)}, {"agent", "custom-api"},  {"model", model},
              {"width", image.width},        {"height", image.height}, {"taskId", token}};
}

}  // namespace

void CustomImageAPI::generate(const Json& value, GenerationCompletion completion) {
  if (running_) return completion(LocalAgentFailure(kBusyMessage));
  if (!value.is_object() || value.empty() || textEntry(value, "kind") != "image") {
    return completion(LocalAgentFailure(kKindMessage));
  }
  std::optional<std::string> reference;
  try {
    reference = attachment(value);
  } catch (const LocalAgentFailure& failure) {
    return completion(failure);
  }

  const std::string token = Uuid::random().string();
  const TimePoint deadline = clock_.now() + kGenerationDeadline;
  generationID_ = token;
  running_ = true;
  const LifetimeGuard alive = lifetime_.guard();
  cancelActive_ = [this, token, completion] {
    finishCancellation(token, kImageAPICancelledMessage, completion);
  };
  deadlineWork_ = clock_.after(kGenerationDeadline, [this, alive, token, completion] {
    if (!alive.expired()) finishCancellation(token, kDeadlineMessage, completion);
  });

  const std::string storedBase = defaults_.string(kBaseKey).value_or("");
  std::optional<URL> base;
  std::string secret;
  try {
    base = baseURL(storedBase);
    secret = key(storedBase);
  } catch (const LocalAgentFailure& failure) {
    MainQueue::shared().post([this, alive, token, failure, completion] {
      if (!alive.expired()) finish(token, std::nullopt, failure, completion);
    });
    return;
  }
  Generation generation{token,     std::move(*base), defaults_.string(kModelKey).value_or(""),
                        secret,    std::string(),    deadline,
                        completion};

  // The request is built off the main thread: the reference image is decoded
  // and re-encoded, and the body may be many megabytes.
  imageQueue_.post([this, alive, generation, reference = std::move(reference),
                    prompt = textEntry(value, "prompt"), ratio = textEntry(value, "ratio")] {
    Result<HttpRequest> built = resultOf([&] {
      return request(generation.base, generation.model, generation.secret, prompt, ratio,
                     reference);
    });
    std::string identity;
    if (built) identity = requestIdentity(generation.base, generation.secret, built.value().body);
    MainQueue::shared().post([this, alive, generation, built = std::move(built),
                              identity = std::move(identity)]() mutable {
      if (alive.expired() || !isCurrent(generation.token)) return;
      if (!built) {
        return finish(generation.token, std::nullopt, built.failure(), generation.completion);
      }
      generation.identity = std::move(identity);
      send(generation, std::move(built.value()));
    });
  });
}

void CustomImageAPI::send(const Generation& generation, HttpRequest request) {
  if (isAPIMart(generation.base)) {
    const Json receipts = pendingRequests();
    const auto recorded = receipts.find(generation.identity);
    if (recorded != receipts.end()) {
      // Already paid for: follow the recorded task instead of submitting again.
      return schedulePoll(recorded->get<std::string>(), generation);
    }
  }
  const LifetimeGuard alive = lifetime_.guard();
  transfer_ = ImageAPITransfer::start(std::move(request), kGenerationResponseLimit, session_,
                                      [this, alive, generation](ImageAPIOutcome outcome) {
                                        if (alive.expired()) return;
                                        receive(std::move(outcome), generation, std::nullopt);
                                      });
}

Json CustomImageAPI::pendingRequests() const {
  Json receipts = defaults_.value(kPendingRequestsKey).value_or(Json::object());
  if (!receipts.is_object()) return Json::object();
  for (const auto& [identity, id] : receipts.items()) {
    if (!id.is_string()) return Json::object();
  }
  return receipts;
}

void CustomImageAPI::receipt(const std::optional<std::string>& id, const std::string& identity) {
  Json receipts = pendingRequests();
  if (id) {
    receipts[identity] = *id;
  } else {
    receipts.erase(identity);
  }
  defaults_.set(kPendingRequestsKey, std::move(receipts));
}

void CustomImageAPI::schedulePoll(const std::string& id, const Generation& generation) {
  if (!isCurrent(generation.token) || clock_.now() >= generation.deadline) return;
  if (pollWork_) pollWork_->cancel();
  const LifetimeGuard alive = lifetime_.guard();
  pollWork_ = clock_.after(kPollInterval, [this, alive, id, generation] {
    if (alive.expired() || !isCurrent(generation.token) || clock_.now() >= generation.deadline) {
      return;
    }
    poll(id, generation);
  });
}

void CustomImageAPI::poll(const std::string& id, const Generation& generation) {
  HttpRequest request;
  try {
    request.url = taskURL(id, generation.base).absoluteString();
  } catch (const LocalAgentFailure& failure) {
    // Only a damaged receipt can hold an id the provider never gave; it can
    // never be polled, so keeping it would refuse this request forever.
    receipt(std::nullopt, generation.identity);
    return finish(generation.token, std::nullopt, failure, generation.completion);
  }
  request.timeout = kRequestTimeout;
  request.headers = {{"Authorization", "Bearer " + generation.secret}};
  const LifetimeGuard alive = lifetime_.guard();
  transfer_ = ImageAPITransfer::start(std::move(request), kTaskPollLimit, session_,
                                      [this, alive, id, generation](ImageAPIOutcome outcome) {
                                        if (alive.expired()) return;
                                        receive(std::move(outcome), generation, id);
                                      });
}

void CustomImageAPI::receive(ImageAPIOutcome outcome, const Generation& generation,
                             const std::optional<std::string>& expectedTask) {
  if (!isCurrent(generation.token)) return;
  if (expectedTask && retryablePoll(outcome)) {
    // A passing problem while polling: ask again; the deadline reports if it passes.
    return schedulePoll(*expectedTask, generation);
  }
  onImageQueue(generation, [outcome = std::move(outcome), generation, expectedTask]() mutable {
    const Bytes body = checked(std::move(outcome)).take();
    ImageResponse response = imageResponse(body, generation.base, expectedTask);
    auto* image = std::get_if<Base64Image>(&response);
    if (image == nullptr) return Step(std::move(response));
    // Whatever format the provider sent, the gate reads the bytes themselves.
    image->text.insert(0, kPNGDataURLPrefix);
    return Step(
        resultDictionary(image_gate::decodeImage(image->text), generation.model, generation.token));
  });
}

void CustomImageAPI::onImageQueue(const Generation& generation, std::function<Step()> work) {
  const LifetimeGuard alive = lifetime_.guard();
  imageQueue_.post([this, alive, generation, work = std::move(work)] {
    Result<Step> step = resultOf(work);
    MainQueue::shared().post([this, alive, generation, step = std::move(step)]() mutable {
      if (alive.expired() || !isCurrent(generation.token)) return;
      handle(std::move(step), generation);
    });
  });
}

void CustomImageAPI::handle(Result<Step> step, const Generation& generation) {
  if (!step)
    return finish(generation.token, generation.identity, step.failure(), generation.completion);
  if (auto* result = std::get_if<Json>(&step.value())) {
    return finish(generation.token, generation.identity, std::move(*result), generation.completion);
  }
  const ImageResponse& response = std::get<ImageResponse>(step.value());
  if (const auto* remote = std::get_if<RemoteImage>(&response)) {
    return download(remote->url, generation);
  }
  if (const auto* pending = std::get_if<PendingTask>(&response)) {
    if (clock_.now() >= generation.deadline) {
      return finish(generation.token, generation.identity,
                    LocalAgentFailure(kTaskStillPendingMessage), generation.completion);
    }
    defaults_.set(kLastTaskKey, pending->id);
    defaults_.set(kLastTaskBaseKey, generation.base.absoluteString());
    receipt(pending->id, generation.identity);
    return schedulePoll(pending->id, generation);
  }
  // The provider settled the task without an image: a new request may be paid for.
  receipt(std::nullopt, generation.identity);
  finish(generation.token, generation.identity, LocalAgentFailure(kTaskFailedMessage),
         generation.completion);
}

void CustomImageAPI::download(const URL& url, const Generation& generation) {
  HttpRequest request;
  request.url = url.absoluteString();
  request.timeout = kRequestTimeout;
  const LifetimeGuard alive = lifetime_.guard();
  transfer_ = ImageAPITransfer::start(
      std::move(request), kImageDownloadLimit, session_,
      [this, alive, generation](ImageAPIOutcome outcome) {
        if (alive.expired() || !isCurrent(generation.token)) return;
        onImageQueue(generation, [outcome = std::move(outcome), generation]() mutable {
          const Bytes bytes = checked(std::move(outcome)).take();
          return Step(
              resultDictionary(image_gate::decodeBytes(bytes), generation.model, generation.token));
        });
      });
}

void CustomImageAPI::finish(const std::string& token, const std::optional<std::string>& identity,
                            Result<Json> result, GenerationCompletion completion) {
  if (!isCurrent(token)) return;
  if (result) {
    if (identity && pendingRequests().contains(*identity)) receipt(std::nullopt, *identity);
    defaults_.set(kVerifiedKey, true);
  }
  clearGeneration();
  completion(std::move(result));
}

void CustomImageAPI::finishCancellation(const std::string& token, const std::string& message,
                                        GenerationCompletion completion) {
  if (!isCurrent(token)) return;
  const std::shared_ptr<ImageAPITransfer> inFlight = transfer_;
  clearGeneration();
  // Its own completion then finds the generation gone and does nothing.
  if (inFlight) inFlight->cancel();
  completion(LocalAgentFailure(message));
}

void CustomImageAPI::clearGeneration() {
  generationID_.reset();
  running_ = false;
  transfer_.reset();
  cancelActive_ = nullptr;
  if (pollWork_) pollWork_->cancel();
  pollWork_.reset();
  if (deadlineWork_) deadlineWork_->cancel();
  deadlineWork_.reset();
}

}  // namespace glimmet
