#include "cloud/plumora_cloud_account.h"

#include <glib.h>

#include <algorithm>
#include <utility>

#include "cloud/cloud_constants.h"
#include "core/files.h"
#include "core/text.h"
#include "core/uuid.h"

namespace glimmet {
namespace {

constexpr const char* kLogInFirstMessage = "请先登录 Glimmet 账号";
constexpr const char* kInvalidPathMessage = "请求路径无效";
constexpr const char* kInvalidResponseMessage = "云端响应无效或过大";
constexpr const char* kRedirectedMessage = "云端请求发生了意外重定向";
constexpr const char* kLoginStartFailedMessage = "无法启动账号登录，请稍后重试";
constexpr const char* kLoginExpiredMessage = "设备登录已过期，请重新登录";
constexpr const char* kLoginAnswerInvalidMessage = "登录返回无效";
constexpr const char* kLoginDeclinedMessage = "你已拒绝此设备登录";
constexpr const char* kLoginEndedMessage = "设备登录已结束，请重新登录";
constexpr const char* kKeychainAddFailedMessage = "无法将账号保存到钥匙串";
constexpr const char* kKeychainUpdateFailedMessage = "无法更新账号钥匙串";
constexpr const char* kKeychainRemoveFailedMessage = "无法从钥匙串移除账号，请重试";
constexpr const char* kLogoutFailedMessage = "退出未完成，请重试";
constexpr const char* kBadParametersMessage = "请求参数无效";
constexpr const char* kBadAnswerFormatMessage = "云端返回格式无效";
constexpr const char* kBadUploadMessage = "上传文件无效";
constexpr const char* kUnsupportedUploadMessage = "文件格式或大小不支持";
constexpr const char* kBadUploadAnswerMessage = "上传响应无效";
constexpr const char* kUploadFailedMessage = "上传失败";
constexpr const char* kBadWorkIdMessage = "作品编号无效";
constexpr const char* kAssetUnavailableMessage = "作品暂时无法读取";

constexpr std::size_t kReferenceUploadLimit = std::size_t{4} << 20;
constexpr std::size_t kSkillUploadLimit = std::size_t{20} << 20;
constexpr std::size_t kAssetLimit = std::size_t{24} << 20;
// Saved works are the user's documents, readable like any file they create.
constexpr mode_t kSavedWorkMode = 0644;

bool isAllowedRequestPath(const std::string& path) {
  return path.size() > 1 && path.front() == '/' &&
         std::all_of(path.begin(), path.end(),
                     [](char c) { return g_ascii_isalnum(c) || c == '/' || c == '_' || c == '-'; });
}

bool isDownloadableType(std::string_view mime) {
  return mime == "image/png" || mime == "image/jpeg" || mime == "image/webp" || mime == "video/mp4";
}

// The longest code lifetime taken from the website, so a huge "expires_in"
// cannot overflow the clock's arithmetic.
constexpr std::chrono::seconds kLongestCodeLifetime{24 * 60 * 60};

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

bool isUtf8(std::string_view text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) != FALSE;
}

std::string serviceName() { return std::string(cloud::kKeychainService); }
std::string accountName() { return std::string(cloud::kKeychainAccount); }

// The answer body as a JSON value, or the JSON failure.
CloudResult<Json> parsed(const HttpResponse& response) {
  Json value = parseJson(response.body);
  if (value.is_discarded()) return jsonFailure();
  return value;
}

std::optional<std::string> textEntry(const Json& object, const char* name) {
  auto entry = object.find(name);
  if (entry == object.end() || !entry->is_string()) return std::nullopt;
  return entry->get<std::string>();
}

CloudCall jsonPost(std::string path, const Json& body, bool authenticated) {
  CloudCall call;
  call.path = std::move(path);
  call.method = "POST";
  call.body = bytesOf(body.dump());
  call.mime = "application/json";
  call.authenticated = authenticated;
  call.limit = cloud::kResponseLimit;
  return call;
}

}  // namespace

PlumoraCloudAccount::PlumoraCloudAccount(URL origin, SecretStore& secrets, Workspace& workspace,
                                         FilePanels& panels, Clock& clock,
                                         HttpSessionConfiguration session)
    : origin_(std::move(origin)),
      secrets_(secrets),
      workspace_(workspace),
      panels_(panels),
      clock_(clock),
      session_(std::move(session)) {}

