#include "support/https/fake_image_services.h"

#include <vips/vips.h>

#include <stdexcept>

#include "core/json.h"

namespace glimmet::testing {

std::string testPNG(int width, int height) {
  if (VIPS_INIT("glimmet-tests") != 0) throw std::runtime_error("libvips did not start");
  VipsImage* black = nullptr;
  void* buffer = nullptr;
  std::size_t length = 0;
  if (vips_black(&black, width, height, "bands", 3, nullptr) != 0 ||
      vips_pngsave_buffer(black, &buffer, &length, nullptr) != 0) {
    if (black != nullptr) g_object_unref(black);
    throw std::runtime_error("libvips could not write a PNG");
  }
  std::string png(static_cast<const char*>(buffer), length);
  g_free(buffer);
  g_object_unref(black);
  return png;
}

APIMartLikeService::APIMartLikeService(TestHttpsService& service) : service_(service) {
  service_.route("POST", "/v1/images/generations",
                 [this](const RecordedRequest&) { return submit(); });
}

void APIMartLikeService::script(std::vector<Poll> polls) {
  std::lock_guard lock(mutex_);
  script_ = std::move(polls);
}

void APIMartLikeService::resultURL(std::string url) {
  std::lock_guard lock(mutex_);
  resultURL_ = std::move(url);
}

int APIMartLikeService::submissions() const {
  std::lock_guard lock(mutex_);
  return submissions_;
}

int APIMartLikeService::polls() const {
  std::lock_guard lock(mutex_);
  return polls_;
}

Reply APIMartLikeService::submit() {
  std::string id;
  {
    std::lock_guard lock(mutex_);
    id = "task-" + std::to_string(++submissions_);
  }
  service_.route("GET", "/v1/tasks/" + id,
                 [this, id](const RecordedRequest&) { return answerPoll(id); });
  return Reply::with(
      200, json(Json{{"code", 200}, {"data", {{{"status", "submitted"}, {"task_id", id}}}}}));
}

Reply APIMartLikeService::answerPoll(const std::string& id) {
  std::lock_guard lock(mutex_);
  const Poll poll = script_.at(std::min<std::size_t>(polls_, script_.size() - 1));
  ++polls_;
  if (const auto* reply = std::get_if<Reply>(&poll)) return *reply;
  const std::string& status = std::get<std::string>(poll);
  Json data = {{"id", id}, {"status", status}};
  if (status == "completed") {
    data["result"] = {{"images", Json::array({{{"url", Json::array({resultURL_})}}})}};
  }
  return Reply::with(200, json(Json{{"code", 200}, {"data", data}}));
}

}  // namespace glimmet::testing
