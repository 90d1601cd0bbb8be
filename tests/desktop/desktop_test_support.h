#pragma once

// The desktop as the display tests build it.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "desktop/gtk_desktop.h"
#include "support/test_support.h"

namespace glimmet::testing {

// The desktop on a packaged page of the test's own, in library smoke-test
// mode, printing into `lines`.
inline DesktopOptions desktopOptions(const TempDir& dir, std::vector<std::string>& lines) {
  DesktopOptions options;
  options.controller.switches.librarySmokeTest = true;
  options.controller.switches.previewSmokeTest = true;
  options.controller.resourceDirectory = dir.path();
  options.controller.temporaryDirectory = dir.path();
  options.controller.printLine = [&lines](const std::string& line) { lines.push_back(line); };
  options.extensionDirectory = GLIMMET_TEST_EXTENSION_DIR;
  options.defaultsFile = dir / "defaults.json";
  return options;
}

// The desktop as above on a blank page, launched, once the page has loaded;
// null when it did not load in time.
inline std::unique_ptr<GtkDesktop> launchedOnBlankPage(const TempDir& dir,
                                                       std::vector<std::string>& lines) {
  std::filesystem::create_directories(dir / "web");
  writeFile(dir / "web" / "index.html", "<!doctype html>");
  auto desktop = std::make_unique<GtkDesktop>(desktopOptions(dir, lines));
  desktop->launch();
  if (!spinMainUntil([&] { return desktop->controller().loaded(); },
                     std::chrono::seconds(20))) {
    return nullptr;
  }
  return desktop;
}

}  // namespace glimmet::testing
