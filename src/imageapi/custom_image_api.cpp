#include "imageapi/custom_image_api.h"

#include <glib.h>

#include <algorithm>
#include <cctype>

#include "core/text.h"
#include "imageapi/image_api_constants.h"

namespace glimmet {
namespace {

using namespace imageapi;

constexpr const char* kBaseURLMessage = "请输入 HTTPS Base URL，不含密钥、查询参数或账号密码";
constexpr const char* kBusyConfigureMessage = "请等待当前请求结束后修改服务";
constexpr const char* kModelMessage = "请填写图片模型名称";
constexpr const char* kKeyFormatMessage = "API Key 格式无效";
constexpr const char* kKeyMissingMessage = "请在配置中填写 API Key，并允许 Glimmet 访问钥匙串";
constexpr const char* kKeyUpdateMessage = "无法更新钥匙串，原配置已保留";
constexpr const char* kKeyAddMessage = "无法将 API Key 保存到钥匙串，原配置已保留";
constexpr const char* kModelNotListedMessage =
    "连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成";

std::string lowercased(std::string value) {
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return value;
}

std::string trimmedSlashes(std::string_view value) {
  while (!value.empty() && value.front() == '/') value.remove_prefix(1);
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  return std::string(value);
}

bool listsModel(const Json& list, const std::string& model) {
  if (!list.is_object()) return false;
  const auto data = list.find("data");
  if (data == list.end() || !data->is_array()) return false;
  if (!std::all_of(data->begin(), data->end(), [](const Json& item) { return item.is_object(); })) {
    return false;
  }
  return std::any_of(data->begin(), data->end(), [&](const Json& item) {
    const auto id = item.find("id");
    return id != item.end() && id->is_string() && id->get<std::string>() == model;
  });
}

}  // namespace

std::string imageapi::textEntry(const Json& value, std::string_view name) {
  const auto found = value.find(name);
  return found != value.end() && found->is_string() ? found->get<std::string>() : std::string();
}

CustomImageAPI::CustomImageAPI(DefaultsStore& defaults, SecretStore& secrets, Clock& clock,
                               HttpSessionConfiguration session)
    : defaults_(defaults),
      secrets_(secrets),
      clock_(clock),
      session_(std::move(session)),
      imageQueue_(std::string(kImageQueueLabel)) {}

CustomImageAPI::~CustomImageAPI() {
  // Completions and scheduled work find the client gone before anything stops,
  // so stopping them reaches no half-destroyed state.
  lifetime_.end();
  if (pollWork_) pollWork_->cancel();
  if (deadlineWork_) deadlineWork_->cancel();
  if (const auto transfer = transfer_) transfer->cancel();
}

Json CustomImageAPI::status() const {
  return Json{{"baseURL", defaults_.string(kBaseKey).value_or("")},
              {"model", defaults_.string(kModelKey).value_or("")},
              {"hasKey", defaults_.boolean(kHasKeyKey).value_or(false)},
              {"verified", defaults_.boolean(kVerifiedKey).value_or(false)}};
}

URL CustomImageAPI::baseURL(std::string_view candidate) {
  if (text::graphemeCount(candidate) > kMaxBaseURLCharacters)
    throw LocalAgentFailure(kBaseURLMessage);
  // Parsed as written, so the scheme is compared before anything lower-cases it.
  const auto url = URL::parse(candidate);
  if (!url) throw LocalAgentFailure(kBaseURLMessage);
  const URLComponents& parts = url->components();
  if (parts.scheme != "https" || !parts.host || parts.host->empty() || parts.user ||
      parts.password || parts.query || parts.fragment ||
      text::containsWhitespaceOrLineBreak(candidate)) {
    throw LocalAgentFailure(kBaseURLMessage);
  }
  return *url;
}

std::string CustomImageAPI::normalised(const URL& base) {
  return trimmedSlashes(base.absoluteString());
}

CustomImageAPI::KeychainQuery CustomImageAPI::query(const std::string& account) {
  return KeychainQuery{std::string(kKeychainService), account};
}

std::string CustomImageAPI::key(const std::string& account) const {
  const KeychainQuery item = query(account);
  const auto secret = secrets_.read(item.service, item.account);
  if (!secret || secret->empty() || !g_utf8_validate_len(secret->data(), secret->size(), nullptr)) {
    throw LocalAgentFailure(kKeyMissingMessage);
  }
  return *secret;
}

bool CustomImageAPI::isAPIMart(const URL& url) {
  const URLComponents& parts = url.components();
  return parts.host && lowercased(*parts.host) == kAPIMartHost &&
         (!parts.port || *parts.port == 443) && trimmedSlashes(parts.path) == "v1";
}

Json CustomImageAPI::configure(const Json& value) {
  if (running_) throw LocalAgentFailure(kBusyConfigureMessage);
  const std::string account = normalised(baseURL(textEntry(value, "baseURL")));

  const std::string model = textEntry(value, "model");
  if (model.empty() || model.size() > kMaxModelBytes ||
      text::containsWhitespaceOrLineBreak(model)) {
    throw LocalAgentFailure(kModelMessage);
  }

  const std::string newKey = textEntry(value, "key");
  if (newKey.empty()) {
    (void)key(account);
  } else {
    if (newKey.size() > kMaxKeyBytes || text::containsWhitespaceOrLineBreak(newKey)) {
      throw LocalAgentFailure(kKeyFormatMessage);
    }
    const KeychainQuery item = query(account);
    switch (secrets_.update(item.service, item.account, newKey)) {
      case SecretStore::UpdateStatus::updated:
        break;
      case SecretStore::UpdateStatus::notFound:
        if (!secrets_.add(item.service, item.account, newKey))
          throw LocalAgentFailure(kKeyAddMessage);
        break;
      case SecretStore::UpdateStatus::failed:
        throw LocalAgentFailure(kKeyUpdateMessage);
    }
  }

  const bool unchanged = defaults_.string(kBaseKey) == account &&
                         defaults_.string(kModelKey) == model && newKey.empty();
  defaults_.set(kBaseKey, account);
  defaults_.set(kModelKey, model);
  defaults_.set(kHasKeyKey, true);
  if (!unchanged) defaults_.set(kVerifiedKey, false);
  return status();
}

void CustomImageAPI::check(std::function<void(Result<Json>)> completion) {
  if (running_) return completion(LocalAgentFailure(kBusyMessage));
  HttpRequest request;
  try {
    const URL base = baseURL(defaults_.string(kBaseKey).value_or(""));
    request.url = base.appendingPathComponent("models").absoluteString();
    request.headers = {{"Authorization", "Bearer " + key(base.absoluteString())}};
  } catch (const LocalAgentFailure& failure) {
    return completion(failure);
  }
  request.timeout = kRequestTimeout;

  running_ = true;
  transfer_ =
      ImageAPITransfer::start(std::move(request), kModelListLimit, session_,
                              [this, alive = lifetime_.guard(),
                               completion = std::move(completion)](const ImageAPIOutcome& outcome) {
                                if (alive.expired()) return;
                                running_ = false;
                                transfer_.reset();
                                Result<Bytes> body = checked(outcome);
                                if (!body) return completion(body.failure());
                                const Json list = parseJson(body.value());
                                if (list.is_discarded())
                                  return completion(LocalAgentFailure(kUnreadableJsonMessage));
                                const std::string model = defaults_.string(kModelKey).value_or("");
                                if (!listsModel(list, model))
                                  return completion(LocalAgentFailure(kModelNotListedMessage));
                                completion(status());
                              });
}

bool CustomImageAPI::cancel() {
  if (!running_) return false;
  if (cancelActive_) {
    // Taken out first: ending the generation clears the member that holds it.
    std::function<void()> cancelGeneration;
    cancelGeneration.swap(cancelActive_);
    cancelGeneration();
  } else if (const auto transfer = transfer_) {
    transfer->cancel();
  }
  return true;
}

Result<Bytes> CustomImageAPI::checked(ImageAPIOutcome outcome) {
  if (const auto* network = std::get_if<ImageAPINetworkFailure>(&outcome)) {
    return LocalAgentFailure(network->errorDescription());
  }
  if (const auto* failure = std::get_if<LocalAgentFailure>(&outcome)) return *failure;
  auto& response = std::get<HttpResponse>(outcome);
  const long status = response.status;
  if (status >= 200 && status <= 299) return std::move(response.body);
  if (status == 401 || status == 403) return LocalAgentFailure("API Key 无效或没有模型权限");
  if (status == 402) return LocalAgentFailure("服务商账户额度不足");
  if (status == 404) return LocalAgentFailure("服务地址或模型不存在，请检查 Base URL 与模型名");
  if (status == 429) return LocalAgentFailure("服务商请求过于频繁，请稍后重试");
  if (status >= 300 && status <= 399)
    return LocalAgentFailure("服务要求重定向，请配置最终 HTTPS 地址");
  return LocalAgentFailure("服务商拒绝请求（HTTP " + std::to_string(status) +
                           "），请检查图片模型和接口兼容性");
}

bool CustomImageAPI::retryablePoll(const ImageAPIOutcome& outcome) {
  if (const auto* network = std::get_if<ImageAPINetworkFailure>(&outcome)) {
    switch (network->code) {
      case NetworkProblem::notConnectedToInternet:
      case NetworkProblem::dnsLookupFailed:
      case NetworkProblem::networkConnectionLost:
      case NetworkProblem::cannotConnectToHost:
      case NetworkProblem::cannotFindHost:
      case NetworkProblem::timedOut:
        return true;
      default:
        return false;
    }
  }
  const auto* response = std::get_if<HttpResponse>(&outcome);
  return response != nullptr &&
         (response->status == 429 || (response->status >= 500 && response->status <= 599));
}

}  // namespace glimmet
