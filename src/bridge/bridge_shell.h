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
#include <vector>

#include "bridge/bridge_reply.h"
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

struct ShellState {
  explicit ShellState(PlumoraIslandHost& host) : overlays(host) {}

  // The capture payload the page receives when nothing was captured.
  static Json idlePayload() { return Json{{"text", ""}, {"voice", false}}; }

  // An image-service generation or connection check is in flight.
  bool apiBusy = false;
  // The running local generation.
  std::optional<std::string> localTaskID;
  // The capture payload not yet delivered to the page.
  Json pending = idlePayload();
  // The page pinned the panel open.
  bool isPinned = false;
  // A compact task notice is owed.
  bool pendingTaskHUD = false;
  // The page finished loading once.
  bool loaded = false;
  // Library smoke-test mode: temporary library, nothing persisted.
  bool libraryValidation = false;
  // The application to give the focus back to when the panel hides.
  std::optional<RunningApplication> sourceApplication;
  IslandOverlays overlays;
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
