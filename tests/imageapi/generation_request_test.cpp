#include <gtest/gtest.h>

#include <string>

#include "core/uuid.h"
#include "imageapi/custom_image_api.h"
#include "imaging/image_gate.h"
#include "support/https/fake_image_services.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::failureOf;

constexpr const char* kOpenAIBase = "https://api.example.com/v1";
constexpr const char* kAPIMartBase = "https://api.apimart.ai/v1";
constexpr const char* kTextOrRatio = "图片请求的文字或比例无效";
constexpr const char* kSeedream =
    "Seedream 参考图需大于 14px、比例在 1:3 至 3:1 之间，且不超过 3600 万像素";

std::string pngDataURL(int width, int height) {
  const std::string png = testing::testPNG(width, height);
  return "data:image/png;base64," +
         base64Encode(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
}

URL url(const char* text) { return *URL::parse(text); }

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string header(const HttpRequest& request, const std::string& name) {
  for (const auto& [key, value] : request.headers)
    if (key == name) return value;
  return "(absent)";
}

TEST(GenerationRequest, AttachmentFollowsTheMode) {
  const std::string image = "data:image/png;base64,AAAA";
  struct Row {
    Json value;
    std::string expected;  // the attachment, "none", or the failure
  };
  const Row rows[] = {
      {{{"kind", "image"}}, "none"},
      {{{"mode", 7}}, "none"},
      {{{"mode", "inpaint"}}, "当前图片 API 不支持此模式或局部蒙版"},
      {{{"mode", "direct"}, {"mask", nullptr}}, "当前图片 API 不支持此模式或局部蒙版"},
      {{{"mode", "reference"}, {"referenceImage", 3}}, "图片参数无效"},
      {{{"mode", "reference"}, {"referenceImage", image}}, image},
      {{{"mode", "reference"}, {"referenceImage", ""}}, "请添加风格参考图"},
      {{{"mode", "reference"}, {"referenceImage", image}, {"sourceImage", image}},
       "请添加风格参考图"},
      {{{"mode", "edit"}, {"sourceImage", image}}, image},
      {{{"mode", "edit"}, {"sourceImage", image}, {"referenceImage", image}}, "请添加待调整原图"},
      {{{"mode", "edit"}}, "请添加待调整原图"},
      {{{"mode", "direct"}, {"sourceImage", image}}, "图片需要选择参考风格或二次调整"},
  };
  for (const Row& row : rows) {
    std::string actual;
    try {
      actual = CustomImageAPI::attachment(row.value).value_or("none");
    } catch (const LocalAgentFailure& failure) {
      actual = failure.message();
    }
    EXPECT_EQ(actual, row.expected) << row.value.dump();
  }
}

TEST(GenerationRequest, RefusesBlankOrLongPromptsAndUnknownRatios) {
  std::string longest;
  for (int i = 0; i < 12000; ++i) longest += "字";
  struct Row {
    std::string prompt;
    std::string ratio;
    std::string expected;
  };
  const Row rows[] = {
      {" \n\t ", "1:1", kTextOrRatio},       {longest, "1:1", testing::kNoFailure},
      {longest + "字", "1:1", kTextOrRatio}, {"cat", "2:1", kTextOrRatio},
      {"c\xff", "1:1", kTextOrRatio},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(failureOf([&] {
                CustomImageAPI::request(url(kOpenAIBase), "m", "k", row.prompt, row.ratio, {});
              }),
              row.expected)
        << row.ratio << " " << row.prompt.size();
  }
  EXPECT_EQ(failureOf([&] {
              CustomImageAPI::request(url(kOpenAIBase), "m", "k", "cat", "1:1", "data:text/plain");
            }),
            "图片格式无效或超过 10 MB。");
}

TEST(GenerationRequest, OpenAIJsonRequestSizesOnlyGptImageModels) {
  struct Row {
    std::string model;
    std::string ratio;
    std::string body;
  };
  const Row rows[] = {
      {"gpt-image-1", "16:9",
       R"({"model":"gpt-image-1","n":1,"prompt":"Requested composition aspect ratio: 16:9.\nA cat","size":"1536x1024"})"},
      {"gpt-image-1", "3:4",
       R"({"model":"gpt-image-1","n":1,"prompt":"Requested composition aspect ratio: 3:4.\nA cat","size":"1024x1536"})"},
      {"dall-e-3", "16:9",
       R"({"model":"dall-e-3","n":1,"prompt":"Requested composition aspect ratio: 16:9.\nA cat"})"},
  };
  for (const Row& row : rows) {
    const HttpRequest request =
        CustomImageAPI::request(url(kOpenAIBase), row.model, "sk-1", "A cat", row.ratio, {});
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://api.example.com/v1/images/generations");
    EXPECT_EQ(header(request, "Authorization"), "Bearer sk-1");
    EXPECT_EQ(header(request, "Content-Type"), "application/json");
    EXPECT_EQ(request.timeout, std::chrono::seconds(60));
    EXPECT_EQ(text(request.body), row.body);
  }
}

TEST(GenerationRequest, OpenAIReferenceRequestIsAnOrderedMultipartForm) {
  const std::string reference = pngDataURL(20, 30);
  const Bytes png = image_gate::decodeImage(reference).data;
  for (const std::string model : {"gpt-image-1", "flux"}) {
    const HttpRequest request =
        CustomImageAPI::request(url(kOpenAIBase), model, "sk-1", " A cat", "4:3", reference);
    EXPECT_EQ(request.url, "https://api.example.com/v1/images/edits");
    const std::string type = header(request, "Content-Type");
    const std::string prefix = "multipart/form-data; boundary=Plumora-";
    ASSERT_EQ(type.substr(0, prefix.size()), prefix);
    const std::string uuid = type.substr(prefix.size());
    ASSERT_TRUE(Uuid::parse(uuid));
    EXPECT_EQ(Uuid::parse(uuid)->string(), uuid);

    const std::string boundary = "Plumora-" + uuid;
    std::string expected;
    auto part = [&](const std::string& name, const std::string& value) {
      expected += "--" + boundary;
      expected += "\r\nContent-Disposition: form-data; name=\"" + name;
      expected += "\"\r\n\r\n" + value;
      expected += "\r\n";
    };
    part("model", model);
    part("prompt", "Requested composition aspect ratio: 4:3.\n A cat");
    if (model == "gpt-image-1") part("size", "1536x1024");
    expected += "--" + boundary;
    expected +=
        "\r\nContent-Disposition: form-data; name=\"image\"; filename=\"reference.png\"\r\n"
        "Content-Type: image/png\r\n\r\n";
    expected += text(png);
    expected += "\r\n--" + boundary;
    expected += "--\r\n";
    EXPECT_EQ(text(request.body), expected) << model;
  }
}

TEST(GenerationRequest, APIMartRequestIsSortedJsonWithSeedreamOptions) {
  const std::string reference = pngDataURL(20, 30);
  const Bytes png = image_gate::decodeImage(reference).data;
  const HttpRequest request = CustomImageAPI::request(url(kAPIMartBase), "seedream-5-0-lite",
                                                      "sk-1", "A cat", "9:16", reference);
  EXPECT_EQ(request.url, "https://api.apimart.ai/v1/images/generations");
  EXPECT_EQ(header(request, "Content-Type"), "application/json");
  EXPECT_EQ(header(request, "Authorization"), "Bearer sk-1");
  EXPECT_EQ(text(request.body), R"({"image_urls":["data:image/png;base64,)" + base64Encode(png) +
                                    R"("],"model":"seedream-5-0-lite","n":1,"output_format":"png",)"
                                    R"("prompt":"A cat","resolution":"2K","size":"9:16"})");

  const HttpRequest plain =
      CustomImageAPI::request(url(kAPIMartBase), "gpt-image-1", "sk-1", "A cat", "16:9", {});
  EXPECT_EQ(text(plain.body), R"({"model":"gpt-image-1","n":1,"prompt":"A cat","size":"16:9"})");
}

