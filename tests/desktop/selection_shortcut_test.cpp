// The global shortcut and the selection capture on a real X11 desktop: a window
// manager (openbox), another application's window that owns the PRIMARY
// selection, key presses through XTest and a second X client that holds a grab.

#include <string>
#include <vector>

#include "desktop/desktop_test_support.h"
#include "platform/gtk/x11_hot_keys.h"

namespace glimmet {
namespace {

using testing::ChildProcess;
using testing::pressKeys;
using testing::spinMainUntil;

constexpr unsigned kKeyP = 33;
constexpr unsigned kKeyK = 45;

// Another X client's passive grab, as a second tool holding a shortcut would.
class OtherClient {
 public:
  // Whether the server lets this client grab the key with these X modifiers;
  // the grab is held until the client goes.
  bool grab(unsigned keycode, unsigned modifiers) {
    Display* x = display_.get();
    XSync(x, False);
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) {
      refused_ = true;
      return 0;
    });
    refused_ = false;
    XGrabKey(x, static_cast<int>(keycode), modifiers, DefaultRootWindow(x), False, GrabModeAsync,
             GrabModeAsync);
    XSync(x, False);
    XSetErrorHandler(previous);
    return !refused_;
  }

 private:
  static inline bool refused_ = false;
  std::unique_ptr<Display, decltype(&XCloseDisplay)> display_{XOpenDisplay(nullptr),
                                                              &XCloseDisplay};
};

class SelectionShortcutTest : public testing::DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    if (IsSkipped()) return;
    if (!GTextPtr(g_find_program_in_path("openbox"))) GLIMMET_PEER_MISSING("openbox is missing");
    windowManager_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{"openbox", "--sm-disable"});
    ASSERT_TRUE(spinMainUntil([] {
      return gdk_x11_screen_supports_net_wm_hint(
          gdk_screen_get_default(), gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"));
    }));
  }

  // The desktop goes first, then the applications it watched.
  void TearDown() override {
    desktop.reset();
    owner.reset();
    accessibilityBus_.reset();
    windowManager_.reset();
    EXPECT_TRUE(testing::awaitChildProcessesExited());
  }

  // The page of this test forwards every capture it receives to the trace.
  void startDesktop() {
    launch(
        "<script>addEventListener('plumora:capture', e => window.plumora"
        ".previewTrace({event: JSON.stringify(e.detail)}));</script>");
    ASSERT_TRUE(
        spinMainUntil([this] { return desktop->controller().loaded(); }, std::chrono::seconds(20)));
  }

  bool ownerInFront() {
    return spinMainUntil([this] {
      const auto front = DesktopWorkspace().frontmostApplication();
      return front && front->pid == owner->pid();
    });
  }

  // Another application comes to the front with `text` selected; it joins the
  // accessibility bus when one runs.
  void selectInOtherApplication(const std::string& text, bool password = false) {
    owner.reset();
    std::vector<std::string> argv{SELECTION_OWNER, text};
    if (password) argv.emplace_back("--password");
    ChildProcess::Environment environment;
    if (accessibilityBus_) environment.emplace_back("NO_AT_BRIDGE", "0");
    owner = std::make_unique<ChildProcess>(argv, environment);
    ASSERT_TRUE(owner->waitForLine("ready"));
    ASSERT_TRUE(ownerInFront());
  }

  // The capture the page received after the key presses. When the capture
  // offers the radial menu, `choice` is the key that answers it.
  Json captureAfter(const std::vector<KeySym>& keys, KeySym choice = XK_1) {
    const std::size_t before = events().size();
    pressKeys(keys);
    bool answered = false;
    spinMainUntil([&] {
      if (!answered && desktop->radial().hasInput()) {
        pressKeys({choice});
        answered = true;
      }
      return events().size() > before;
    });
    return events().size() > before ? Json::parse(events().back()) : Json();
  }

  // Starts the session's accessibility bus; before the desktop, which looks for it.
  void startAccessibilityBus() {
    accessibilityBus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{ACCESSIBILITY_BUS_LAUNCHER, "--launch-immediately"});
    GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    ASSERT_TRUE(spinMainUntil([&] {
      return static_cast<bool>(GVariantPtr(g_dbus_connection_call_sync(
          bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
          nullptr, G_DBUS_CALL_FLAGS_NONE, 500, nullptr, nullptr)));
    }));
  }

  std::unique_ptr<ChildProcess> windowManager_;
  std::unique_ptr<ChildProcess> accessibilityBus_;
  std::unique_ptr<ChildProcess> owner;
};

