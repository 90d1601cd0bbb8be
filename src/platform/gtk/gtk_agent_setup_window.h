#pragma once

// The local agent setup window on GTK 3, in the design fonts: the heading and
// explanation, the inventory's status lines, the refresh, install (with its
// cancel and progress while installing) and login buttons, the live log in a
// monospaced font, the note, and the permission and start buttons. Built on
// first use and hidden, never destroyed, when closed. Main thread only;
// requires an initialised GTK.

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "platform/agent_setup_window.h"

namespace glimmet {

class GtkAgentSetupWindow final : public AgentSetupWindow {
 public:
  static constexpr const char* kTitle = "Glimmet · 本地 Agent 配置";
  static constexpr const char* kHeading = "让现有 Agent 为你画图";
  static constexpr const char* kIntro =
      "优先复用本机 CLI。Codex 使用它自己的 ChatGPT 登录；Glimmet 不读取登录令牌，不扣 Glimmet "
      "额度。安装、登录和生图实测分别检查。";
  static constexpr const char* kDetecting = "正在检测 Codex、Claude、Gemini、ZCode…";
  static constexpr const char* kRefresh = "刷新检测";
  static constexpr const char* kInstall = "安装 Codex";
  static constexpr const char* kCancel = "取消";
  static constexpr const char* kLogin = "登录 Codex";
  static constexpr const char* kNote =
      "官方安装器下载并校验 Codex 0.160.0 的平台包、生图运行组件和 OpenAI "
      "签名，安装在你的应用支持目录。其他 Agent "
      "未验证内置生图能力时不会显示为可生成。首次使用快捷选区，需要你在系统设置允许 Glimmet "
      "的辅助功能权限。";
  static constexpr const char* kPermission = "选区读取授权";
  static constexpr const char* kStart = "进入创作";

  GtkAgentSetupWindow() = default;
  ~GtkAgentSetupWindow() override;
  GtkAgentSetupWindow(const GtkAgentSetupWindow&) = delete;
  GtkAgentSetupWindow& operator=(const GtkAgentSetupWindow&) = delete;

  void present(AgentSetupWindowEvents& events) override;
  void setStatus(const std::string& text) override;
  void setLog(const std::string& text) override;
  void setInstalling(bool installing) override;
  void setLoginEnabled(bool enabled) override;
  void setProgress(std::optional<double> fraction) override;
  void hide() override;
  bool isVisible() const override;

  GtkWindow* window() const { return GTK_WINDOW(window_); }
  GtkButton* installButton() const { return GTK_BUTTON(installButton_); }
  GtkButton* cancelButton() const { return GTK_BUTTON(cancelButton_); }
  GtkButton* loginButton() const { return GTK_BUTTON(loginButton_); }
  GtkLabel* statusLabel() const { return GTK_LABEL(status_); }
  GtkProgressBar* progressBar() const { return GTK_PROGRESS_BAR(progress_); }
  // The log's whole text.
  std::string logText() const;

 private:
  void build();
  static gboolean deleted(GtkWidget* widget, GdkEvent* event, gpointer self);
  static AgentSetupWindowEvents& eventsOf(gpointer self);

  AgentSetupWindowEvents* events_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* status_ = nullptr;
  GtkWidget* installButton_ = nullptr;
  GtkWidget* cancelButton_ = nullptr;
  GtkWidget* loginButton_ = nullptr;
  GtkWidget* progress_ = nullptr;
  GtkWidget* log_ = nullptr;
  bool installing_ = false;
  std::optional<double> fraction_;
};

}  // namespace glimmet
