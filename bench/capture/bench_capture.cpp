// Measures the global shortcut's capture: from the synthesised key press
// (XTest) to the radial menu offering the selection, with the pointer and
// the keys in its hands, against a baseline
// measured in the same run: the same root-window grab (X11HotKeys) whose
// handler only reads the PRIMARY selection.
//
// Both run on a private virtual display (tests/platform/gtk/with-display.sh, started
// here unless already in one) under openbox, with another application's window
// in front that owns the selection: this program started again with
// "--own-selection". The program side is the whole desktop; after each capture
// Escape closes the radial menu, and the focus stays with that window. One
// unmeasured warm-up press each, then 30 measured presses each.
//
// Ends with two lines: "capture_ratio: X" (program over baseline medians;
// target at most 1.5) and "capture_ms: X" (the program's median on this machine).

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/files.h"
#include "core/glib_ptr.h"
#include "desktop/gtk_desktop.h"
#include "platform/gtk/x11_hot_keys.h"
#include "private_display.h"

// Last: Xlib's macros clash with names above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace {

using glimmet::GObjectPtr;
using glimmet::GTextPtr;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kOnPrivateDisplay = "GLIMMET_BENCH_CAPTURE_ON_PRIVATE_DISPLAY";
constexpr const char* kSelectedText = "雨天的城市，一杯热咖啡";
constexpr int kPresses = 30;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

// Spins the main loop until `done`; fails after `timeout`.
void spinUntil(const std::function<bool()>& done, const char* what,
               std::chrono::milliseconds timeout = 10s) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) fail(std::string("timed out waiting for ") + what);
    g_main_context_iteration(nullptr, FALSE);
  }
}

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

void pressCtrlP() {
  const KeyCode control = XKeysymToKeycode(display(), XK_Control_L);
  const KeyCode p = XKeysymToKeycode(display(), XK_p);
  XTestFakeKeyEvent(display(), control, True, CurrentTime);
  XTestFakeKeyEvent(display(), p, True, CurrentTime);
  XTestFakeKeyEvent(display(), p, False, CurrentTime);
  XTestFakeKeyEvent(display(), control, False, CurrentTime);
  XFlush(display());
}

void pressEscape() {
  const KeyCode escape = XKeysymToKeycode(display(), XK_Escape);
  XTestFakeKeyEvent(display(), escape, True, CurrentTime);
  XTestFakeKeyEvent(display(), escape, False, CurrentTime);
  XFlush(display());
}

GObjectPtr<GSubprocess> start(const std::vector<const char*>& argv, GSubprocessFlags flags) {
  std::vector<const char*> terminated = argv;
  terminated.push_back(nullptr);
  GObjectPtr<GSubprocess> process(g_subprocess_newv(terminated.data(), flags, nullptr));
  if (!process) fail(std::string("cannot start ") + argv[0]);
  return process;
}

// The other application: a window that owns the selection until stdin closes.
int ownSelection() {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_show_all(window);
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), kSelectedText, -1);
  std::puts("ready");
  std::fflush(stdout);
  GIOChannel* input = g_io_channel_unix_new(STDIN_FILENO);
  g_io_add_watch(
      input, G_IO_IN,
      [](GIOChannel*, GIOCondition, gpointer) {
        gtk_main_quit();
        return gboolean(G_SOURCE_REMOVE);
      },
      nullptr);
  g_io_channel_unref(input);
  gtk_main();
  return 0;
}

bool ownerInFront(glimmet::DesktopWorkspace& workspace, pid_t owner) {
  const auto front = workspace.frontmostApplication();
  return front && front->pid == owner;
}

// Milliseconds from each press to `received` turning true; `reset` runs before each.
std::vector<double> measure(const std::function<void()>& reset,
                            const std::function<bool()>& received) {
  std::vector<double> samples;
  for (int i = 0; i <= kPresses; ++i) {
    reset();
    const auto pressed = Clock::now();
    pressCtrlP();
    spinUntil(received, "the capture");
    if (i > 0) {
      samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
    }
  }
  return samples;
}

