// The creation panel's web view on a real display: the light/dark choice
// reaching GTK and the page's colour scheme (with a desktop portal on the
// private session bus), and the editing shortcuts typed through XTest into a
// field of the page.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/plumora_appearance.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/portal_desktop_appearance.h"
#include "platform/gtk/webkit_page_view.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_workspace.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace glimmet {
namespace {

using testing::FakeBusService;
using testing::spinMainUntil;
using testing::TempDir;

constexpr const char* kSettings = R"(<node><interface name="org.freedesktop.portal.Settings">
  <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
</interface></node>)";
// The portal's color-scheme values.
constexpr guint32 kPrefersDark = 1;
constexpr guint32 kPrefersLight = 2;

class LoadCountingDelegate final : public WebPageDelegate {
 public:
  void startResource(std::shared_ptr<SchemeTask> task) override {
    task->fail(LocalAgentFailure("no resources here"));
  }
  void messageReceived(std::optional<std::string_view>, bool, Json) override {}
  void pageLoaded() override { ++loads; }
  void pageLoadFailed() override {}
  bool beginFilePanel() override { return false; }
  void endFilePanel() override {}

  int loads = 0;
};

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// Presses the keys in order and releases them in reverse, as a user would.
void pressKeys(const std::vector<KeySym>& keys) {
  for (const KeySym key : keys) {
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), key), True, CurrentTime);
  }
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), *key), False, CurrentTime);
  }
  XFlush(display());
}

bool gtkPrefersDark() {
  gboolean dark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  return dark;
}

class PageAppearanceEditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
    page_.emplace(WebPageOptions{true, {}}, delegate_, panels_, workspace_);
    gtk_container_add(GTK_CONTAINER(window_), page_->widget());
    webkit_web_view_load_html(page_->webView(),
                              "<input id=field><script>let keys = 0;"
                              "addEventListener('keydown', () => { keys += 1; });</script>",
                              "plumora://local/");
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
    ASSERT_TRUE(spinMainUntil([&] { return delegate_.loads == 1; }, std::chrono::seconds(20)));
  }

  void TearDown() override {
    page_.reset();
    if (window_ != nullptr) gtk_widget_destroy(window_);
  }

  // The text of the script's result, "" when it failed.
  std::string evaluated(const std::string& script) {
    struct Pending {
      bool done = false;
      std::string text;
    } pending;
    webkit_web_view_evaluate_javascript(
        page_->webView(), script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* result, gpointer data) {
          auto* waiting = static_cast<Pending*>(data);
          if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view),
                                                                           result, nullptr)) {
            gchar* text = jsc_value_to_string(value);
            waiting->text = text;
            g_free(text);
            g_object_unref(value);
          }
          waiting->done = true;
        },
        &pending);
    spinMainUntil([&] { return pending.done; });
    return pending.text;
  }

  bool pageIsDark() {
    return evaluated("matchMedia('(prefers-color-scheme: dark)').matches") == "true";
  }

  LoadCountingDelegate delegate_;
  HeadlessFilePanels panels_;
  HeadlessWorkspace workspace_;
  GtkWidget* window_ = nullptr;
  std::optional<WebKitPageView> page_;
};

TEST_F(PageAppearanceEditingTest, EachChoiceReachesGtkAndThePageAndSystemFollowsTheDesktop) {
  std::atomic<guint32> desktop = kPrefersDark;
  FakeBusService portal("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                        kSettings, [&](const std::string& method, GVariant*) -> GVariant* {
                          if (method != "ReadOne") return nullptr;
                          return g_variant_new("(v)", g_variant_new_uint32(desktop));
                        });
  PortalDesktopAppearance appearance;
  TempDir dir;
  DefaultsStore defaults(dir / "defaults.json");

  struct Case {
    const char* choice;
    bool dark;
  };
  // The desktop prefers dark.
  for (const Case& choice : {Case{"light", false}, Case{"dark", true}, Case{"system", true}}) {
    const Json applied =
        PlumoraAppearance::apply(std::string(choice.choice), true, appearance, defaults);
    EXPECT_EQ(applied,
              (Json{{"preference", choice.choice}, {"theme", choice.dark ? "dark" : "light"}}));
    EXPECT_EQ(gtkPrefersDark(), choice.dark) << choice.choice;
    EXPECT_TRUE(spinMainUntil([&] { return pageIsDark() == choice.dark; })) << choice.choice;
    EXPECT_EQ(PlumoraAppearance::saved(defaults), choice.choice);
  }

  // Still on "system", the desktop turns light and then dark again.
  for (const guint32 scheme : {kPrefersLight, kPrefersDark}) {
    desktop = scheme;
    portal.emitSignal("org.freedesktop.portal.Settings", "SettingChanged",
                      g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme",
                                    g_variant_new_uint32(scheme)));
    const bool dark = scheme == kPrefersDark;
    EXPECT_TRUE(spinMainUntil([&] { return gtkPrefersDark() == dark && pageIsDark() == dark; }));
    EXPECT_EQ(PlumoraAppearance::apply(std::string("system"), false, appearance, defaults),
              (Json{{"preference", "system"}, {"theme", dark ? "dark" : "light"}}));
  }
}

// Each shortcut acts once on the focused field (a second paste shows that
// nothing ran twice) and the page's script hears each key press once.
TEST_F(PageAppearanceEditingTest, EditingShortcutsActOnceOnThePagesFocusedField) {
  gtk_widget_grab_focus(page_->widget());
  evaluated("document.getElementById('field').focus()");
  for (const KeySym letter : {XK_a, XK_b, XK_c}) pressKeys({letter});
  ASSERT_TRUE(spinMainUntil([&] { return evaluated("field.value") == "abc"; }));

  struct Step {
    std::vector<KeySym> keys;
    std::string value;
    std::string selection;
  };
  const std::vector<Step> steps = {
      {{XK_Control_L, XK_a}, "abc", "0-3"},
      {{XK_Control_L, XK_x}, "", "0-0"},
      {{XK_Control_L, XK_v}, "abc", "3-3"},
      {{XK_Control_L, XK_v}, "abcabc", "6-6"},
      {{XK_Control_L, XK_z}, "abc", "3-3"},
      {{XK_Control_L, XK_Shift_L, XK_z}, "abcabc", "6-6"},
      {{XK_Control_L, XK_a}, "abcabc", "0-6"},
      {{XK_Control_L, XK_c}, "abcabc", "0-6"},
      {{XK_End}, "abcabc", "6-6"},
      {{XK_Control_L, XK_v}, "abcabcabcabc", "12-12"},
  };
  int keys = 3;
  for (const Step& step : steps) {
    const std::string label = "after key " + std::to_string(step.keys.back());
    pressKeys(step.keys);
    keys += static_cast<int>(step.keys.size());
    EXPECT_TRUE(spinMainUntil([&] {
      return evaluated("keys") == std::to_string(keys) &&
             evaluated("field.value + '|' + field.selectionStart + '-' + field.selectionEnd") ==
                 step.value + "|" + step.selection;
    })) << label
        << ": "
        << evaluated(
               "field.value + '|' + field.selectionStart + '-' + field.selectionEnd + '|' "
               "+ keys");
  }
}

}  // namespace
}  // namespace glimmet