// A grab another client holds (here with NumLock on) is refused, and what was
// grabbed before the refusal is released again.
TEST_F(SelectionShortcutTest, AGrabHeldByAnotherClientIsRefused) {
  X11HotKeys hotKeys;
  {
    OtherClient other;
    ASSERT_TRUE(other.grab(kKeyP, ControlMask | Mod2Mask));
    EXPECT_FALSE(hotKeys.registerHotKey({kKeyP, KeyCombination::kCommand}));
  }
  EXPECT_TRUE(OtherClient().grab(kKeyP, ControlMask));
}

// The text selected in another application reaches the page with the radial
// menu's choice, and that application gets the focus back with the panel hidden.
TEST_F(SelectionShortcutTest, TheShortcutOffersTheSelectionAndTheChoiceReachesThePage) {
  startDesktop();
  selectInOtherApplication("雨天的城市，一杯热咖啡");
  EXPECT_EQ(captureAfter({XK_Control_L, XK_p}, XK_2), (Json{{"text", "雨天的城市，一杯热咖啡"},
                                                            {"voice", false},
                                                            {"source", "Selection-owner"},
                                                            {"mode", "template"}}));
  EXPECT_TRUE(desktop->panel().isVisible());
  desktop->controller().hideCreator();
  EXPECT_TRUE(ownerInFront());
}

TEST_F(SelectionShortcutTest, APasswordFieldInFrontIsNeverRead) {
  startAccessibilityBus();
  startDesktop();
  selectInOtherApplication("hunter2", true);
  // The focus is heard only when it moves, and a loaded machine may move it
  // before the owner's accessibility bridge knows of the desktop's listener:
  // the owner moves it again until the desktop hears it.
  ASSERT_TRUE(spinMainUntil([this] {
    owner->writeLine("focus");
    return spinMainUntil(
        [this] {
          return desktop->selectionReader().focusWatch().passwordFieldFocused(owner->pid());
        },
        std::chrono::milliseconds(500));
  }));
  EXPECT_EQ(captureAfter({XK_Control_L, XK_p}),
            (Json{{"text", ""},
                  {"voice", false},
                  {"source", "Selection-owner"},
                  {"error", SelectionCapture::kNothingSelected}}));
  desktop->controller().hideCreator();
  selectInOtherApplication("雨天");
  EXPECT_EQ(captureAfter({XK_Control_L, XK_p})["text"], "雨天");
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
  pressKeys({XK_Control_L, XK_p});
  ASSERT_TRUE(spinMainUntil([&] { return label() == "⌘P"; }));
  gtk_button_clicked(window.recorderButton());
  pressKeys({XK_Control_L, XK_Shift_L, XK_k});
  ASSERT_TRUE(spinMainUntil([&] { return label() == "⇧⌘K"; }));
  EXPECT_EQ(lines.size(), before);
  gtk_button_clicked(window.saveButton());
  EXPECT_FALSE(window.isVisible());

  OtherClient other;
  EXPECT_TRUE(other.grab(kKeyP, ControlMask));
  EXPECT_FALSE(other.grab(kKeyK, ControlMask | ShiftMask));

  desktop->controller().openSettings();
  gtk_toggle_button_set_active(window.pauseButton(), TRUE);
  gtk_button_clicked(window.saveButton());
  EXPECT_TRUE(other.grab(kKeyK, ControlMask | ShiftMask));
}

}  // namespace
}  // namespace glimmet
