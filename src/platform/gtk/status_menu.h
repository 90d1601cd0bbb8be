#pragma once

// The tray icon's context menu. An item whose action is empty (a window or
// service that does not exist yet) is shown but cannot be chosen. "退出 Glimmet"
// carries the Ctrl+Q accelerator label. A tray item whose every click opens the
// menu (an indicator) gets the left click's action as the menu's first item,
// above a separator. Main thread only.

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace glimmet {

struct StatusMenuActions {
  // The left click's action; its item is present only when this is set.
  std::function<void()> togglePanel;
  std::function<void()> captureText;
  std::function<void()> openStudio;
  std::function<void()> openBrowser;
  std::function<void()> openSettings;
  std::function<void()> openAgentSetup;
  std::function<void()> quit;
};

class StatusMenu {
 public:
  static constexpr const char* kTogglePanel = "切换创作面板";
  static constexpr const char* kCaptureText = "选中文字或图片，开始创作";
  static constexpr const char* kOpenStudio = "打开创作空间";
  static constexpr const char* kOpenBrowser = "在浏览器中打开";
  static constexpr const char* kSettings = "快捷键与权限设置…";
  static constexpr const char* kAgentSetup = "本地 Agent · 安装与登录…";
  static constexpr const char* kQuit = "退出 Glimmet";

  explicit StatusMenu(StatusMenuActions actions);
  ~StatusMenu();
  StatusMenu(const StatusMenu&) = delete;
  StatusMenu& operator=(const StatusMenu&) = delete;

  // Opens the menu below `icon`, taking the grab of the click that asked.
  void popUp(GtkStatusIcon* icon, guint button, guint32 time);
  GtkMenu* menu() const { return GTK_MENU(menu_); }
  // The item of `togglePanel`; null without that action.
  GtkWidget* toggleItem() const { return toggleItem_; }

 private:
  GtkWidget* addItem(const char* title, std::function<void()>& action);
  static void activated(GtkMenuItem* item, gpointer action);

  StatusMenuActions actions_;
  GtkWidget* menu_;
  GtkAccelGroup* accelerators_;
  GtkWidget* toggleItem_ = nullptr;
};

}  // namespace glimmet