TEST(GenerationRequest, SeedreamReferenceBounds) {
  struct Row {
    int width;
    int height;
    bool accepted;
  };
  for (const Row row : {Row{10, 20, false}, Row{15, 15, true}, Row{15, 45, true},
                        Row{15, 46, false}, Row{46, 15, false}}) {
    const std::string reference = pngDataURL(row.width, row.height);
    EXPECT_EQ(failureOf([&] {
                CustomImageAPI::request(url(kAPIMartBase), "seedream-5-0-lite", "k", "cat", "1:1",
                                        reference);
              }),
              row.accepted ? testing::kNoFailure : kSeedream)
        << row.width << "x" << row.height;
    // Other models take any reference the gate accepts.
    EXPECT_EQ(failureOf([&] {
                CustomImageAPI::request(url(kAPIMartBase), "other", "k", "cat", "1:1", reference);
              }),
              testing::kNoFailure);
  }
}

TEST(GenerationRequest, IdentityCoversBaseKeyAndBody) {
  const std::string body = R"({"n":1})";
  const Bytes bytes(body.begin(), body.end());
  EXPECT_EQ(CustomImageAPI::requestIdentity(url(kAPIMartBase), "sk-1", bytes),
            "2e2cdb31f3889ab5f88ea1edce988474ee06e020afad5546b40f49af5918dfa5");

  auto identity = [](const char* base, const char* key, const std::optional<std::string>& image) {
    const HttpRequest request =
        CustomImageAPI::request(url(base), "gpt-image-1", key, "A cat", "1:1", image);
    return CustomImageAPI::requestIdentity(url(base), key, request.body);
  };
  const std::string reference = pngDataURL(20, 20);
  EXPECT_EQ(identity(kAPIMartBase, "sk-1", reference), identity(kAPIMartBase, "sk-1", reference));
  EXPECT_NE(identity(kAPIMartBase, "sk-1", reference), identity(kAPIMartBase, "sk-2", reference));
  // The multipart boundary is fresh for every request.
  EXPECT_NE(identity(kOpenAIBase, "sk-1", reference), identity(kOpenAIBase, "sk-1", reference));
}

}  // namespace
}  // namespace glimmet