URL PlumoraCloudAccount::websiteOrigin() { return *URL::parse(cloud::kWebsiteOrigin); }

CloudResult<std::string> PlumoraCloudAccount::token() const {
  std::string value = secrets_.read(serviceName(), accountName()).value_or("");
  if (value.empty() || !isUtf8(value)) return cloudFailure(kLogInFirstMessage);
  return value;
}

void PlumoraCloudAccount::send(const CloudCall& call, SendCompletion completion) {
  if (!call.path.starts_with("/api/") || call.path.find("..") != std::string::npos ||
      call.path.find('?') != std::string::npos) {
    completion(cloudFailure(kInvalidPathMessage));
    return;
  }
  std::string originText = origin_.absoluteString();
  while (originText.ends_with('/')) originText.pop_back();
  std::optional<URL> url = URL::parse(originText + call.path);
  if (!url) {
    completion(cloudFailure(kInvalidPathMessage));
    return;
  }

  HttpRequest request;
  request.method = call.method;
  request.url = url->absoluteString();
  request.timeout = cloud::kRequestTimeout;
  std::string originHeader = originText;
  originHeader.erase(0, originHeader.find_first_not_of('/'));
  request.headers = {{"User-Agent", std::string(cloud::kUserAgent)}, {"Origin", originHeader}};
  if (call.body) {
    request.body = *call.body;
    request.headers.emplace_back("Content-Type", call.mime);
  }
  if (call.idempotencyKey) request.headers.emplace_back("Idempotency-Key", *call.idempotencyKey);
  if (call.authenticated) {
    CloudResult<std::string> bearer = token();
    if (!bearer) {
      completion(bearer.failure());
      return;
    }
    request.headers.emplace_back("Authorization", "Bearer " + bearer.value());
  }

  // The HTTP layer never follows a redirect, so a 3xx answer comes back as the
  // response and its Location is never fetched; the host check below still
  // guards the answer's URL in case that ever changes.
  std::optional<std::string> host = origin_.components().host;
  std::lock_guard flight(flightLock_);
  const std::uint64_t id = nextTransfer_++;
  const auto finished = [this, id] {
    std::lock_guard guard(flightLock_);
    transfers_.erase(id);
    flightDone_.notify_all();
  };
  // The completion runs on the pool after start() returns, so it finds the
  // transfer recorded (this lock is held until then).
  transfers_[id] = HttpTransfer::start(
      std::move(request), call.limit, session_, GlobalPool::shared(),
      [host, completion = std::move(completion), finished](HttpOutcome outcome) {
        deliver(std::move(outcome), host, completion);
        finished();
      });
}

PlumoraCloudAccount::~PlumoraCloudAccount() {
  // Completions reach into the account: stop every exchange and wait until
  // their completions have returned.
  std::unique_lock flight(flightLock_);
  for (const auto& [id, transfer] : transfers_) transfer->cancel();
  flightDone_.wait(flight, [this] { return transfers_.empty(); });
}

void PlumoraCloudAccount::deliver(HttpOutcome outcome, const std::optional<std::string>& host,
                                  const SendCompletion& completion) {
  if (auto* failure = std::get_if<HttpFailure>(&outcome)) {
    if (failure->kind == HttpFailure::Kind::network) {
      completion(networkFailure(failure->problem));
    } else {
      completion(cloudFailure(kInvalidResponseMessage));
    }
    return;
  }
  auto& response = std::get<HttpResponse>(outcome);
  std::optional<URL> answered = URL::parse(response.url);
  if (!answered || answered->components().host != host) {
    completion(cloudFailure(kRedirectedMessage));
    return;
  }
  completion(std::move(response));
}

