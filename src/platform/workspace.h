#pragma once

// The desktop around the program: the default browser, the file manager, the
// Trash and the other running applications. `moveToTrash` may be called from a
// worker thread; everything else runs on the main thread.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/result.h"

namespace glimmet {

struct RunningApplication {
  pid_t pid = 0;
  // The application's identity as the desktop names it; on X11 the WM_CLASS class
  // name (for example "firefox"), which is what the disabled-applications list holds.
  std::string bundleIdentifier;
  // The name to show the user; empty when the application has none.
  std::string localizedName;
  // The platform's handle of the application's active window (an X11 window id),
  // needed to hand focus back to it; 0 when unknown.
  std::uint64_t window = 0;
};

class Workspace {
 public:
  virtual ~Workspace() = default;

  // Opens `url` with the user's default handler; answers whether it was handed over.
  virtual bool openUrl(const std::string& url) = 0;
  // Shows `file` selected in the file manager; answers whether a file manager was asked.
  virtual bool revealFile(const std::filesystem::path& file) = 0;
  // Moves a file or a whole directory to the user's Trash and answers where it
  // landed; a failure carries the message to pass on to the user.
  virtual Result<std::filesystem::path> moveToTrash(const std::filesystem::path& item) = 0;
  // The application the user is working in; none when no application has focus.
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  // Gives focus back to `application`; answers whether the desktop was asked to.
  virtual bool activate(const RunningApplication& application) = 0;
  // Calls `changed` on the main thread whenever another application may have
  // become frontmost; an empty function stops that.
  virtual void observeActivation(std::function<void()> changed) = 0;
};

}  // namespace glimmet
