#pragma once

// A controller on the in-memory desktop, with the user's directories, the
// local agents and the Trash inside a temporary directory. Requests are posted
// as the main frame of the packaged page; the scripts the controller evaluates
// in the page are what the tests read back.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/plumora_controller.h"
#include "platform/headless/headless_platform.h"
#include "support/test_support.h"

namespace glimmet::testing {

// Points the user's directories at `home` for the lifetime of the object.
class UserDirectories {
 public:
  explicit UserDirectories(const std::filesystem::path& home);
  ~UserDirectories();

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class ControllerTest : public ::testing::Test {
 protected:
  static constexpr const char* kPage = "plumora://local/index.html";

  ControllerTest();
  ~ControllerTest() override;

  // Creates the controller with `arguments` as the command line.
  void start(const std::vector<std::string>& arguments = {}, bool launch = true);
  // Posts a request and answers its id.
  std::int64_t post(const std::string& action, const Json& value = nullptr);
  // The script that settled request `id`, waiting for it on the main queue.
  std::string replyTo(std::int64_t id);
  // Posts a request and answers the script that settled it.
  std::string call(const std::string& action, const Json& value = nullptr);
  // The scripts evaluated since the last look.
  std::vector<std::string> fresh() { return desktop.webView.takeScripts(); }
  bool evaluated(const std::string& script) const;

  TempDir temp;
  UserDirectories directories{temp / "home"};
  HeadlessPlatform desktop{temp / "defaults.json", temp / "Trash"};
  std::vector<std::string> lines;
  // Trust and host mappings for loopback services.
  HttpSessionConfiguration session;
  std::unique_ptr<PlumoraController> controller;
  std::int64_t nextId = 0;
};

}  // namespace glimmet::testing
