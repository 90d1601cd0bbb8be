#include <gtest/gtest.h>

#include <string>

#include "imageapi/custom_image_api.h"

namespace glimmet {
namespace {

constexpr const char* kOpenAIBase = "https://api.example.com/v1";
constexpr const char* kAPIMartBase = "https://api.apimart.ai/v1";
constexpr const char* kMismatch = "任务响应与本次生成不匹配";
constexpr const char* kNoRemote = "服务未返回可读取的 HTTPS 图片";
constexpr const char* kNoTaskImage = "任务已结束，但未返回图片";

// The response as one comparable line: its kind and value, or the failure.
std::string describe(const std::string& body, const char* base,
                     const std::optional<std::string>& expectedTask) {
  try {
    const auto response = CustomImageAPI::imageResponse(Bytes(body.begin(), body.end()),
                                                        *URL::parse(base), expectedTask);
    if (const auto* image = std::get_if<CustomImageAPI::Base64Image>(&response))
      return "base64 " + image->text;
    if (const auto* remote = std::get_if<CustomImageAPI::RemoteImage>(&response))
      return "remote " + remote->url.absoluteString();
    if (const auto* task = std::get_if<CustomImageAPI::PendingTask>(&response))
      return "pending " + task->id;
    return "failed";
  } catch (const LocalAgentFailure& failure) {
    return failure.message();
  }
}

TEST(ImageResponse, SubmissionAnswers) {
  struct Row {
    const char* body;
    const char* base;
    std::string expected;
  };
  const std::string longId(129, 'a');
  const Row rows[] = {
      {"not json", kOpenAIBase, "未能读取数据，因为它的格式不正确。"},
      {"[]", kOpenAIBase, "服务商返回的图片响应格式无效"},
      {R"({"code":401,"data":[{"b64_json":"AA=="}]})", kOpenAIBase,
       "服务商未接受请求（401），请检查账户额度和模型"},
      {R"({"code":-1,"data":[{"b64_json":"AA=="}]})", kOpenAIBase,
       "服务商未接受请求（-1），请检查账户额度和模型"},
      {R"({"code":"401","data":[{"b64_json":"AA=="}]})", kOpenAIBase, "base64 AA=="},
      {R"({"code":200,"data":[{"b64_json":"AA==","url":"https://x.test/a"}]})", kOpenAIBase,
       "base64 AA=="},
      {R"({"data":[]})", kOpenAIBase, "响应不包含图片，请确认图片接口兼容性"},
      {R"({"data":{"b64_json":"AA=="}})", kOpenAIBase, "响应不包含图片，请确认图片接口兼容性"},
      {R"({"data":[{"task_id":"task_1"}]})", kOpenAIBase,
       "该服务返回异步任务，当前仅接入 API Mart 的任务协议"},
      {R"({"data":[{"task_id":"task_1-A"}]})", kAPIMartBase, "pending task_1-A"},
      {R"({"data":[{"task_id":"a/b"}]})", kAPIMartBase, "服务商返回的任务编号无效"},
      {R"({"data":[{"task_id":""}]})", kAPIMartBase, "服务商返回的任务编号无效"},
      {R"({"data":[{"url":"https://cdn.other.test/a.png?sig=1"}]})", kOpenAIBase,
       "remote https://cdn.other.test/a.png?sig=1"},
      {R"({"data":[{"url":"http://cdn.other.test/a.png"}]})", kOpenAIBase, kNoRemote},
      {R"({"data":[{"url":"https://u:p@cdn.other.test/a.png"}]})", kOpenAIBase, kNoRemote},
      {R"({"data":[{}]})", kOpenAIBase, kNoRemote},
  };
  for (const Row& row : rows) EXPECT_EQ(describe(row.body, row.base, {}), row.expected) << row.body;

  const std::string longTask = R"({"data":[{"task_id":")" + longId + R"("}]})";
  EXPECT_EQ(describe(longTask, kAPIMartBase, {}), "服务商返回的任务编号无效");
}

TEST(ImageResponse, TaskAnswers) {
  struct Row {
    const char* body;
    const char* base;
    std::string expected;
  };
  const Row rows[] = {
      {R"({"data":{"id":"t1","status":"pending"}})", kOpenAIBase, kMismatch},
      {R"({"data":{"id":"t2","status":"pending"}})", kAPIMartBase, kMismatch},
      {R"({"data":{"id":"t1"}})", kAPIMartBase, kMismatch},
      {R"({"data":[{"id":"t1","status":"pending"}]})", kAPIMartBase, kMismatch},
      {R"({"code":500,"data":{"id":"t1","status":"pending"}})", kAPIMartBase,
       "服务商未接受请求（500），请检查账户额度和模型"},
      {R"({"data":{"id":"t1","status":"processing"}})", kAPIMartBase, "pending t1"},
      {R"({"data":{"id":"t1","status":"canceled"}})", kAPIMartBase, "failed"},
      {R"({"data":{"id":"t1","status":"cancelled"}})", kAPIMartBase, "failed"},
      {R"({"data":{"id":"t1","status":"failed"}})", kAPIMartBase, "failed"},
      {R"({"data":{"id":"t1","status":"Completed"}})", kAPIMartBase,
       "服务商返回了未知任务状态；请先查看原任务，勿重复提交"},
      {R"({"data":{"id":"t1","status":"completed"}})", kAPIMartBase, kNoTaskImage},
      {R"({"data":{"id":"t1","status":"completed","result":{"images":[]}}})", kAPIMartBase,
       kNoTaskImage},
      {R"({"data":{"id":"t1","status":"completed","result":{"images":["https://x.test/a"]}}})",
       kAPIMartBase, kNoTaskImage},
      {R"({"data":{"id":"t1","status":"completed","result":{"images":[{"url":["https://x.test/a","https://x.test/b"]}]}}})",
       kAPIMartBase, "remote https://x.test/a"},
      {R"({"data":{"id":"t1","status":"completed","result":{"images":[{"url":"https://x.test/c"}]}}})",
       kAPIMartBase, "remote https://x.test/c"},
      {R"({"data":{"id":"t1","status":"completed","result":{"images":[{"url":[]}]}}})",
       kAPIMartBase, kNoRemote},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(describe(row.body, row.base, "t1"), row.expected) << row.body;
  }
}

}  // namespace
}  // namespace glimmet
