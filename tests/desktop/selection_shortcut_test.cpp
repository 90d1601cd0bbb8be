// The global shortcut and the selection capture on a real X11 desktop: a window
// manager (openbox), another application's window that owns the PRIMARY
// selection, key presses through XTest and a second X client that holds a grab.

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <csignal>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "diagnostics/seed_image.h"
#include "desktop/desktop_test_support.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"
#include "platform/gtk/x11_hot_keys.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace glimmet {
namespace {

using testing::spinMainUntil;
using testing::TempDir;

constexpr unsigned kKeyK = 45;

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// Presses the keys in order and releases them in reverse, as a user would.
void pressKeys(std::initializer_list<KeySym> keys) {
  for (const KeySym key : keys) {
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), key), True, CurrentTime);
  }
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), *key), False, CurrentTime);
  }
  XFlush(display());
}

// Another X client's passive grab, as a second tool holding a shortcut would.
class OtherClient {
 public:
  OtherClient() : x_(XOpenDisplay(nullptr)) {}
  ~OtherClient() { XCloseDisplay(x_); }
  OtherClient(const OtherClient&) = delete;
  OtherClient& operator=(const OtherClient&) = delete;

  // Whether the server lets this client grab the key with these X modifiers.
  bool grab(unsigned keycode, unsigned modifiers) {
    XSync(x_, False);
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) {
      refused_ = true;
      return 0;
    });
    refused_ = false;
    XGrabKey(x_, static_cast<int>(keycode), modifiers, DefaultRootWindow(x_), False, GrabModeAsync,
             GrabModeAsync);
    XSync(x_, False);
    XSetErrorHandler(previous);
    if (!refused_) held_.push_back({keycode, modifiers});
    return !refused_;
  }
  void releaseAll() {
    for (const auto& [keycode, modifiers] : held_) {
      XUngrabKey(x_, static_cast<int>(keycode), modifiers, DefaultRootWindow(x_));
    }
    held_.clear();
    XSync(x_, False);
  }

 private:
  static inline bool refused_ = false;
  Display* x_;
  std::vector<std::pair<unsigned, unsigned>> held_;
};

// A process started with its standard input and output on pipes; it ends when
// its input closes (or is killed) with the object.
class Child {
 public:
  // With `accessible`, a GTK child joins the accessibility bus.
  explicit Child(const std::vector<std::string>& argv, bool accessible = false) {
    std::vector<const char*> args;
    for (const std::string& arg : argv) args.push_back(arg.c_str());
    args.push_back(nullptr);
    GObjectPtr<GSubprocessLauncher> launcher(
        g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                G_SUBPROCESS_FLAGS_STDOUT_PIPE)));
    if (accessible) g_subprocess_launcher_setenv(launcher.get(), "NO_AT_BRIDGE", "0", TRUE);
    process_.reset(g_subprocess_launcher_spawnv(launcher.get(), args.data(), nullptr));
    if (process_) {
      lines_.reset(g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())));
    }
  }
  // Asked to stop first, so that a launcher stops what it started (the
  // accessibility bus launcher its bus); killed if it does not.
  ~Child() {
    if (!process_) return;
    bool ended = false;
    g_subprocess_wait_async(
        process_.get(), nullptr,
        [](GObject*, GAsyncResult*, gpointer done) { *static_cast<bool*>(done) = true; }, &ended);
    g_subprocess_send_signal(process_.get(), SIGTERM);
    if (!spinMainUntil([&] { return ended; }, std::chrono::seconds(5))) {
      g_subprocess_force_exit(process_.get());
      spinMainUntil([&] { return ended; });
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return static_cast<bool>(process_); }
  pid_t pid() const { return std::stoi(g_subprocess_get_identifier(process_.get())); }
  // Blocks until the child prints `line`; false when its output ends first.
  bool waitForLine(const std::string& line) {
    while (true) {
      GTextPtr read(g_data_input_stream_read_line(lines_.get(), nullptr, nullptr, nullptr));
      if (!read) return false;
      if (line == read.get()) return true;
    }
  }

 private:
  GObjectPtr<GSubprocess> process_;
  GObjectPtr<GDataInputStream> lines_;
};

