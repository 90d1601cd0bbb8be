// Generation requests: which image a generation input sends, and the exact
// HTTP request each protocol expects for it.

#include <glib.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "core/digest.h"
#include "core/failure.h"
#include "core/text.h"
#include "core/uuid.h"
#include "imageapi/custom_image_api.h"
#include "imageapi/image_api_constants.h"
#include "imaging/image_gate.h"

namespace glimmet {
namespace {

constexpr const char* kModeMessage = "当前图片 API 不支持此模式或局部蒙版";
constexpr const char* kImageParameterMessage = "图片参数无效";
constexpr const char* kReferenceMissingMessage = "请添加风格参考图";
constexpr const char* kSourceMissingMessage = "请添加待调整原图";
constexpr const char* kImageNeedsModeMessage = "图片需要选择参考风格或二次调整";
constexpr const char* kTextOrRatioMessage = "图片请求的文字或比例无效";
constexpr const char* kSeedreamReferenceMessage =
    "Seedream 参考图需大于 14px、比例在 1:3 至 3:1 之间，且不超过 3600 万像素";

constexpr std::size_t kMaxPromptCharacters = 12000;
constexpr std::array<std::string_view, 5> kRatios = {"1:1", "4:3", "3:4", "16:9", "9:16"};
constexpr std::string_view kSeedreamModel = "seedream-5-0-lite";
constexpr std::string_view kPNGDataURLPrefix = "data:image/png;base64,";

bool isText(const Json& value, std::string_view name) {
  const auto found = value.find(name);
  return found != value.end() && found->is_string();
}

bool isNonEmptyText(const Json& value, std::string_view name) {
  return isText(value, name) && !value.find(name)->get_ref<const std::string&>().empty();
}

std::string modeOf(const Json& value) {
  return isText(value, "mode") ? value.find("mode")->get<std::string>() : "direct";
}

// Seedream refuses tiny, extreme or huge references; refusing here keeps the
// request from being paid for.
bool fitsSeedream(const DecodedImage& image) {
  const long long width = image.width;
  const long long height = image.height;
  return width >= 15 && height >= 15 && width * height <= 36'000'000 && width <= 3 * height &&
         height <= 3 * width;
}

// The size the gpt-image models take for a ratio; other models choose their own.
std::string_view gptImageSize(std::string_view ratio) {
  if (ratio == "1:1") return "1024x1024";
  if (ratio == "4:3" || ratio == "16:9") return "1536x1024";
  return "1024x1536";
}

bool isUTF8(const std::string& text) {
  return g_utf8_validate_len(text.data(), text.size(), nullptr);
}

Bytes serialised(const Json& object) {
  const std::string text = object.dump();
  return Bytes(text.begin(), text.end());
}

void append(Bytes& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

// Text fields in ascending name order (the map's order), then the image part.
Bytes multipartBody(const std::string& boundary, const Json& fields, const Bytes& png) {
  Bytes body;
  body.reserve(png.size() + 1024);
  for (const auto& [name, value] : fields.items()) {
    append(body, "--");
    append(body, boundary);
    append(body, "\r\nContent-Disposition: form-data; name=\"");
    append(body, name);
    append(body, "\"\r\n\r\n");
    append(body, value.get_ref<const std::string&>());
    append(body, "\r\n");
  }
  append(body, "--");
  append(body, boundary);
  append(body,
         "\r\nContent-Disposition: form-data; name=\"image\"; filename=\"reference.png\"\r\n"
         "Content-Type: image/png\r\n\r\n");
  body.insert(body.end(), png.begin(), png.end());
  append(body, "\r\n--");
  append(body, boundary);
  append(body, "--\r\n");
  return body;
}

}  // namespace

std::optional<std::string> CustomImageAPI::attachment(const Json& value) {
  const std::string mode = modeOf(value);
  if (mode != "direct" && mode != "template" && mode != "reference" && mode != "edit") {
    throw LocalAgentFailure(kModeMessage);
  }
  if (value.contains("mask")) throw LocalAgentFailure(kModeMessage);
  const bool hasSource = value.contains("sourceImage");
  const bool hasReference = value.contains("referenceImage");
  if ((hasSource && !isText(value, "sourceImage")) ||
      (hasReference && !isText(value, "referenceImage"))) {
    throw LocalAgentFailure(kImageParameterMessage);
  }
  if (mode == "reference") {
    if (!isNonEmptyText(value, "referenceImage") || hasSource)
      throw LocalAgentFailure(kReferenceMissingMessage);
    return value.find("referenceImage")->get<std::string>();
  }
  if (mode == "edit") {
    if (!isNonEmptyText(value, "sourceImage") || hasReference)
      throw LocalAgentFailure(kSourceMissingMessage);
    return value.find("sourceImage")->get<std::string>();
  }
  if (hasSource || hasReference) throw LocalAgentFailure(kImageNeedsModeMessage);
  return std::nullopt;
}

HttpRequest CustomImageAPI::request(const URL& base, const std::string& model,
                                    const std::string& secret, const std::string& prompt,
                                    const std::string& ratio,
                                    const std::optional<std::string>& reference) {
  // Invalid UTF-8 could be neither serialised nor sent as form text.
  if (!isUTF8(prompt) || !isUTF8(model) || text::trimmed(prompt).empty() ||
      text::graphemeCount(prompt) > kMaxPromptCharacters ||
      std::find(kRatios.begin(), kRatios.end(), ratio) == kRatios.end()) {
    throw LocalAgentFailure(kTextOrRatioMessage);
  }
  std::optional<DecodedImage> image;
  if (reference) image = image_gate::decodeImage(*reference);

  HttpRequest request;
  request.method = "POST";
  request.timeout = imageapi::kRequestTimeout;
  request.headers = {{"Authorization", "Bearer " + secret}};

  if (isAPIMart(base)) {
    Json body = {{"model", model}, {"prompt", prompt}, {"size", ratio}, {"n", 1}};
    if (model == kSeedreamModel) {
      body["resolution"] = "2K";
      body["output_format"] = "png";
    }
    if (image) {
      if (model == kSeedreamModel && !fitsSeedream(*image))
        throw LocalAgentFailure(kSeedreamReferenceMessage);
      body["image_urls"] =
          Json::array({std::string(kPNGDataURLPrefix) + base64Encode(image->data)});
    }
    request.url = base.appendingPathComponent("images/generations").absoluteString();
    request.headers.emplace_back("Content-Type", "application/json");
    // The object's keys are kept sorted, so equal requests serialise equally.
    request.body = serialised(body);
    return request;
  }

  Json fields = {{"model", model},
                 {"prompt", "Requested composition aspect ratio: " + ratio + ".\n" + prompt}};
  if (model.starts_with("gpt-image")) fields["size"] = gptImageSize(ratio);
  if (!image) {
    fields["n"] = 1;
    request.url = base.appendingPathComponent("images/generations").absoluteString();
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = serialised(fields);
    return request;
  }
  const std::string boundary = "Plumora-" + Uuid::random().string();
  request.url = base.appendingPathComponent("images/edits").absoluteString();
  request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
  request.body = multipartBody(boundary, fields, image->data);
  return request;
}

std::string CustomImageAPI::requestIdentity(const URL& base, const std::string& secret,
                                            const Bytes& body) {
  std::string material = base.absoluteString() + "\n" + secret;
  material.append(body.begin(), body.end());
  return sha256Hex(material);
}

}  // namespace glimmet