void PlumoraCloudAccount::beginLogin(Completion completion) {
  send(jsonPost("/api/auth/device/code", {{"client_id", std::string(cloud::kClientId)}}, false),
       [this, completion = std::move(completion)](CloudResult<HttpResponse> outcome) {
         if (!outcome) return completion(outcome.failure());
         CloudResult<DeviceCodeGrant> grant = deviceCodeGrant(outcome.value(), origin_);
         if (!grant) return completion(grant.failure());
         {
           std::lock_guard guard(lock_);
           TimePoint now = clock_.now();
           pendingCode_ = grant.value().deviceCode;
           pendingExpiry_ = now + grant.value().lifetime;
           nextPoll_ = now + cloud::kPollInterval;
         }
         std::string pageText = grant.value().page.absoluteString();
         MainQueue::shared().post(
             [&workspace = workspace_, pageText] { workspace.openUrl(pageText); });
         completion(Json{{"userCode", grant.value().userCode}, {"verificationUri", pageText}});
       });
}

void PlumoraCloudAccount::pollLogin(Completion completion) {
  std::string deviceCode;
  {
    std::lock_guard guard(lock_);
    TimePoint now = clock_.now();
    if (!pendingCode_ || pendingExpiry_ <= now) {
      completion(cloudFailure(kLoginExpiredMessage));
      return;
    }
    if (polling_ || nextPoll_ > now) {
      completion(Json{{"pending", true}});
      return;
    }
    polling_ = true;
    nextPoll_ = now + cloud::kPollInterval;
    deviceCode = *pendingCode_;
  }
  Json body = {{"client_id", std::string(cloud::kClientId)},
               {"device_code", deviceCode},
               {"grant_type", "urn:ietf:params:oauth:grant-type:device_code"}};
  send(jsonPost("/api/auth/device/token", body, false),
       [this, completion = std::move(completion)](const CloudResult<HttpResponse>& outcome) {
         {
           std::lock_guard guard(lock_);
           polling_ = false;
         }
         finishPoll(outcome, completion);
       });
}

void PlumoraCloudAccount::finishPoll(const CloudResult<HttpResponse>& outcome,
                                     const Completion& completion) {
  if (!outcome) return completion(outcome.failure());
  CloudResult<TokenPoll> poll = tokenPoll(outcome.value());
  if (!poll) return completion(poll.failure());
  if (const std::optional<std::string>& accessToken = poll.value().accessToken) {
    if (std::optional<CloudError> failure = storeToken(*accessToken)) {
      return completion(*failure);
    }
    {
      std::lock_guard guard(lock_);
      pendingCode_.reset();
    }
    return completion(Json{{"pending", false}});
  }
  if (poll.value().slowDown) {
    std::lock_guard guard(lock_);
    nextPoll_ = clock_.now() + cloud::kSlowDownInterval;
  }
  completion(Json{{"pending", true}});
}

std::optional<CloudError> PlumoraCloudAccount::storeToken(const std::string& token) {
  switch (secrets_.update(serviceName(), accountName(), token)) {
    case SecretStore::UpdateStatus::updated:
      return std::nullopt;
    case SecretStore::UpdateStatus::notFound:
      if (secrets_.add(serviceName(), accountName(), token)) return std::nullopt;
      return cloudFailure(kKeychainAddFailedMessage);
    case SecretStore::UpdateStatus::failed:
      break;
  }
  return cloudFailure(kKeychainUpdateFailedMessage);
}

void PlumoraCloudAccount::logout(Completion completion) {
  send(jsonPost("/api/auth/sign-out", Json::object(), true),
       [this, completion = std::move(completion)](CloudResult<HttpResponse> outcome) {
         if (!outcome) return completion(outcome.failure());
         long status = outcome.value().status;
         if (status != 200 && status != 401) return completion(cloudFailure(kLogoutFailedMessage));
         // Reporting success while the token stays stored would leave the user
         // signed in on this device without knowing it.
         if (!secrets_.remove(serviceName(), accountName())) {
           return completion(cloudFailure(kKeychainRemoveFailedMessage));
         }
         completion(Json(true));
       });
}

