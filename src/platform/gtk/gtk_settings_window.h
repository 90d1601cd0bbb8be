#pragma once

// The shortcut and permission settings window on GTK 3: the explanation, the
// recorder button, the disabled-applications field with a menu that adds a
// running application's WM_CLASS name, the pause switch, the save, reset and
// permission buttons and the permission state, in the design fonts. Built on
// first use and hidden, never destroyed, when closed. While the recorder
// records, the window grabs the keyboard so that the registered hot key too
// reaches it. Main thread only; requires an initialised GTK.

#include <gtk/gtk.h>

#include <string>

#include "platform/gtk/desktop_workspace.h"
#include "platform/settings_window.h"

namespace glimmet {

class GtkSettingsWindow final : public SettingsWindow {
 public:
  static constexpr const char* kTitle = "Glimmet · 快捷键与权限";
  static constexpr const char* kIntro =
      "⌘P 通常用于打印。启用后 Glimmet 会接管组合键，包括无选区时。可改键、暂停或按应用停用。";
  static constexpr const char* kRecorderLabel = "文字 / 图片创作";
  static constexpr const char* kDisabledLabel =
      "停用应用的 Bundle ID（逗号分隔；例如 com.apple.Preview）。切换到停用应用时注销全局热键，"
      "让原快捷键可用。";
  static constexpr const char* kPause = "暂停全局快捷键（菜单栏仍可使用）";
  static constexpr const char* kLaunchAtLogin = "登录时启动 Glimmet";
  static constexpr const char* kSave = "保存";
  static constexpr const char* kReset = "恢复默认";
  static constexpr const char* kAuthorise = "选区读取授权";
  static constexpr const char* kAddApplication = "添加运行中的应用";
  static constexpr const char* kFooter =
      "选区仅在触发时读取。Finder 图片首次读取需允许控制 Finder。网页与设计软件图片无法通用读取时，"
      "请复制后粘贴或拖入；不会使用旧剪贴板冒充选区。";
  static constexpr const char* kWaylandNote =
      "Wayland 会话中，全局快捷键只在 X11 应用处于前台时生效；菜单栏始终可用。";

  explicit GtkSettingsWindow(const DesktopWorkspace& workspace) : workspace_(workspace) {}
  ~GtkSettingsWindow() override;
  GtkSettingsWindow(const GtkSettingsWindow&) = delete;
  GtkSettingsWindow& operator=(const GtkSettingsWindow&) = delete;

  void present(const SettingsWindowContent& content, SettingsWindowEvents& events) override;
  void setRecorder(const std::string& title, bool recording) override;
  void setPermissionState(const std::string& state) override;
  void hide() override;
  bool isVisible() const override;

  GtkWindow* window() const { return GTK_WINDOW(window_); }
  GtkButton* recorderButton() const { return GTK_BUTTON(recorder_); }
  GtkEntry* disabledField() const { return GTK_ENTRY(disabledField_); }
  GtkToggleButton* pauseButton() const { return GTK_TOGGLE_BUTTON(pauseButton_); }
  GtkButton* saveButton() const { return GTK_BUTTON(saveButton_); }
  GtkButton* resetButton() const { return GTK_BUTTON(resetButton_); }

 private:
  void build(const SettingsWindowContent& content);
  void fillAddMenu();
  void grabKeyboard(bool grab);

  static gboolean keyPressed(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean deleted(GtkWidget* widget, GdkEvent* event, gpointer self);

  const DesktopWorkspace& workspace_;
  SettingsWindowEvents* events_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* recorder_ = nullptr;
  GtkWidget* disabledField_ = nullptr;
  GtkWidget* pauseButton_ = nullptr;
  GtkWidget* launchButton_ = nullptr;
  GtkWidget* saveButton_ = nullptr;
  GtkWidget* resetButton_ = nullptr;
  GtkWidget* permission_ = nullptr;
  GtkWidget* addMenu_ = nullptr;
  bool grabbing_ = false;
};

}  // namespace glimmet
