#pragma once

// An API-Mart-like image service played on a loopback TestHttpsService, whose
// task polls walk a scripted sequence. Results given by URL are served from the
// same service under another host name.

#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "support/https/test_https_service.h"

namespace glimmet::testing {

// A PNG of the given size as bytes, for answers and references.
std::string testPNG(int width, int height);

class APIMartLikeService {
 public:
  // One poll answer: a task status (answered with HTTP 200 and the task's id),
  // or a reply as it stands (an HTTP failure, a foreign id, a malformed body).
  using Poll = std::variant<std::string, Reply>;

  // Serves /v1/images/generations and /v1/tasks/<id>; each submission issues
  // "task-1", "task-2", …
  explicit APIMartLikeService(TestHttpsService& service);

  // How the polls of every task answer, in order; the last one repeats.
  // "completed" answers with the result URL.
  void script(std::vector<Poll> polls);
  // The result image URL a completed task names.
  void resultURL(std::string url);

  int submissions() const;
  int polls() const;

 private:
  Reply submit();
  Reply answerPoll(const std::string& id);

  TestHttpsService& service_;
  mutable std::mutex mutex_;
  std::vector<Poll> script_{std::string("processing")};
  std::string resultURL_;
  int submissions_ = 0;
  int polls_ = 0;
};

}  // namespace glimmet::testing
