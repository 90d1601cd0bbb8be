#include "platform/gtk/desktop_workspace.h"

// GoogleTest first: Xlib's macros (None, Bool) would break its templates.
#include "platform/gtk/display_support.h"
// Then the X11 headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

namespace glimmet {
namespace {

using testing::FakeBusService;
using testing::spinMainUntil;
using testing::TempDir;

Display* xDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// Plays the window manager's part: names the active window on the root window.
void setActiveWindow(unsigned long window) {
  Display* x = xDisplay();
  XChangeProperty(x, DefaultRootWindow(x), XInternAtom(x, "_NET_ACTIVE_WINDOW", False), XA_WINDOW,
                  32, PropModeReplace, reinterpret_cast<unsigned char*>(&window), 1);
  XSync(x, False);
}

struct TestWindow {
  TestWindow() {
    widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(widget);
    spinMainUntil([this] { return gtk_widget_get_mapped(widget); });
    id = GDK_WINDOW_XID(gtk_widget_get_window(widget));
    XClassHint hint{const_cast<char*>("glimmet-test"), const_cast<char*>("Glimmet-Test-Editor")};
    XSetClassHint(xDisplay(), id, &hint);
  }
  ~TestWindow() { gtk_widget_destroy(widget); }
  GtkWidget* widget;
  unsigned long id;
};

TEST(DesktopWorkspaceTest, FrontmostApplicationIsTheActiveWindowsOwner) {
  GLIMMET_REQUIRE_DISPLAY();
  DesktopWorkspace workspace;
  setActiveWindow(None);
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);

  std::uint64_t gone = 0;
  {
    TestWindow window;
    setActiveWindow(window.id);
    const auto application = workspace.frontmostApplication();
    ASSERT_TRUE(application);
    EXPECT_EQ(application->pid, getpid());
    EXPECT_EQ(application->bundleIdentifier, "Glimmet-Test-Editor");
    EXPECT_EQ(application->localizedName, "Glimmet-Test-Editor");
    EXPECT_EQ(application->window, window.id);
    gone = window.id;
  }
  // A window manager may still name a window that has just closed.
  XSync(xDisplay(), False);
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
  EXPECT_FALSE(workspace.activate({1, "Glimmet-Test-Editor", "", gone}));
  EXPECT_FALSE(workspace.activate({1, "Glimmet-Test-Editor", "", 0}));
}

TEST(DesktopWorkspaceTest, ActivationWithoutWindowManagerFocusesTheWindow) {
  GLIMMET_REQUIRE_DISPLAY();
  DesktopWorkspace workspace;
  TestWindow window;
  ASSERT_TRUE(workspace.activate({getpid(), "Glimmet-Test-Editor", "", window.id}));
  Window focused = None;
  int revert = 0;
  XGetInputFocus(xDisplay(), &focused, &revert);
  EXPECT_EQ(focused, window.id);
}

TEST(DesktopWorkspaceTest, RevealAsksTheFileManagerToShowTheItem) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  testing::writeFile(dir / "作品 1.png", "x");
  std::vector<std::string> shown;
  FakeBusService fileManager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                             R"(<node><interface name="org.freedesktop.FileManager1">
           <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/>
           </method></interface></node>)",
                             [&](const std::string& method, GVariant* parameters) -> GVariant* {
                               if (method != "ShowItems") return nullptr;
                               GPtr<const gchar*, g_free> uris(nullptr);
                               const gchar** raw = nullptr;
                               g_variant_get(parameters, "(^a&s&s)", &raw, nullptr);
                               uris.reset(raw);
                               for (const gchar** uri = raw; *uri != nullptr; ++uri)
                                 shown.emplace_back(*uri);
                               return g_variant_new("()");
                             });
  DesktopWorkspace workspace;
  ASSERT_TRUE(workspace.revealFile(dir / "作品 1.png"));
  ASSERT_TRUE(spinMainUntil([&] { return !shown.empty(); }));
  GTextPtr expected(g_filename_to_uri((dir / "作品 1.png").c_str(), nullptr, nullptr));
  EXPECT_EQ(shown, std::vector<std::string>{expected.get()});
  EXPECT_FALSE(workspace.revealFile(dir / "absent.png"));
}

}  // namespace
}  // namespace glimmet
