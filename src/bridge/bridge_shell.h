#pragma once

// What the action dispatcher shares with the application shell: the shell's
// state that actions read and write, and the shell operations actions call
// (showing and hiding the panel, the compact task notice, replies and events
// in the page). The controller implements the shell; the dispatcher and its
// action groups only see this side of it. Main thread only.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/bridge_reply.h"
#include "core/json.h"
#include "platform/workspace.h"

namespace glimmet {

class PlumoraIslandHost;

// The island host's overlay flags as the shell sees them: while any is set the
// whole panel takes the mouse and the compact notice waits.
class IslandOverlays {
 public:
  explicit IslandOverlays(PlumoraIslandHost& host) : host_(host) {}

  void setMenuOpen(bool open);
  void setFilePanelOpen(bool open);
  void setModalOpen(bool open);

  bool menuOpen() const;
  bool filePanelOpen() const;
  bool modalOpen() const;
  bool anyOpen() const;

 private:
  PlumoraIslandHost& host_;
};

// What the shell and the page's actions both decide on: the capture the page
// has not read yet, the pin, the compact task notice that is owed, and the
// island's overlays.
class ShellState {
 public:
  explicit ShellState(PlumoraIslandHost& host) : overlays(host) {}

  // The capture payload the page receives when nothing was captured.
  static Json idlePayload() { return Json{{"text", ""}, {"voice", false}}; }

  // Keeps a capture for the page until it is taken.
  void holdCapture(Json payload) { capture_ = std::move(payload); }
  // The capture not yet delivered, or the idle payload; either way none is left.
  Json takeCapture() { return std::exchange(capture_, idlePayload()); }

  bool pinned() const { return pinned_; }
  // A pinned panel stays open, so no compact notice is owed.
  void setPinned(bool pinned) {
    pinned_ = pinned;
    if (pinned) taskNoticeOwed_ = false;
  }

  bool taskNoticeOwed() const { return taskNoticeOwed_; }
  void setTaskNoticeOwed(bool owed) { taskNoticeOwed_ = owed; }

  IslandOverlays overlays;

 private:
  Json capture_ = idlePayload();
  bool pinned_ = false;
  bool taskNoticeOwed_ = false;
};

class BridgeShell {
 public:
  virtual ~BridgeShell() = default;

  virtual ShellState& state() = 0;
  // Evaluates one statement in the page.
  virtual void evaluate(const std::string& script) = 0;
  // Settles the page's request `messageId`.
  virtual void reply(std::int64_t messageId, const BridgeReply& answer) = 0;
  // Prints one diagnostic line (given without its line feed) and flushes it.
  virtual void printLine(const std::string& line) = 0;

  // Applies the page's appearance preference and answers {"preference",
  // "theme"}; none, changing nothing, when the value is not a preference.
  virtual std::optional<Json> applyAppearance(const Json& value) = 0;

  virtual void show() = 0;
  virtual void hideCreator() = 0;
  // Opens the shortcut and permission settings window, or brings it forward.
  virtual void openSettings() = 0;
  // Opens the local agent setup window, or brings it forward.
  virtual void openAgentSetup() = 0;
  virtual void presentTaskHUD() = 0;
  virtual void flushTaskHUD() = 0;
  virtual void clearLibraryVideo() = 0;
};

}  // namespace glimmet
