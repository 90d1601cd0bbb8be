#include "imageapi/custom_image_api.h"

#include <gtest/gtest.h>

#include "imageapi/image_api_constants.h"
#include "platform/headless/memory_secret_store.h"
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::readFile;
using testing::Reply;
using testing::spinMainUntil;
using testing::TempDir;
using testing::TestHttpsService;

constexpr const char* kService = "app.plumora.native.image-api";
constexpr const char* kBase = "https://api.example.com/v1";

class CustomImageAPITest : public ::testing::Test {
 protected:
  CustomImageAPITest()
      : defaults(dir / "defaults.json"), api(defaults, secrets, clock, session()) {}

  HttpSessionConfiguration session() const {
    HttpSessionConfiguration configuration;
    configuration.trustedCAFile = service.caFile();
    configuration.connectTo = {service.connectTo("api.example.com")};
    return configuration;
  }

  static Json entry(const std::string& base, const std::string& model, const std::string& key) {
    return Json{{"baseURL", base}, {"model", model}, {"key", key}};
  }

  std::string refusal(const Json& value) {
    try {
      api.configure(value);
    } catch (const LocalAgentFailure& failure) {
      return failure.message();
    }
    return "accepted";
  }

  Result<Json> runCheck() {
    std::optional<Result<Json>> result;
    api.check([&](Result<Json> outcome) { result = std::move(outcome); });
    EXPECT_TRUE(spinMainUntil([&] { return result.has_value(); }));
    return std::move(*result);
  }

  TestHttpsService service;
  TempDir dir;
  DefaultsStore defaults;
  MemorySecretStore secrets;
  ManualClock clock;
  CustomImageAPI api;
};

TEST_F(CustomImageAPITest, RefusalsLeaveTheStoredConfigurationUntouched) {
  api.configure(entry(kBase, "gpt-image-1", "sk-old"));
  defaults.set("api.verified", true);
  const std::string before = readFile(defaults.file());

  const std::string base = "请输入 HTTPS Base URL，不含密钥、查询参数或账号密码";
  const std::string model = "请填写图片模型名称";
  const std::string keyFormat = "API Key 格式无效";
  const std::string keyMissing = "请在配置中填写 API Key，并允许 Glimmet 访问钥匙串";
  const std::vector<std::pair<Json, std::string>> rows = {
      {entry("http://api.example.com/v1", "m", "k"), base},
      {entry("HTTPS://api.example.com/v1", "m", "k"), base},
      {entry("https://user:pw@api.example.com/v1", "m", "k"), base},
      {entry("https://api.example.com/v1?key=k", "m", "k"), base},
      {entry("https://api.example.com/v1?", "m", "k"), base},
      {entry("https://api.example.com/v1#", "m", "k"), base},
      {entry("https://api.example.com/v 1", "m", "k"), base},
      {entry("https:///v1", "m", "k"), base},
      {entry("https://api.example.com/" + std::string(2049 - 24, 'a'), "m", "k"), base},
      {Json{{"baseURL", 5}, {"model", "m"}, {"key", "k"}}, base},
      {entry(kBase, "", "k"), model},
      {entry(kBase, "gpt image", "k"), model},
      {entry(kBase, std::string(129, 'm'), "k"), model},
      {entry(kBase, "m", "sk new"), keyFormat},
      {entry(kBase, "m", std::string(8193, 'k')), keyFormat},
      {entry("https://other.example.com/v1", "m", ""), keyMissing},
  };
  for (const auto& [value, expected] : rows) {
    EXPECT_EQ(refusal(value), expected) << value.dump();
  }

  secrets.setRefused(MemorySecretStore::Operation::update, true);
  EXPECT_EQ(refusal(entry(kBase, "m", "sk-new")), "无法更新钥匙串，原配置已保留");
  secrets.setRefused(MemorySecretStore::Operation::update, false);
  secrets.setRefused(MemorySecretStore::Operation::add, true);
  EXPECT_EQ(refusal(entry("https://new.example.com", "m", "sk-new")),
            "无法将 API Key 保存到钥匙串，原配置已保留");
  secrets.setRefused(MemorySecretStore::Operation::read, true);
  EXPECT_EQ(refusal(entry(kBase, "gpt-image-1", "")), keyMissing);

  EXPECT_EQ(readFile(defaults.file()), before);
  EXPECT_EQ(DefaultsStore(defaults.file()).string("api.model"), "gpt-image-1");
}

TEST_F(CustomImageAPITest, AcceptsTheLongestBaseURLAndModel) {
  const std::string longest = "https://api.example.com/" + std::string(2048 - 24, 'a');
  const std::string model = std::string(125, 'm') + "界";  // 128 bytes in UTF-8
  EXPECT_EQ(refusal(entry(longest, model, "k")), "accepted");
}