void PlumoraCloudAccount::request(const Json& value, Completion completion) {
  std::optional<std::string> path = value.is_object() ? textEntry(value, "path") : std::nullopt;
  std::optional<std::string> method = value.is_object() ? textEntry(value, "method") : std::nullopt;
  if (!path || !isAllowedRequestPath(*path) || (method != "GET" && method != "POST")) {
    completion(cloudFailure(kBadParametersMessage));
    return;
  }
  CloudCall call;
  call.path = "/api/v1" + *path;
  call.method = *method;
  call.mime = "application/json";
  call.authenticated = true;
  call.limit = cloud::kResponseLimit;
  if (*method == "POST") {
    Json body = value.value("body", Json());
    if (body.is_null()) body = Json::object();
    // The website reads a JSON document, whose top level is an object or an
    // array; text that cannot be written as JSON renders as "null".
    std::string text = body.is_object() || body.is_array() ? json(body) : "null";
    if (text == "null") {
      completion(cloudFailure(kBadParametersMessage));
      return;
    }
    call.body = bytesOf(text);
  }
  call.idempotencyKey = textEntry(value, "requestKey");
  send(call, [completion = std::move(completion)](CloudResult<HttpResponse> outcome) {
    if (!outcome) return completion(outcome.failure());
    completion(requestAnswer(outcome.value()));
  });
}

void PlumoraCloudAccount::upload(const Json& value, Completion completion) {
  std::optional<std::string> data = value.is_object() ? textEntry(value, "data") : std::nullopt;
  std::size_t comma = data ? data->find(',') : std::string::npos;
  std::optional<Bytes> bytes;
  if (data && data->starts_with("data:") && comma != std::string::npos &&
      std::string_view(*data).substr(0, comma).ends_with(";base64")) {
    bytes = base64Decode(std::string_view(*data).substr(comma + 1));
  }
  if (!bytes) {
    completion(cloudFailure(kBadUploadMessage));
    return;
  }
  std::string mime = data->substr(5, data->find(';') - 5);
  bool skill = textEntry(value, "kind").value_or("reference") == "skill";
  bool allowed = skill ? mime == "application/zip" && bytes->size() <= kSkillUploadLimit
                       : (mime == "image/png" || mime == "image/jpeg" || mime == "image/webp") &&
                             bytes->size() <= kReferenceUploadLimit;
  if (!allowed) {
    completion(cloudFailure(kUnsupportedUploadMessage));
    return;
  }
  CloudCall call;
  call.path = skill ? "/api/v1/library/packages" : "/api/v1/assets/upload";
  call.method = "POST";
  call.body = std::move(*bytes);
  call.mime = mime;
  call.idempotencyKey = Uuid::random().string();
  call.authenticated = true;
  call.limit = cloud::kResponseLimit;
  send(call, [completion = std::move(completion)](CloudResult<HttpResponse> outcome) {
    if (!outcome) return completion(outcome.failure());
    completion(uploadAnswer(outcome.value()));
  });
}

void PlumoraCloudAccount::asset(const std::string& id, bool save, Completion completion) {
  if (!Uuid::parse(id)) {
    completion(cloudFailure(kBadWorkIdMessage));
    return;
  }
  CloudCall call;
  call.path = "/api/v1/assets/" + id + "/download";
  call.authenticated = true;
  call.limit = kAssetLimit;
  send(call, [this, id, save,
              completion = std::move(completion)](CloudResult<HttpResponse> outcome) mutable {
    if (!outcome) return completion(outcome.failure());
    HttpResponse& response = outcome.value();
    // The media type without parameters such as "; charset=binary".
    std::string mime = response.header("Content-Type").value_or("");
    mime = text::trimmed(mime.substr(0, mime.find(';')));
    if (response.status != 200 || !isDownloadableType(mime)) {
      return completion(cloudFailure(kAssetUnavailableMessage));
    }
    if (!save) return completion(Json("data:" + mime + ";base64," + base64Encode(response.body)));

    SavePanelRequest panel{"Glimmet-" + id + "." + mime.substr(mime.rfind('/') + 1)};
    MainQueue::shared().post([&panels = panels_, panel = std::move(panel),
                              body = std::move(response.body),
                              completion = std::move(completion)]() mutable {
      panels.runSavePanel(panel, [body = std::move(body), completion = std::move(completion)](
                                     std::optional<std::filesystem::path> location) {
        if (!location) return completion(Json(false));
        try {
          writeFileAtomically(
              *location, std::string_view(reinterpret_cast<const char*>(body.data()), body.size()),
              kSavedWorkMode);
        } catch (const LocalAgentFailure& failure) {
          return completion(cloudFailure(failure.message()));
        }
        completion(Json(true));
      });
    });
  });
}

