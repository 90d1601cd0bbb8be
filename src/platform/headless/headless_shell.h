#pragma once

// Doubles for the controller's side of the desktop: a web view that records
// every script in order (or hands each to an observer), a creation panel that
// records its level and whether it is shown and key, a pop-up menu the test
// answers, the accessibility trust, the program's activity and its other
// windows.

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/accessibility.h"
#include "platform/agent_setup_window.h"
#include "platform/application_activity.h"
#include "platform/creator_panel.h"
#include "platform/popup_menu.h"
#include "platform/web_view_host.h"

namespace glimmet {

class HeadlessWebView final : public WebViewHost {
 public:
  explicit HeadlessWebView(WebViewSize size = {748, 740}) : size_(size) {}

  // Records the script, or only hands it to the observer when there is one; a
  // completion runs later on the main queue, as the web view's would.
  void evaluate(const std::string& script, EvaluationCompletion completion) override;
  using WebViewHost::evaluate;
  void load(const std::string& url) override { loads_.push_back(url); }
  WebViewSize size() const override { return size_; }

  void setSize(WebViewSize size) { size_ = size; }
  // Called with each script as it is evaluated, instead of recording it, so a
  // reader can follow the page's side as it happens.
  void setObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }
  // Every script evaluated so far without an observer, in order.
  const std::vector<std::string>& scripts() const { return scripts_; }
  // Scripts evaluated since the last call.
  std::vector<std::string> takeScripts();
  const std::vector<std::string>& loads() const { return loads_; }

 private:
  WebViewSize size_;
  std::vector<std::string> scripts_;
  std::size_t taken_ = 0;
  std::vector<std::string> loads_;
  std::function<void(const std::string&)> observer_;
};

class HeadlessCreatorPanel final : public CreatorPanel {
 public:
  explicit HeadlessCreatorPanel(const Rect& frame = {0, 0, 748, 740}) : frame_(frame) {}

  Rect frame() const override { return frame_; }
  void setFrame(const Rect& frame) override { frame_ = frame; }
  bool isVisible() const override { return visible_; }
  void setLevel(PanelLevel level) override;
  void setInputRegion(const InputRegion& region) override { region_ = region; }
  void showGlass(const Rect&, double) override {}
  PanelLevel level() const override { return level_; }
  void present() override;
  void showInactive() override;
  void hide() override;
  bool isKey() const override { return key_; }
  void raiseAttachedDialog() override { ++sheetRaises_; }

  // Every level set, in order.
  const std::vector<PanelLevel>& levels() const { return levels_; }
  int frontOrders() const { return frontOrders_; }
  int sheetRaises() const { return sheetRaises_; }
  const InputRegion& inputRegion() const { return region_; }

 private:
  Rect frame_;
  bool visible_ = false;
  bool key_ = false;
  PanelLevel level_ = PanelLevel::floating;
  std::vector<PanelLevel> levels_;
  InputRegion region_;
  int frontOrders_ = 0;
  int sheetRaises_ = 0;
};

class HeadlessPopUpMenu final : public PopUpMenu {
 public:
  void popUp(const PopUpMenuRequest& request, Completion completion) override;

  // The menu that is open, if any.
  std::optional<PopUpMenuRequest> open() const;
  // Every menu opened so far.
  const std::vector<PopUpMenuRequest>& requests() const { return requests_; }
  // The user picks item `index` or closes the menu; false when no menu is open.
  bool choose(std::size_t index);
  bool dismiss();

 private:
  bool close(std::optional<std::size_t> chosen);

  std::vector<PopUpMenuRequest> requests_;
  std::optional<Completion> completion_;
};

class HeadlessAccessibility final : public Accessibility {
 public:
  bool isTrusted() const override { return trusted_; }
  // Counts the request; grants trust when set to do so.
  void requestTrust() override;

  void setTrusted(bool trusted) { trusted_ = trusted; }
  void setGrantsOnRequest(bool grants) { grantsOnRequest_ = grants; }
  int requests() const { return requests_; }

 private:
  bool trusted_ = false;
  bool grantsOnRequest_ = false;
  int requests_ = 0;
};

class HeadlessApplicationActivity final : public ApplicationActivity {
 public:
  bool isActive() const override { return active_; }
  void activate() override;

  void setActive(bool active) { active_ = active; }
  int activations() const { return activations_; }

 private:
  bool active_ = false;
  int activations_ = 0;
};

// Records what the setup window would show; tests click through `events()`.
class HeadlessAgentSetupWindow final : public AgentSetupWindow {
 public:
  void present(AgentSetupWindowEvents& events) override {
    events_ = &events;
    visible_ = true;
    ++presentations_;
  }
  void setStatus(const std::string& text) override { status_ = text; }
  void setLog(const std::string& text) override { log_ = text; }
  void setInstalling(bool installing) override { installing_ = installing; }
  void setLoginEnabled(bool enabled) override { loginEnabled_ = enabled; }
  void setProgress(std::optional<double> fraction) override {
    progress_ = fraction;
    if (fraction) progressSeen_ = true;
  }
  void hide() override { visible_ = false; }
  bool isVisible() const override { return visible_; }

  // The events of the last presentation; null before the first.
  AgentSetupWindowEvents* events() const { return events_; }
  int presentations() const { return presentations_; }
  const std::string& status() const { return status_; }
  const std::string& log() const { return log_; }
  bool installing() const { return installing_; }
  bool loginEnabled() const { return loginEnabled_; }
  std::optional<double> progress() const { return progress_; }
  bool progressSeen() const { return progressSeen_; }

 private:
  AgentSetupWindowEvents* events_ = nullptr;
  int presentations_ = 0;
  bool visible_ = false;
  std::string status_;
  std::string log_;
  bool installing_ = false;
  bool loginEnabled_ = false;
  std::optional<double> progress_;
  bool progressSeen_ = false;
};

}  // namespace glimmet
