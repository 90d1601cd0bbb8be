#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace glimmet::testing {

// A fresh directory under the system temporary directory, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Runs iterations of the default GLib main context until `done` holds or the
// time runs out; answers whether `done` held.
bool spinMainUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True when the CI environment asks that a test whose real peer is missing
// fails instead of skipping.
inline bool peersRequired() {
  return std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true";
}

// What failureOf answers when the work throws nothing.
inline constexpr const char* kNoFailure = "(no failure)";

// The message of the LocalAgentFailure that `work` throws, or kNoFailure.
std::string failureOf(const std::function<void()>& work);

void writeFile(const std::filesystem::path& path, const std::string& content);
std::string readFile(const std::filesystem::path& path);

}  // namespace glimmet::testing

// Skips the current test because its real peer is missing, or fails it when the
// CI environment requires every peer.
#define GLIMMET_PEER_MISSING(reason)                             \
  do {                                                           \
    if (::glimmet::testing::peersRequired()) FAIL() << (reason); \
    GTEST_SKIP() << (reason);                                    \
  } while (false)
