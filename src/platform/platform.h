#pragma once

// Every desktop service the controller uses, handed over in one bundle: the
// GTK program fills it with the real desktop, tests and the headless harness
// with the in-memory doubles. Every referenced object must outlive the
// controller that uses it.

#include <memory>

#include "core/clock.h"
#include "core/defaults_store.h"
#include "core/secret_store.h"
#include "platform/accessibility.h"
#include "platform/agent_setup_window.h"
#include "platform/alerts.h"
#include "platform/application_activity.h"
#include "platform/autostart.h"
#include "platform/clipboard.h"
#include "platform/creator_panel.h"
#include "platform/desktop_appearance.h"
#include "platform/file_panels.h"
#include "platform/hot_keys.h"
#include "platform/pointer_source.h"
#include "platform/popup_menu.h"
#include "platform/radial_window.h"
#include "platform/screen_layout.h"
#include "platform/selection_reader.h"
#include "platform/settings_window.h"
#include "platform/sound.h"
#include "platform/status_button.h"
#include "platform/video_player.h"
#include "platform/web_view_host.h"
#include "platform/workspace.h"

namespace glimmet {

struct Platform {
  WebViewHost& webView;
  // Shared because the island host and the task feedback keep weak references.
  std::shared_ptr<CreatorPanel> panel;
  std::shared_ptr<StatusButton> statusButton;
  PopUpMenu& menu;
  Alerts& alerts;
  FilePanels& filePanels;
  Clipboard& clipboard;
  Workspace& workspace;
  Sound& sound;
  VideoPlayer& videoPlayer;
  const PointerSource& pointer;
  const ScreenLayout& screens;
  DesktopAppearance& appearance;
  Accessibility& accessibility;
  ApplicationActivity& activity;
  AgentSetupWindow& agentSetupWindow;
  HotKeys& hotKeys;
  SelectionReader& selection;
  SettingsWindow& settingsWindow;
  Autostart& autostart;
  RadialWindow& radial;
  DefaultsStore& defaults;
  SecretStore& secrets;
  Clock& clock;
};

}  // namespace glimmet
