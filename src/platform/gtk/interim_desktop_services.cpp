#include "platform/gtk/interim_desktop_services.h"

#include <cstdio>

namespace glimmet {

void UnavailableAppWindows::openAgentSetup() {
  std::fputs("glimmet: the local agent setup window is not available yet\n", stderr);
}

}  // namespace glimmet
