#pragma once

// The desktop as the display tests build it, and key presses as a user makes
// them (XTest).

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/json.h"
#include "desktop/gtk_desktop.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
// clang-format off
#include <gdk/gdkx.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace glimmet::testing {

inline Display* xDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// Presses the keys in order and releases them in reverse, as a user would.
inline void pressKeys(const std::vector<KeySym>& keys) {
  for (const KeySym key : keys) {
    XTestFakeKeyEvent(xDisplay(), XKeysymToKeycode(xDisplay(), key), True, CurrentTime);
  }
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
    XTestFakeKeyEvent(xDisplay(), XKeysymToKeycode(xDisplay(), *key), False, CurrentTime);
  }
  XFlush(xDisplay());
}

// A process started with its standard input and output on pipes. Asked to
// stop (SIGTERM) with the object, so that a launcher stops what it started;
// killed if it does not.
class ChildProcess {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // `environment` is added to this process's; with `ownGroup` the child leads
  // a process group of its own.
  explicit ChildProcess(const std::vector<std::string>& argv, const Environment& environment = {},
                        bool ownGroup = false) {
    std::vector<const char*> args;
    for (const std::string& arg : argv) args.push_back(arg.c_str());
    args.push_back(nullptr);
    GObjectPtr<GSubprocessLauncher> launcher(
        g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                G_SUBPROCESS_FLAGS_STDOUT_PIPE)));
    for (const auto& [name, value] : environment) {
      g_subprocess_launcher_setenv(launcher.get(), name.c_str(), value.c_str(), TRUE);
    }
    if (ownGroup) {
      g_subprocess_launcher_set_child_setup(
          launcher.get(), [](gpointer) { setpgid(0, 0); }, nullptr, nullptr);
    }
    process_.reset(g_subprocess_launcher_spawnv(launcher.get(), args.data(), nullptr));
    if (!process_) return;
    output_.reset(g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())));
    g_subprocess_wait_async(
        process_.get(), nullptr,
        [](GObject*, GAsyncResult*, gpointer ended) { *static_cast<bool*>(ended) = true; },
        &ended_);
  }
  ~ChildProcess() {
    if (!process_) return;
    stop(SIGTERM, std::chrono::seconds(5));
    if (!ended_) g_subprocess_force_exit(process_.get());
    spinMainUntil([this] { return ended_; }, std::chrono::minutes(1));
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return std::stoi(g_subprocess_get_identifier(process_.get())); }
  void writeLine(const std::string& text) {
    const std::string line = text + "\n";
    g_output_stream_write_all(g_subprocess_get_stdin_pipe(process_.get()), line.data(), line.size(),
                              nullptr, nullptr, nullptr);
  }
  // Blocks until the child prints a line containing `text`; false when its
  // output ends first. Every line read is kept in `lines`.
  bool waitForLine(const std::string& text) {
    while (true) {
      GTextPtr read(g_data_input_stream_read_line(output_.get(), nullptr, nullptr, nullptr));
      if (!read) return false;
      lines.emplace_back(read.get());
      if (lines.back().find(text) != std::string::npos) return true;
    }
  }
  // Sends `signal` and waits for the end: the status the child exited with,
  // -1 when it did not exit normally or in time.
  int stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    if (!ended_) g_subprocess_send_signal(process_.get(), signal);
    if (!spinMainUntil([this] { return ended_; }, timeout)) return -1;
    return g_subprocess_get_if_exited(process_.get()) ? g_subprocess_get_exit_status(process_.get())
                                                      : -1;
  }

  std::vector<std::string> lines;

 private:
  GObjectPtr<GSubprocess> process_;
  GObjectPtr<GDataInputStream> output_;
  bool ended_ = false;
};

// The program's desktop on a page of the test's own, in library and preview
// smoke-test mode: what the page traces (window.plumora.previewTrace) is
// printed into `lines`.
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { GLIMMET_REQUIRE_DISPLAY(); }
  // WebKit's processes end with the desktop.
  void TearDown() override {
    if (!desktop) return;
    desktop.reset();
    EXPECT_TRUE(awaitChildProcessesExited());
  }

  void launch(const std::string& page) {
    std::filesystem::create_directories(dir / "web");
    writeFile(dir / "web" / "index.html", page);
    DesktopOptions options;
    options.controller.switches.librarySmokeTest = true;
    options.controller.switches.previewSmokeTest = true;
    options.controller.resourceDirectory = dir.path();
    options.controller.temporaryDirectory = dir.path();
    options.controller.printLine = [this](const std::string& line) { lines.push_back(line); };
    options.extensionDirectory = GLIMMET_TEST_EXTENSION_DIR;
    options.defaultsFile = dir / "defaults.json";
    desktop = std::make_unique<GtkDesktop>(std::move(options));
    desktop->launch();
  }

  // The "event" of everything the page traced, in order.
  std::vector<std::string> events() const {
    constexpr std::string_view kPrefix = "PREVIEW_TRACE ";
    std::vector<std::string> found;
    for (const std::string& line : lines) {
      if (!line.starts_with(kPrefix)) continue;
      const Json trace = Json::parse(line.substr(kPrefix.size()));
      if (trace.contains("event")) found.push_back(trace["event"].get<std::string>());
    }
    return found;
  }

  TempDir dir;
  std::vector<std::string> lines;
  std::unique_ptr<GtkDesktop> desktop;
};

}  // namespace glimmet::testing
