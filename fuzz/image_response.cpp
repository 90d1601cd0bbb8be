// Image service answers: the first byte picks the service (API Mart or
// another) and the answer kind (a submission, a task poll, or the stored
// receipts of paid tasks); the rest is the body as it arrived.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>

#include "core/clock.h"
#include "core/defaults_store.h"
#include "imageapi/custom_image_api.h"
#include "imageapi/image_api_constants.h"
#include "platform/headless/memory_secret_store.h"
#include "scratch.h"

namespace {

using glimmet::CustomImageAPI;

// A client whose receipts live in a defaults file of its own, removed at exit.
struct Client {
  const std::filesystem::path file = glimmet::fuzz::scratchPath("defaults.json");
  glimmet::DefaultsStore defaults{file};
  glimmet::MemorySecretStore secrets;
  glimmet::ManualClock clock;
  CustomImageAPI api{defaults, secrets, clock};
  ~Client() { std::filesystem::remove(file); }
};

void readAnswer(const glimmet::Bytes& body, const glimmet::URL& base, bool poll) {
  glimmet::HttpResponse response;
  response.status = 200;
  response.body = body;
  try {
    const glimmet::Bytes checked = CustomImageAPI::checked(std::move(response)).take();
    const auto answer = CustomImageAPI::imageResponse(
        checked, base, poll ? std::optional<std::string>("t1") : std::nullopt);
    if (const auto* task = std::get_if<CustomImageAPI::PendingTask>(&answer)) {
      (void)CustomImageAPI::taskURL(task->id, base);
    }
  } catch (const glimmet::LocalAgentFailure&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const glimmet::URL apiMart = *glimmet::URL::parse("https://api.apimart.ai/v1");
  static const glimmet::URL other = *glimmet::URL::parse("https://images.example/v1");
  const glimmet::Bytes body(data + 1, data + size);
  const glimmet::URL& base = data[0] & 1 ? apiMart : other;
  switch ((data[0] >> 1) % 3) {
    case 0:
      readAnswer(body, base, false);
      break;
    case 1:
      readAnswer(body, base, true);
      break;
    default: {
      // Receipts as a damaged or foreign defaults file may hold them.
      glimmet::Json stored = glimmet::parseJson(body);
      if (stored.is_discarded()) return 0;
      static Client client;
      client.defaults.set(glimmet::imageapi::kPendingRequestsKey, std::move(stored));
      (void)client.api.pendingRequests();
      client.api.receipt("task_01", "identity");
      break;
    }
  }
  return 0;
}