double baseline() {
  glimmet::X11HotKeys hotKeys;
  bool received = false;
  hotKeys.setHandler([&] {
    gtk_clipboard_request_text(
        gtk_clipboard_get(GDK_SELECTION_PRIMARY),
        [](GtkClipboard*, const gchar* text, gpointer done) {
          *static_cast<bool*>(done) = text != nullptr && std::strcmp(text, kSelectedText) == 0;
        },
        &received);
  });
  if (!hotKeys.registerHotKey({glimmet::Shortcut::kKeyP, glimmet::KeyCombination::kCommand})) {
    fail("the baseline cannot grab Ctrl+P");
  }
  return glimmet::bench::median(measure([&] { received = false; }, [&] { return received; }));
}

double program(const std::filesystem::path& directory, glimmet::DesktopWorkspace& workspace,
               pid_t owner) {
  std::filesystem::create_directories(directory / "web");
  std::ofstream(directory / "web" / "index.html") << "<!doctype html>";
  glimmet::DesktopOptions options;
  options.controller.switches.librarySmokeTest = true;
  options.controller.resourceDirectory = directory;
  options.controller.temporaryDirectory = directory;
  options.controller.printLine = [](const std::string&) {};
  options.extensionDirectory = GLIMMET_BUILD_EXTENSION_DIR;
  options.defaultsFile = directory / "defaults.json";
  glimmet::GtkDesktop desktop(std::move(options));
  desktop.launch();
  spinUntil([&] { return desktop.controller().loaded(); }, "the page", 60s);
  glimmet::RadialView& radial = desktop.radial();
  const double result = glimmet::bench::median(measure(
      [&] {
        if (radial.isVisible()) {
          pressEscape();
          spinUntil([&] { return !radial.isVisible(); }, "the radial menu to close");
        }
        desktop.controller().hideCreator();
        spinUntil([&] { return ownerInFront(workspace, owner); }, "the focus to return");
      },
      [&] { return radial.hasInput(); }));
  desktop.shutdown();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    glimmet::bench::openPrivateDisplay(argc, argv, kOnPrivateDisplay, DISPLAY_WRAPPER);
    if (argc > 1 && std::strcmp(argv[1], "--own-selection") == 0) return ownSelection();

    const GObjectPtr<GSubprocess> windowManager =
        start({"openbox", "--sm-disable"}, G_SUBPROCESS_FLAGS_NONE);
    spinUntil(
        [] {
          return gdk_x11_screen_supports_net_wm_hint(
              gdk_screen_get_default(), gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"));
        },
        "openbox");
    const GObjectPtr<GSubprocess> owner =
        start({argv[0], "--own-selection"},
              static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                            G_SUBPROCESS_FLAGS_STDOUT_PIPE));
    GObjectPtr<GDataInputStream> ownerOutput(
        g_data_input_stream_new(g_subprocess_get_stdout_pipe(owner.get())));
    GTextPtr ready(g_data_input_stream_read_line(ownerOutput.get(), nullptr, nullptr, nullptr));
    if (!ready) fail("the selection owner did not start");
    const pid_t ownerPid = std::stoi(g_subprocess_get_identifier(owner.get()));
    glimmet::DesktopWorkspace workspace;
    spinUntil([&] { return ownerInFront(workspace, ownerPid); }, "the selection owner in front");

    const double base = baseline();
    const glimmet::TemporaryDirectory directory("glimmet-bench-capture");
    const double measured = program(directory.path(), workspace, ownerPid);
    std::printf("capture_baseline_ms: %.2f\n", base);
    std::printf("capture_ratio: %.2f\n", measured / base);
    std::printf("capture_ms: %.2f\n", measured);
    g_subprocess_force_exit(owner.get());
    g_subprocess_force_exit(windowManager.get());
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_capture: %s\n", error.what());
    return 1;
  }
}
