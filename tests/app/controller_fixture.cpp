#include "controller_fixture.h"

#include <cstdlib>

namespace glimmet::testing {

UserDirectories::UserDirectories(const std::filesystem::path& home) {
  const std::vector<std::pair<std::string, std::filesystem::path>> variables = {
      {"HOME", home},
      {"XDG_DATA_HOME", home / ".local/share"},
      {"XDG_CONFIG_HOME", home / ".config"},
  };
  for (const auto& [name, value] : variables) {
    const char* previous = std::getenv(name.c_str());
    saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }
}

UserDirectories::~UserDirectories() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

ControllerTest::ControllerTest() { desktop.activity.setActive(true); }

ControllerTest::~ControllerTest() {
  if (!controller) return;
  controller->shutdown();
  // Let replies already queued for the main thread arrive while the controller exists.
  spinMainUntil([] { return false; }, std::chrono::milliseconds(50));
  controller.reset();
}

void ControllerTest::start(const std::vector<std::string>& arguments, bool launch) {
  ControllerOptions options;
  options.switches = Switches::parse(arguments);
  options.resourceDirectory = temp / "resources";
  options.temporaryDirectory = temp.path();
  options.session = session;
  options.printLine = [this](const std::string& line) { lines.push_back(line); };
  LocalAgentPaths paths;
  paths.dataHome = temp / "home/.local/share";
  paths.home = temp / "home";
  paths.sharedToolDirectory = temp / "no-tools";
  paths.codexHome = temp / "home/.codex";
  options.agentPaths = paths;
  controller = std::make_unique<PlumoraController>(desktop.platform(), std::move(options));
  if (launch) controller->launch();
  fresh();
}

std::int64_t ControllerTest::post(const std::string& action, const Json& value) {
  const std::int64_t id = ++nextId;
  controller->receive(kPage, true, Json{{"action", action}, {"id", id}, {"value", value}});
  return id;
}

std::string ControllerTest::replyTo(std::int64_t id) {
  const std::string resolve = "window.__plumoraResolve(" + std::to_string(id) + ",";
  const std::string reject = "window.__plumoraReject(" + std::to_string(id) + ",";
  std::string found;
  const auto settled = [&] {
    for (const std::string& script : desktop.webView.scripts()) {
      if (script.starts_with(resolve) || script.starts_with(reject)) {
        found = script;
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(spinMainUntil(settled)) << "no reply to request " << id;
  return found;
}

std::string ControllerTest::call(const std::string& action, const Json& value) {
  return replyTo(post(action, value));
}

bool ControllerTest::evaluated(const std::string& script) const {
  const auto& scripts = desktop.webView.scripts();
  return std::find(scripts.begin(), scripts.end(), script) != scripts.end();
}

}  // namespace glimmet::testing
