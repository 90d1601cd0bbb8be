#pragma once

// The local agent setup: what the setup window shows and what its buttons do.
// It shows the inventory's findings, installs (or repairs) the managed Codex
// with live progress and a cancel, runs the CLI's own login, asks for the
// selection permission and finally hands over to the creation panel with the
// managed Codex selected for its first verifying generation.
//
// The login runs in a terminal the desktop provides when there is one, since
// the CLI's login may ask questions on its terminal: "x-terminal-emulator -e"
// (Debian's alternative for the user's chosen terminal) or else
// "gnome-terminal --wait --". Without either it runs directly and its output
// goes to the log. Either way the inventory that follows tells whether the
// login took.
//
// Main thread only. Completions that arrive after the object is gone do nothing.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agents/codex_managed_installer.h"
#include "agents/local_agent_manager.h"
#include "core/lifetime.h"
#include "platform/accessibility.h"
#include "platform/agent_setup_window.h"

namespace glimmet {

class LocalCommand;

class LocalAgentSetup final : public AgentSetupWindowEvents {
 public:
  static constexpr const char* kInstalling =
      "正在下载官方 Codex 和生图运行组件并校验 SHA-256 和签名…";
  static constexpr const char* kInstalled =
      "Codex 和生图运行组件已安装。下一步：登录，或复用已有登录。";
  static constexpr const char* kInstallFailed = "安装失败：";
  static constexpr const char* kLoggingIn =
      "正在启动 Codex 官方登录。请在浏览器完成登录；不要将密码或令牌填入 Glimmet。";
  static constexpr const char* kLoginDone = "登录完成，正在重新检测。";
  static constexpr const char* kLoginNotDone = "登录未完成，可重新点击登录。";

  static constexpr std::size_t kLogCharacters = 12000;
  static constexpr double kLoginTimeoutSeconds = 300;

  // `paths` tells where the managed Codex goes and where terminals are looked
  // for (its inherited PATH); `ready` shows the creation panel. The references
  // must outlive the setup.
  LocalAgentSetup(LocalAgentManager& manager, AgentSetupWindow& window,
                  Accessibility& accessibility, LocalAgentPaths paths,
                  CodexInstallerSettings installerSettings, std::function<void()> ready);
  ~LocalAgentSetup() override;
  LocalAgentSetup(const LocalAgentSetup&) = delete;
  LocalAgentSetup& operator=(const LocalAgentSetup&) = delete;

  // Builds the window if needed, brings it forward and runs an inventory.
  void show();
  // Ends a login and an installation at once (the program quits).
  void terminate();

  // `text` without ANSI control sequences.
  static std::string withoutControlSequences(std::string_view text);
  // The status lines of an inventory reply.
  static std::string statusText(const Json& reply);

  // AgentSetupWindowEvents.
  void refreshClicked() override;
  void installClicked() override;
  void cancelInstallClicked() override;
  void loginClicked() override;
  void permissionClicked() override;
  void startClicked() override;
  void closed() override;

 private:
  void append(std::string_view text);
  void refresh(const Json& reply);
  // Runs an inventory; its reply refreshes the window, then `then` runs.
  void runInventory(std::function<void()> then = {});
  // The login invocation: the CLI inside a terminal, or the CLI alone.
  std::pair<std::string, std::vector<std::string>> loginInvocation(const std::string& cli) const;
  void updateLoginButton();

  LocalAgentManager& manager_;
  AgentSetupWindow& window_;
  Accessibility& accessibility_;
  const LocalAgentPaths paths_;
  std::function<void()> ready_;
  CodexManagedInstaller installer_;

  std::optional<std::string> currentPath_;
  bool codexInstalled_ = false;
  bool installing_ = false;
  std::shared_ptr<LocalCommand> loginCommand_;
  std::string log_;
  Lifetime lifetime_;
};

}  // namespace glimmet