TEST_F(CustomImageAPITest, KeepsTheKeyOnlyInTheSecretStoreUnderTheNormalisedBase) {
  const Json status = api.configure(entry("https://api.example.com/v1/", "m", "sk-secret"));
  EXPECT_EQ(status,
            (Json{{"baseURL", kBase}, {"model", "m"}, {"hasKey", true}, {"verified", false}}));
  EXPECT_EQ(secrets.read(kService, kBase), "sk-secret");
  EXPECT_EQ(secrets.size(), 1u);
  EXPECT_EQ(readFile(defaults.file()).find("sk-secret"), std::string::npos);
  // The stored key is found again under the same base written with its slash.
  EXPECT_EQ(refusal(entry("https://api.example.com/v1/", "m", "")), "accepted");
  EXPECT_EQ(api.key(kBase), "sk-secret");
}

TEST_F(CustomImageAPITest, VerifiedResetsExactlyWhenBaseModelOrKeyChange) {
  const auto verifiedAfter = [&](const Json& value) {
    defaults.set("api.verified", true);
    api.configure(value);
    return api.status()["verified"].get<bool>();
  };
  api.configure(entry("https://b.example.com", "m", "k"));
  api.configure(entry(kBase, "m", "k"));
  EXPECT_TRUE(verifiedAfter(entry(kBase, "m", "")));
  EXPECT_FALSE(verifiedAfter(entry(kBase, "m2", "")));
  EXPECT_FALSE(verifiedAfter(entry(kBase, "m2", "k2")));
  EXPECT_FALSE(verifiedAfter(entry("https://b.example.com", "m2", "")));
  EXPECT_TRUE(verifiedAfter(entry("https://b.example.com/", "m2", "")));
}

TEST(CustomImageAPIProtocolTest, RecognisesOnlyTheExactAPIMartEndpoint) {
  const std::string host(imageapi::kAPIMartHost);
  const std::vector<std::pair<std::string, bool>> rows = {
      {"https://" + host + "/v1", true},
      {"https://" + host + "/v1/", true},
      {"https://" + host + ":443/v1/", true},
      {"https://API." + host.substr(4) + "/v1", true},
      {"https://" + host + ":8443/v1", false},
      {"https://" + host + "/v2", false},
      {"https://" + host, false},
      {"https://" + host + ".evil.example/v1", false},
      {"https://x" + host + "/v1", false},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(CustomImageAPI::isAPIMart(CustomImageAPI::baseURL(text)), expected) << text;
  }
}

TEST_F(CustomImageAPITest, CheckFindsTheModelInTheListAtTheModelsPath) {
  service.route("GET", "/v1/models",
                Reply::with(200, R"({"data":[{"id":"dall-e-3"},{"id":"gpt-image-1"}]})"));
  api.configure(entry(kBase, "gpt-image-1", "sk-1"));
  defaults.set("api.verified", true);

  const Result<Json> result = runCheck();
  ASSERT_TRUE(result.ok()) << result.failure().message();
  EXPECT_EQ(result.value(), api.status());
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/v1/models");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-1");
  EXPECT_FALSE(api.running());
}

TEST_F(CustomImageAPITest, CheckReportsAMissingModelOrUnreadableList) {
  api.configure(entry(kBase, "GPT-IMAGE-1", "sk-1"));
  const std::string missing = "连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {R"({"data":[{"id":"gpt-image-1"}]})", missing},
      {R"({"data":[{"id":"GPT-IMAGE-1"}, 3]})", missing},
      {R"({"models":[]})", missing},
      {R"([])", missing},
      {"not json", "未能读取数据，因为它的格式不正确。"},
  };
  for (const auto& [body, expected] : rows) {
    service.route("GET", "/v1/models", Reply::with(200, body));
    const Result<Json> result = runCheck();
    ASSERT_FALSE(result.ok()) << body;
    EXPECT_EQ(result.failure().message(), expected) << body;
  }
}

TEST_F(CustomImageAPITest, WhileACheckRunsChangesAreRefusedAndCancelEndsIt) {
  Reply slow = Reply::with(200, "{}");
  slow.delay = std::chrono::seconds(10);
  service.route("GET", "/v1/models", slow);
  api.configure(entry(kBase, "m", "k"));

  std::optional<Result<Json>> first;
  api.check([&](Result<Json> outcome) { first = std::move(outcome); });
  ASSERT_TRUE(api.running());
  EXPECT_EQ(refusal(entry(kBase, "m2", "")), "请等待当前请求结束后修改服务");
  std::optional<Result<Json>> second;
  api.check([&](Result<Json> outcome) { second = std::move(outcome); });
  ASSERT_TRUE(second);
  EXPECT_EQ(second->failure().message(), "已有请求正在进行");

  EXPECT_TRUE(api.cancel());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->failure().message(), kImageAPICancelledMessage);
  EXPECT_FALSE(api.running());
  EXPECT_FALSE(api.cancel());
}

}  // namespace
}  // namespace glimmet
