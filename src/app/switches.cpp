#include "app/switches.h"

#include <map>

namespace glimmet {

Switches Switches::parse(const std::vector<std::string>& arguments) {
  Switches switches;
  const std::map<std::string, bool Switches::*> known = {
      {"--self-test", &Switches::selfTest},
      {"--library-smoke-test", &Switches::librarySmokeTest},
      {"--demo-launcher", &Switches::demoLauncher},
      {"--notification-preview-light", &Switches::notificationPreviewLight},
      {"--notification-preview-dark", &Switches::notificationPreviewDark},
      {"--notification-smoke-test", &Switches::notificationSmokeTest},
      {"--notification-failure-smoke-test", &Switches::notificationFailureSmokeTest},
      {"--preview-smoke-test", &Switches::previewSmokeTest},
      {"--automation", &Switches::automation},
  };
  for (const std::string& argument : arguments) {
    const auto found = known.find(argument);
    if (found != known.end()) switches.*(found->second) = true;
  }
  return switches;
}

Switches Switches::parse(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int index = 1; index < argc; ++index) arguments.emplace_back(argv[index]);
  return parse(arguments);
}

std::string Switches::previewAppearance() const {
  if (notificationPreviewLight) return "light";
  if (notificationPreviewDark) return "dark";
  return "";
}

}  // namespace glimmet
