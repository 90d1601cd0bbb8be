#pragma once

// The command-line switches, read once at entry. A switch counts when an
// argument equals it exactly, in any position.

#include <string>
#include <vector>

namespace glimmet {

struct Switches {
  bool selfTest = false;                      // "--self-test"
  bool librarySmokeTest = false;              // "--library-smoke-test"
  bool demoLauncher = false;                  // "--demo-launcher"
  bool notificationPreviewLight = false;      // "--notification-preview-light"
  bool notificationPreviewDark = false;       // "--notification-preview-dark"
  bool notificationSmokeTest = false;         // "--notification-smoke-test"
  bool notificationFailureSmokeTest = false;  // "--notification-failure-smoke-test"
  bool previewSmokeTest = false;              // "--preview-smoke-test"
  // A WebDriver session (WebKitWebDriver starts the program with it) drives the page.
  bool automation = false;  // "--automation"

  // The arguments after the program name.
  static Switches parse(const std::vector<std::string>& arguments);
  static Switches parse(int argc, const char* const* argv);

  // "light" or "dark" when a notification preview forces that appearance, else "".
  std::string previewAppearance() const;
  // Either notification smoke test: the page learns it and task notices print a line.
  bool notificationTest() const { return notificationSmokeTest || notificationFailureSmokeTest; }
};

}  // namespace glimmet
