// Process entry. "--self-test" runs the contract checks and exits with their
// verdict, without a display. Otherwise the program opens its X11 display,
// builds the desktop (the creation panel with its web view and every desktop
// service), runs the launch sequence and the GTK main loop until it is asked
// to stop (SIGINT, SIGTERM or SIGHUP), and then shuts the services down in
// order; in library smoke-test mode that deletes the temporary library.
// "--demo-launcher" shows only the radial menu over a demo selection and ends
// when it closes.
//
// The packaged page and the other resources are looked for in the build tree
// when the program runs from it, else under the prefix the program is
// installed in (found from its own location, so an installation can move).

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "app/switches.h"
#include "core/files.h"
#include "desktop/gtk_desktop.h"
#include "diagnostics/self_test.h"
#include "platform/gtk/gstreamer_sound.h"
#include "platform/headless/headless_desktop_appearance.h"
#include "surfaces/task_feedback.h"

namespace {

struct Installation {
  std::filesystem::path resources;
  std::filesystem::path extensions;
};

Installation installation() {
  const std::optional<std::filesystem::path> running = glimmet::runningProgram();
  if (!running) {
    return {GLIMMET_INSTALL_PREFIX "/" GLIMMET_INSTALL_RESOURCE_DIR,
            GLIMMET_INSTALL_PREFIX "/" GLIMMET_INSTALL_EXTENSION_DIR};
  }
  const std::filesystem::path& program = *running;
  std::error_code error;
  if (glimmet::liesBelow(GLIMMET_BUILD_TREE, program) &&
      std::filesystem::is_directory(GLIMMET_BUILD_RESOURCE_DIR, error)) {
    return {GLIMMET_BUILD_RESOURCE_DIR, GLIMMET_BUILD_EXTENSION_DIR};
  }
  std::filesystem::path prefix = program.parent_path();
  for (const auto& step : std::filesystem::path(GLIMMET_INSTALL_BINDIR)) {
    if (!step.empty()) prefix = prefix.parent_path();
  }
  return {prefix / GLIMMET_INSTALL_RESOURCE_DIR, prefix / GLIMMET_INSTALL_EXTENSION_DIR};
}

gboolean stop(gpointer) {
  gtk_main_quit();
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  const glimmet::Switches switches = glimmet::Switches::parse(argc, argv);
  const Installation installed = installation();
  if (switches.selfTest) {
    // The appearance checks run against an in-memory desktop, so the verdict
    // does not depend on the session; the chime needs no display.
    glimmet::HeadlessDesktopAppearance appearance;
    const std::filesystem::path chime =
        installed.resources / glimmet::PlumoraTaskFeedback::kChimeFile;
    return glimmet::runSelfTest(
        appearance, [&] { return glimmet::GStreamerSound::decodes(chime); }, std::cout, std::cerr);
  }
  // Input shapes, the active window and the selection are X11 services; under
  // Wayland the program runs through XWayland.
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    std::fputs("glimmet: cannot open the X11 display (is DISPLAY set?)\n", stderr);
    return 1;
  }

  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) g_unix_signal_add(signal, stop, nullptr);
  if (switches.demoLauncher) {
    const glimmet::DemoLauncher demo([] { gtk_main_quit(); });
    gtk_main();
    return 0;
  }

  glimmet::DesktopOptions options;
  options.controller.switches = switches;
  options.controller.resourceDirectory = installed.resources;
  options.controller.appVersion = GLIMMET_VERSION;
  options.extensionDirectory = installed.extensions;
  // Like other OpenSSL programs, a CA bundle named by SSL_CERT_FILE replaces
  // the system's: an organisation's own CA, or a test service's.
  if (const char* bundle = std::getenv("SSL_CERT_FILE"); bundle && *bundle) {
    options.controller.session.trustedCAFile = bundle;
  }

  glimmet::GtkDesktop desktop(std::move(options));
  desktop.launch();
  gtk_main();
  desktop.shutdown();
  return 0;
}