CloudResult<PlumoraCloudAccount::DeviceCodeGrant> PlumoraCloudAccount::deviceCodeGrant(
    const HttpResponse& response, const URL& origin) {
  CloudResult<Json> answer = parsed(response);
  if (!answer) return answer.failure();
  const Json& object = answer.value();
  if (response.status != 200 || !object.is_object()) {
    return cloudFailure(kLoginStartFailedMessage);
  }
  std::optional<std::string> deviceCode = textEntry(object, "device_code");
  std::optional<std::string> userCode = textEntry(object, "user_code");
  std::optional<std::string> verification = object.contains("verification_uri_complete")
                                                ? textEntry(object, "verification_uri_complete")
                                                : textEntry(object, "verification_uri");
  std::optional<URL> page = verification ? URL::parse(*verification) : std::nullopt;
  if (!deviceCode || !userCode || !page || page->components().scheme != "https" ||
      page->components().host != origin.components().host) {
    return cloudFailure(kLoginStartFailedMessage);
  }

  std::chrono::seconds lifetime = cloud::kDefaultCodeLifetime;
  auto expiresIn = object.find("expires_in");
  if (expiresIn != object.end() && expiresIn->is_number_integer()) {
    // A negative lifetime means the code is already dead.
    std::int64_t longest = kLongestCodeLifetime.count();
    std::int64_t seconds =
        expiresIn->is_number_unsigned()
            ? static_cast<std::int64_t>(
                  std::min<std::uint64_t>(expiresIn->get<std::uint64_t>(), longest))
            : std::clamp<std::int64_t>(expiresIn->get<std::int64_t>(), -longest, longest);
    lifetime = std::chrono::seconds(seconds);
  }
  return DeviceCodeGrant{*deviceCode, *userCode, std::move(*page), lifetime};
}

CloudResult<PlumoraCloudAccount::TokenPoll> PlumoraCloudAccount::tokenPoll(
    const HttpResponse& response) {
  CloudResult<Json> answer = parsed(response);
  if (!answer) return answer.failure();
  const Json& object = answer.value();
  if (!object.is_object()) return cloudFailure(kLoginAnswerInvalidMessage);

  std::optional<std::string> accessToken = textEntry(object, "access_token");
  if (response.status == 200 && accessToken) return TokenPoll{std::move(accessToken)};

  std::string error = textEntry(object, "error").value_or("");
  if (error == "authorization_pending") return TokenPoll{};
  if (error == "slow_down") return TokenPoll{std::nullopt, true};
  if (error == "access_denied") return cloudFailure(kLoginDeclinedMessage);
  return cloudFailure(kLoginEndedMessage);
}

CloudResult<Json> PlumoraCloudAccount::requestAnswer(const HttpResponse& response) {
  CloudResult<Json> answer = parsed(response);
  if (!answer) return answer;
  if (!answer.value().is_object()) return cloudFailure(kBadAnswerFormatMessage);
  answer.value()["httpStatus"] = response.status;
  return answer;
}

CloudResult<Json> PlumoraCloudAccount::uploadAnswer(const HttpResponse& response) {
  CloudResult<Json> answer = parsed(response);
  if (!answer) return answer;
  Json& object = answer.value();
  if (!object.is_object()) return cloudFailure(kBadUploadAnswerMessage);
  if (response.status < 300 && object.contains("data")) return std::move(object["data"]);
  return cloudFailure(textEntry(object, "message").value_or(kUploadFailedMessage));
}

bool PlumoraCloudAccount::open(const std::string& url) {
  std::optional<URL> page = URL::parse(url);
  if (!page) return false;
  const URLComponents& parts = page->components();
  if (parts.scheme != "https" || parts.user || parts.password || !parts.host) return false;
  const std::string& host = *parts.host;
  if (host != origin_.components().host && host != cloud::kCheckoutHost &&
      host != cloud::kBillingHost) {
    return false;
  }
  return workspace_.openUrl(url);
}

}  // namespace glimmet
