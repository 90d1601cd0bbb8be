#include "agents/local_agent_setup.h"

#include <unistd.h>

#include <regex>

#include "agents/local_command.h"
#include "core/executors.h"
#include "core/text.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

std::string textOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The first executable `name` in the PATH directories of `searchPath`.
std::optional<std::string> findInPath(const std::string& name, std::string_view searchPath) {
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    const std::size_t end = std::min(searchPath.find(':', start), searchPath.size());
    const fs::path directory(std::string(searchPath.substr(start, end - start)));
    start = end + 1;
    if (!directory.is_absolute()) continue;
    const fs::path candidate = directory / name;
    if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) {
      return candidate.string();
    }
  }
  return std::nullopt;
}

}  // namespace

LocalAgentSetup::LocalAgentSetup(LocalAgentManager& manager, AgentSetupWindow& window,
                                 Accessibility& accessibility, LocalAgentPaths paths,
                                 CodexInstallerSettings installerSettings,
                                 std::function<void()> ready)
    : manager_(manager),
      window_(window),
      accessibility_(accessibility),
      paths_(std::move(paths)),
      ready_(std::move(ready)),
      installer_(paths_, std::move(installerSettings)) {}

LocalAgentSetup::~LocalAgentSetup() { terminate(); }

std::string LocalAgentSetup::withoutControlSequences(std::string_view text) {
  static const std::regex sequence("\x1B\\[[0-?]*[ -/]*[@-~]");
  return std::regex_replace(std::string(text), sequence, "");
}

std::string LocalAgentSetup::statusText(const Json& reply) {
  std::string lines;
  const auto agents = reply.is_object() ? reply.find("agents") : reply.end();
  if (agents == reply.end() || !agents->is_array()) return lines;
  for (const auto& entry : *agents) {
    if (!entry.is_object()) continue;
    std::string id = textOf(entry, "id");
    if (id.empty()) id = "Agent";
    if (!lines.empty()) lines += "\n";
    if (entry.value("installed", false) == true) {
      const std::string reason = textOf(entry, "reason");
      lines += id + " " + textOf(entry, "version") + " · " + (reason.empty() ? "待验证" : reason);
    } else {
      lines += id + "：未安装";
    }
  }
  return lines;
}

void LocalAgentSetup::show() {
  window_.present(*this);
  runInventory();
}

void LocalAgentSetup::terminate() {
  if (loginCommand_) loginCommand_->terminateNow();
  installer_.terminate();
}

void LocalAgentSetup::append(std::string_view text) {
  log_ += withoutControlSequences(text);
  const std::size_t count = text::graphemeCount(log_);
  if (count > kLogCharacters)
    log_.erase(0, text::graphemePrefix(log_, count - kLogCharacters).size());
  window_.setLog(log_);
}

void LocalAgentSetup::refresh(const Json& reply) {
  currentPath_.reset();
  codexInstalled_ = false;
  const auto agents = reply.is_object() ? reply.find("agents") : reply.end();
  if (agents != reply.end() && agents->is_array()) {
    for (const auto& entry : *agents) {
      if (!entry.is_object() || textOf(entry, "id") != "codex") continue;
      if (entry.contains("path") && entry["path"].is_string()) {
        currentPath_ = entry["path"].get<std::string>();
      }
      codexInstalled_ = entry.value("installed", false) == true;
      break;
    }
  }
  updateLoginButton();
  window_.setStatus(statusText(reply));
}

void LocalAgentSetup::updateLoginButton() {
  window_.setLoginEnabled(codexInstalled_ && !loginCommand_);
}

void LocalAgentSetup::runInventory(std::function<void()> then) {
  manager_.inventory([this, alive = lifetime_.guard(), then = std::move(then)](Json reply) {
    if (alive.expired()) return;
    refresh(reply);
    if (then) then();
  });
}

void LocalAgentSetup::refreshClicked() { runInventory(); }

void LocalAgentSetup::installClicked() {
  if (installing_) return;
  installing_ = true;
  window_.setInstalling(true);
  window_.setProgress(0.0);
  append(std::string(kInstalling) + "\n");
  const auto alive = lifetime_.guard();
  installer_.install(
      [this, alive](Result<fs::path> result) {
        if (alive.expired()) return;
        installing_ = false;
        window_.setInstalling(false);
        window_.setProgress(std::nullopt);
        if (result) {
          append(std::string(kInstalled) + "\n");
          runInventory();
        } else {
          append(kInstallFailed + result.failure().message() + "\n");
        }
      },
      [this, alive](const CodexManagedInstaller::Progress& progress) {
        if (alive.expired() || progress.total == 0) return;
        // Downloading fills the bar to nine tenths; checking and publishing the rest.
        const double downloaded = static_cast<double>(progress.received) / progress.total;
        switch (progress.stage) {
          case InstallStage::downloading:
            window_.setProgress(0.9 * downloaded);
            break;
          case InstallStage::checking:
            window_.setProgress(0.9);
            break;
          case InstallStage::publishing:
            window_.setProgress(0.97);
            break;
        }
      });
}

void LocalAgentSetup::cancelInstallClicked() { installer_.terminate(); }

std::pair<std::string, std::vector<std::string>> LocalAgentSetup::loginInvocation(
    const std::string& cli) const {
  if (const auto terminal = findInPath("x-terminal-emulator", paths_.inheritedPath)) {
    return {*terminal, {"-e", cli, "login"}};
  }
  if (const auto terminal = findInPath("gnome-terminal", paths_.inheritedPath)) {
    return {*terminal, {"--wait", "--", cli, "login"}};
  }
  return {cli, {"login"}};
}

void LocalAgentSetup::loginClicked() {
  if (!currentPath_ || currentPath_->empty() || loginCommand_) return;
  append(std::string(kLoggingIn) + "\n");
  auto command = LocalCommand::create();
  loginCommand_ = command;
  updateLoginButton();
  const auto alive = lifetime_.guard();
  const auto [executable, arguments] = loginInvocation(*currentPath_);
  command->run(
      executable, arguments, "", kLoginTimeoutSeconds,
      [this, alive](std::string_view chunk) {
        MainQueue::shared().post([this, alive, text = std::string(chunk)] {
          if (!alive.expired()) append(text);
        });
      },
      [this, alive, command](LocalCommandResult result) {
        MainQueue::shared().post([this, alive, command, status = result.status] {
          if (alive.expired() || loginCommand_ != command) return;
          loginCommand_.reset();
          updateLoginButton();
          append(std::string("\n") + (status == 0 ? kLoginDone : kLoginNotDone) + "\n");
          runInventory();
        });
      });
}

void LocalAgentSetup::permissionClicked() { accessibility_.requestTrust(); }

void LocalAgentSetup::startClicked() {
  manager_.selectManagedForVerification();
  runInventory([this] {
    window_.hide();
    if (ready_) ready_();
  });
}

void LocalAgentSetup::closed() {
  if (loginCommand_) loginCommand_->stop(false);
}

}  // namespace glimmet
