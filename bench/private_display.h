#pragma once

// The benchmarks that need a display run themselves again on a private virtual
// one (tests/platform/gtk/with-display.sh), so they never touch the user's.

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace glimmet::bench {

// Unless the environment variable `marker` says this process already runs on
// the private display, runs this program again under `wrapper` (and does not
// return). Then opens GTK on X11 there. Throws std::runtime_error.
inline void openPrivateDisplay(int& argc, char**& argv, const char* marker, const char* wrapper) {
  if (std::getenv(marker) == nullptr) {
    ::setenv(marker, "1", 1);
    char* arguments[] = {const_cast<char*>(wrapper), argv[0], nullptr};
    ::execv(wrapper, arguments);
    throw std::runtime_error(std::string("cannot run ") + wrapper + ": " + std::strerror(errno));
  }
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) throw std::runtime_error("no X11 display");
}

}  // namespace glimmet::bench
