// Image responses: what a submission answer or an API Mart task answer means,
// and which result image URLs may be fetched.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "core/failure.h"
#include "imageapi/custom_image_api.h"

namespace glimmet {
namespace {

constexpr const char* kFormatMessage = "服务商返回的图片响应格式无效";
constexpr const char* kNoImageMessage = "响应不包含图片，请确认图片接口兼容性";
constexpr const char* kForeignTaskMessage = "该服务返回异步任务，当前仅接入 API Mart 的任务协议";
constexpr const char* kTaskIdMessage = "服务商返回的任务编号无效";
constexpr const char* kTaskMismatchMessage = "任务响应与本次生成不匹配";
constexpr const char* kUnknownStatusMessage =
    "服务商返回了未知任务状态；请先查看原任务，勿重复提交";
constexpr const char* kTaskWithoutImageMessage = "任务已结束，但未返回图片";
constexpr const char* kRemoteImageMessage = "服务未返回可读取的 HTTPS 图片";

constexpr std::array<std::string_view, 5> kRunningStatuses = {"pending", "submitted", "queued",
                                                              "processing", "running"};
constexpr std::array<std::string_view, 3> kFailedStatuses = {"failed", "cancelled", "canceled"};
constexpr std::size_t kMaxTaskIdBytes = 128;

bool contains(const auto& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// The text entry `name` of an object, or none.
const std::string* textEntry(const Json& object, std::string_view name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? &found->get_ref<const std::string&>()
                                                     : nullptr;
}

// Providers may refuse in the body while answering HTTP 200.
void checkCode(const Json& object) {
  const auto code = object.find("code");
  if (code == object.end() || !code->is_number_integer()) return;
  const bool accepted = code->is_number_unsigned()
                            ? code->get<std::uint64_t>() >= 200 && code->get<std::uint64_t>() <= 299
                            : code->get<std::int64_t>() >= 200 && code->get<std::int64_t>() <= 299;
  if (!accepted) {
    throw LocalAgentFailure("服务商未接受请求（" + code->dump() + "），请检查账户额度和模型");
  }
}

std::optional<std::string> firstURL(const Json& image) {
  const auto url = image.find("url");
  if (url == image.end()) return std::nullopt;
  if (url->is_array() && !url->empty() &&
      std::all_of(url->begin(), url->end(), [](const Json& item) { return item.is_string(); })) {
    return url->front().get<std::string>();
  }
  if (url->is_string()) return url->get<std::string>();
  return std::nullopt;
}

CustomImageAPI::ImageResponse taskResponse(const Json& object, const URL& base,
                                           const std::string& expected) {
  if (!CustomImageAPI::isAPIMart(base)) throw LocalAgentFailure(kTaskMismatchMessage);
  const auto data = object.find("data");
  if (data == object.end() || !data->is_object()) throw LocalAgentFailure(kTaskMismatchMessage);
  const std::string* id = textEntry(*data, "id");
  const std::string* status = textEntry(*data, "status");
  if (id == nullptr || *id != expected || status == nullptr)
    throw LocalAgentFailure(kTaskMismatchMessage);

  if (contains(kRunningStatuses, *status)) return CustomImageAPI::PendingTask{expected};
  if (contains(kFailedStatuses, *status)) return CustomImageAPI::FailedTask{};
  if (*status != "completed") throw LocalAgentFailure(kUnknownStatusMessage);

  const auto result = data->find("result");
  if (result == data->end() || !result->is_object())
    throw LocalAgentFailure(kTaskWithoutImageMessage);
  const auto images = result->find("images");
  if (images == result->end() || !images->is_array() || images->empty() ||
      !images->front().is_object()) {
    throw LocalAgentFailure(kTaskWithoutImageMessage);
  }
  return CustomImageAPI::remoteImage(firstURL(images->front()));
}

}  // namespace

CustomImageAPI::ImageResponse CustomImageAPI::imageResponse(
    const Bytes& body, const URL& base, const std::optional<std::string>& expectedTask) {
  Json object = parseJson(body);
  if (object.is_discarded()) throw LocalAgentFailure(kUnreadableJsonMessage);
  if (!object.is_object()) throw LocalAgentFailure(kFormatMessage);
  checkCode(object);
  if (expectedTask) return taskResponse(object, base, *expectedTask);

  const auto data = object.find("data");
  if (data == object.end() || !data->is_array() || data->empty() ||
      !std::all_of(data->begin(), data->end(), [](const Json& item) { return item.is_object(); })) {
    throw LocalAgentFailure(kNoImageMessage);
  }
  Json& first = data->front();
  if (const std::string* task = textEntry(first, "task_id")) {
    if (!isAPIMart(base)) throw LocalAgentFailure(kForeignTaskMessage);
    (void)taskURL(*task, base);
    return PendingTask{*task};
  }
  if (const auto b64 = first.find("b64_json"); b64 != first.end() && b64->is_string()) {
    // Moved out: the text may be over 13 MiB.
    return Base64Image{std::move(b64->get_ref<std::string&>())};
  }
  const std::string* url = textEntry(first, "url");
  return remoteImage(url ? std::optional<std::string>(*url) : std::nullopt);
}

CustomImageAPI::ImageResponse CustomImageAPI::remoteImage(const std::optional<std::string>& text) {
  if (!text) throw LocalAgentFailure(kRemoteImageMessage);
  auto url = URL::parse(*text);
  if (!url) throw LocalAgentFailure(kRemoteImageMessage);
  const URLComponents& parts = url->components();
  if (parts.scheme != "https" || !parts.host || parts.host->empty() || parts.user ||
      parts.password) {
    throw LocalAgentFailure(kRemoteImageMessage);
  }
  return RemoteImage{std::move(*url)};
}

URL CustomImageAPI::taskURL(std::string_view id, const URL& base) {
  const bool valid =
      !id.empty() && id.size() <= kMaxTaskIdBytes && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
      });
  if (!valid) throw LocalAgentFailure(kTaskIdMessage);
  return base.appendingPathComponent("tasks").appendingPathComponent(id);
}

}  // namespace glimmet