bool windowManagerRunning() {
  return gdk_x11_screen_supports_net_wm_hint(gdk_screen_get_default(),
                                             gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"));
}

class SelectionShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    if (!GTextPtr(g_find_program_in_path("openbox"))) GLIMMET_PEER_MISSING("openbox is missing");
    windowManager_ = std::make_unique<Child>(std::vector<std::string>{"openbox", "--sm-disable"});
    ASSERT_TRUE(spinMainUntil(windowManagerRunning));
  }

  // The page of this test forwards every capture it receives to the trace.
  void startDesktop() {
    std::filesystem::create_directories(temp / "web");
    testing::writeFile(temp / "web" / "index.html",
                       "<script>addEventListener('plumora:capture', e => window.plumora"
                       ".previewTrace({step: 'capture', detail: e.detail}));</script>");
    desktop = std::make_unique<GtkDesktop>(testing::desktopOptions(temp, lines));
    desktop->launch();
    ASSERT_TRUE(spinMainUntil([this] { return desktop->controller().loaded(); }));
  }

  // Another application comes to the front with `text` selected; it joins the
  // accessibility bus when one runs.
  void selectInOtherApplication(const std::string& text, bool password = false) {
    owner.reset();
    std::vector<std::string> argv{SELECTION_OWNER, text};
    if (password) argv.emplace_back("--password");
    owner = std::make_unique<Child>(argv, accessibilityBus_ != nullptr);
    ASSERT_TRUE(owner->started() && owner->waitForLine("ready"));
    DesktopWorkspace workspace;
    ASSERT_TRUE(spinMainUntil([&] {
      const auto front = workspace.frontmostApplication();
      return front && front->pid == owner->pid();
    }));
  }

  // The capture the page received after `press`, as the trace printed it. When
  // the capture offers the radial menu, `choice` is the key that answers it.
  Json captureAfter(const std::function<void()>& press, KeySym choice = XK_1) {
    const std::size_t before = lines.size();
    press();
    Json detail;
    bool answered = false;
    spinMainUntil([&] {
      if (!answered && desktop->radial().hasInput()) {
        pressKeys({choice});
        answered = true;
      }
      for (std::size_t i = before; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.find("\"step\":\"capture\"") == std::string::npos) continue;
        detail = Json::parse(line.substr(line.find('{')))["detail"];
        return true;
      }
      return false;
    });
    return detail;
  }

  // Starts the session's accessibility bus; before the desktop, which looks for it.
  void startAccessibilityBus() {
    accessibilityBus_ = std::make_unique<Child>(
        std::vector<std::string>{ACCESSIBILITY_BUS_LAUNCHER, "--launch-immediately"});
    ASSERT_TRUE(accessibilityBus_->started());
    GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    ASSERT_TRUE(spinMainUntil([&] {
      GVariantPtr reply(g_dbus_connection_call_sync(bus.get(), "org.a11y.Bus", "/org/a11y/bus",
                                                    "org.a11y.Bus", "GetAddress", nullptr, nullptr,
                                                    G_DBUS_CALL_FLAGS_NONE, 500, nullptr, nullptr));
      return static_cast<bool>(reply);
    }));
  }

  TempDir temp;
  std::vector<std::string> lines;
  std::unique_ptr<Child> windowManager_;
  std::unique_ptr<Child> accessibilityBus_;
  std::unique_ptr<Child> owner;
  std::unique_ptr<GtkDesktop> desktop;
};

TEST_F(SelectionShortcutTest, GrabsAreRefusedWhileHeldElsewhereAndPressesReachTheHandler) {
  X11HotKeys hotKeys;
  int pressed = 0;
  hotKeys.setHandler([&] { ++pressed; });
  OtherClient other;
  const KeyCombination ctrlP{33, KeyCombination::kCommand};
  ASSERT_TRUE(other.grab(ctrlP.code, ControlMask | Mod2Mask));
  EXPECT_FALSE(hotKeys.registerHotKey(ctrlP));
  // What failed was released again: the other client holds only its own.
  other.releaseAll();
  EXPECT_TRUE(other.grab(ctrlP.code, ControlMask));
  other.releaseAll();

  const auto id = hotKeys.registerHotKey(ctrlP);
  ASSERT_TRUE(id);
  EXPECT_FALSE(other.grab(ctrlP.code, ControlMask | LockMask));
  EXPECT_FALSE(hotKeys.registerHotKey({0, KeyCombination::kCommand}));
  pressKeys({XK_Control_L, XK_p});
  ASSERT_TRUE(spinMainUntil([&] { return pressed == 1; }));
  pressKeys({XK_Control_L, XK_Shift_L, XK_p});
  hotKeys.unregisterHotKey(*id);
  EXPECT_TRUE(other.grab(ctrlP.code, ControlMask));
  pressKeys({XK_Control_L, XK_p});
  spinMainUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(pressed, 1);
}

TEST_F(SelectionShortcutTest, TheShortcutOffersTheSelectionAndTheChoiceReachesThePage) {
  startDesktop();
  selectInOtherApplication("雨天的城市，一杯热咖啡");
  const Json text = captureAfter([] { pressKeys({XK_Control_L, XK_p}); }, XK_2);
  EXPECT_EQ(text, (Json{{"text", "雨天的城市，一杯热咖啡"},
                        {"voice", false},
                        {"source", "Selection-owner"},
                        {"mode", "template"}}));
  EXPECT_TRUE(desktop->panel().isVisible());
  desktop->controller().hideCreator();
  DesktopWorkspace workspace;
  EXPECT_TRUE(spinMainUntil([&] {
    const auto front = workspace.frontmostApplication();
    return front && front->pid == owner->pid();
  }));

  const std::filesystem::path png = temp / "photo.png";
  std::ofstream(png, std::ios::binary) << seedImagePNG();
  selectInOtherApplication(png.string());
  const Json image = captureAfter([] { pressKeys({XK_Control_L, XK_p}); }, XK_Return);
  EXPECT_EQ(image["image"].get<std::string>().rfind("data:image/png;base64,", 0), 0u);
  EXPECT_EQ(image["mode"], "edit");

  selectInOtherApplication("file://" + (temp / "missing.png").string());
  EXPECT_EQ(captureAfter([this] { desktop->controller().captureText(); })["error"],
            SelectionCapture::kUnreadableImage);
}

TEST_F(SelectionShortcutTest, APasswordFieldInFrontIsNeverRead) {
  startAccessibilityBus();
  startDesktop();
  selectInOtherApplication("hunter2", true);
  // The accessibility bus reports the focus a moment after the window shows.
  ASSERT_TRUE(spinMainUntil([this] {
    return desktop->selectionReader().focusWatch().passwordFieldFocused(owner->pid());
  }));
  const auto capture = [] { pressKeys({XK_Control_L, XK_p}); };
  EXPECT_EQ(captureAfter(capture), (Json{{"text", ""},
                                         {"voice", false},
                                         {"source", "Selection-owner"},
                                         {"error", SelectionCapture::kNothingSelected}}));
  desktop->controller().hideCreator();
  selectInOtherApplication("雨天");
  EXPECT_EQ(captureAfter(capture)["text"], "雨天");
}

TEST_F(SelectionShortcutTest, ChangingAndPausingTheShortcutInTheSettingsWindowMovesTheGrab) {
  startDesktop();
  desktop->controller().openSettings();
  GtkSettingsWindow& window = desktop->settingsWindow();
  ASSERT_TRUE(spinMainUntil([&] { return gtk_window_is_active(window.window()); }));
  const auto label = [&] { return std::string(gtk_button_get_label(window.recorderButton())); };
  // While the recorder listens, the registered hot key itself is recorded, not captured.
  const std::size_t before = lines.size();
  gtk_button_clicked(window.recorderButton());
  EXPECT_EQ(label(), ShortcutRecorder::kRecordingTitle);
  pressKeys({XK_Control_L, XK_p});
  ASSERT_TRUE(spinMainUntil([&] { return label() == "⌘P"; }));
  gtk_button_clicked(window.recorderButton());
  pressKeys({XK_Control_L, XK_Shift_L, XK_k});
  ASSERT_TRUE(spinMainUntil([&] { return label() == "⇧⌘K"; }));
  EXPECT_EQ(lines.size(), before);
  gtk_button_clicked(window.saveButton());
  EXPECT_FALSE(window.isVisible());

  OtherClient other;
  EXPECT_TRUE(other.grab(33, ControlMask));
  EXPECT_FALSE(other.grab(kKeyK, ControlMask | ShiftMask));
  other.releaseAll();
  selectInOtherApplication("换了快捷键");
  EXPECT_EQ(captureAfter([] {
              pressKeys({XK_Control_L, XK_Shift_L, XK_k});
            })["text"],
            "换了快捷键");

  desktop->controller().openSettings();
  gtk_toggle_button_set_active(window.pauseButton(), TRUE);
  gtk_button_clicked(window.saveButton());
  EXPECT_TRUE(other.grab(kKeyK, ControlMask | ShiftMask));
}

}  // namespace
}  // namespace glimmet
