// The desktop's small services on the private display and session bus of
// with-display.sh: alerts, file panels, the pop-up menu, the clipboard, the
// workspace (windows, the file manager), the portal's appearance settings and
// the sounds (into a fake sink), and the agent setup window.

#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "agents/local_agent_setup.h"
#include "core/defaults_store.h"
#include "core/digest.h"
#include "platform/gtk/desktop_workspace.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/gstreamer_sound.h"
#include "platform/gtk/gtk_agent_setup_window.h"
#include "platform/gtk/gtk_alerts.h"
#include "platform/gtk/gtk_clipboard_access.h"
#include "platform/gtk/gtk_file_panels.h"
#include "platform/gtk/gtk_popup_menu.h"
#include "platform/gtk/portal_desktop_appearance.h"
#include "platform/headless/headless_shell.h"
#include "support/archive/tar_gz.h"
#include "support/https/test_https_service.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeBusService;
using testing::Reply;
using testing::spinMainUntil;
using testing::TempDir;

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override { GLIMMET_REQUIRE_DISPLAY(); }
};

// The last visible top-level window of `type`, as the dialogs show themselves.
GtkWidget* shownWindow(GType type) {
  GtkWidget* found = nullptr;
  GPtr<GList, g_list_free> windows(gtk_window_list_toplevels());
  for (GList* item = windows.get(); item != nullptr; item = item->next) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(item->data, type) &&
        gtk_widget_get_visible(GTK_WIDGET(item->data)))
      found = GTK_WIDGET(item->data);
  }
  return found;
}

GtkDialog* shownAlert() { return GTK_DIALOG(shownWindow(GTK_TYPE_MESSAGE_DIALOG)); }
GtkFileChooser* shownChooser() {
  return GTK_FILE_CHOOSER(shownWindow(GTK_TYPE_FILE_CHOOSER_DIALOG));
}

std::string textOf(GtkDialog* dialog, const char* property) {
  gchar* raw = nullptr;
  g_object_get(dialog, property, &raw, nullptr);
  const GTextPtr text(raw);
  return raw != nullptr ? raw : "";
}

// The button labels from left to right, as laid out on screen.
std::vector<std::string> buttonsOf(GtkDialog* dialog) {
  std::vector<std::pair<int, std::string>> placed;
  for (int response = 0;; ++response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
    if (button == nullptr) break;
    spinMainUntil([&] { return gtk_widget_get_allocated_width(button) > 1; });
    GtkAllocation allocation;
    gtk_widget_get_allocation(button, &allocation);
    placed.emplace_back(allocation.x, gtk_button_get_label(GTK_BUTTON(button)));
  }
  std::sort(placed.begin(), placed.end());
  std::vector<std::string> labels;
  for (auto& [x, label] : placed) labels.push_back(std::move(label));
  return labels;
}

TEST_F(DisplayTest, AlertsShowTheTextsAndAnswerTheChosenButton) {
  GtkAlerts alerts;
  std::vector<std::size_t> answers;
  const auto record = [&](std::size_t index) { answers.push_back(index); };
  alerts.present({"移到废纸篓？", "50% <b>不会</b> 删除", {"移到废纸篓", "取消"}}, record);
  GtkDialog* dialog = shownAlert();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(textOf(dialog, "text"), "移到废纸篓？");
  EXPECT_EQ(textOf(dialog, "secondary-text"), "50% <b>不会</b> 删除");
  EXPECT_EQ(buttonsOf(dialog), (std::vector<std::string>{"取消", "移到废纸篓"}));
  gtk_dialog_response(dialog, 0);
  EXPECT_EQ(answers, std::vector<std::size_t>{0});
  EXPECT_EQ(shownAlert(), nullptr);

  // Closing declines: the last button; an alert without buttons acknowledges.
  alerts.present({"保存失败", "", {"重试", "稍后", "放弃"}}, record);
  gtk_window_close(GTK_WINDOW(shownAlert()));
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 2; }));
  alerts.present({"完成", "", {}}, record);
  dialog = shownAlert();
  EXPECT_EQ(buttonsOf(dialog), std::vector<std::string>{GtkAlerts::kAcknowledgeTitle});
  gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
  EXPECT_EQ(answers, (std::vector<std::size_t>{0, 2, 0}));
}

TEST_F(DisplayTest, PopUpMenuAnswersTheChosenIndexOrNoneWhenDismissed) {
  struct Answer {
    bool answered = false;
    std::optional<std::size_t> chosen;
  };
  const auto recordInto = [](Answer& answer) {
    return [&answer](std::optional<std::size_t> chosen) {
      EXPECT_FALSE(answer.answered) << "answered twice";
      answer = {true, chosen};
    };
  };
  const auto item = [](GtkMenu* menu, guint index) {
    GPtr<GList, g_list_free> items(gtk_container_get_children(GTK_CONTAINER(menu)));
    return GTK_WIDGET(g_list_nth_data(items.get(), index));
  };
  GtkPopUpMenu menu;
  PopUpMenuRequest request;
  request.items = {{"Codex", fs::path(GLIMMET_RESOURCES) / "provider-codex.png"},
                   {"API", fs::path(GLIMMET_RESOURCES) / "provider-api.png"},
                   {"无图标", fs::path("/nonexistent.png")}};
  request.checked = 1;
  request.location = {5000, -20};

  // Nothing to open it on yet.
  Answer unattached;
  menu.popUp(request, recordInto(unattached));
  ASSERT_TRUE(spinMainUntil([&] { return unattached.answered; }));
  EXPECT_FALSE(unattached.chosen);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  GtkWidget* area = gtk_drawing_area_new();
  gtk_container_add(GTK_CONTAINER(window), area);
  gtk_widget_show_all(window);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(area); }));
  menu.attach(area);

  Answer chosen;
  menu.popUp(request, recordInto(chosen));
  GtkMenu* open = menu.openMenu();
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item(open, 1))));
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item(open, 0))));
  gtk_menu_shell_activate_item(GTK_MENU_SHELL(open), item(open, 2), TRUE);
  ASSERT_TRUE(spinMainUntil([&] { return chosen.answered; }));
  EXPECT_EQ(chosen.chosen, 2u);
  EXPECT_EQ(menu.openMenu(), nullptr);

  // A second menu dismisses the first, which answers none; then it is dismissed too.
  Answer first;
  Answer second;
  menu.popUp(request, recordInto(first));
  menu.popUp(request, recordInto(second));
  ASSERT_TRUE(spinMainUntil([&] { return first.answered; }));
  EXPECT_FALSE(first.chosen);
  ASSERT_NE(menu.openMenu(), nullptr);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu.openMenu()));
  ASSERT_TRUE(spinMainUntil([&] { return second.answered; }));
  EXPECT_FALSE(second.chosen);
  gtk_widget_destroy(window);
}

GtkClipboard* systemClipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

// What the clipboard's owner offers as `target`.
std::string offered(const char* target) {
  GPtr<GtkSelectionData, gtk_selection_data_free> data(
      gtk_clipboard_wait_for_contents(systemClipboard(), gdk_atom_intern(target, FALSE)));
  if (!data) return "";
  const auto* bytes = reinterpret_cast<const char*>(gtk_selection_data_get_data(data.get()));
  return std::string(bytes, gtk_selection_data_get_length(data.get()));
}

TEST_F(DisplayTest, ClipboardCarriesTextImagesAndFiles) {
  GtkClipboardAccess clipboard;
  EXPECT_EQ(clipboard.readText(), std::nullopt);
  const std::string text = "生成完成 ✓\nline two";
  ASSERT_TRUE(clipboard.writeText(text));
  EXPECT_EQ(clipboard.readText(), text);
  EXPECT_FALSE(clipboard.writeText("bad \xff byte"));
  EXPECT_EQ(clipboard.readText(), text);

  // A 3×2 RGBA image with distinct pixels, offered as given and as a pixbuf.
  GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2));
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 12; ++x) {
      pixels[y * gdk_pixbuf_get_rowstride(pixbuf.get()) + x] = guchar(40 * y + 20 * x + 1);
    }
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "png", nullptr, nullptr));
  const GTextPtr owned(buffer);
  const Bytes png(buffer, buffer + size);
  ASSERT_TRUE(clipboard.writeImage(png));
  EXPECT_EQ(clipboard.readText(), std::nullopt);
  EXPECT_EQ(offered("image/png"), std::string(buffer, size));
  GObjectPtr<GdkPixbuf> image(gtk_clipboard_wait_for_image(systemClipboard()));
  ASSERT_TRUE(image);
  EXPECT_EQ(gdk_pixbuf_get_width(image.get()), 3);
  EXPECT_EQ(gdk_pixbuf_get_height(image.get()), 2);
  EXPECT_EQ(gdk_pixbuf_get_pixels(image.get())[gdk_pixbuf_get_rowstride(image.get()) + 5], 141);
  // Bytes that are not a PNG leave the clipboard as it was.
  EXPECT_FALSE(clipboard.writeImage(Bytes{0x89, 'P', 'N', 'G', 0, 1, 2}));
  EXPECT_TRUE(gtk_clipboard_wait_is_image_available(systemClipboard()));

  ASSERT_TRUE(clipboard.writeFileUrls({"/tmp/a b.png", "/tmp/图.png"}));
  GPtr<gchar*, g_strfreev> uris(gtk_clipboard_wait_for_uris(systemClipboard()));
  ASSERT_TRUE(uris);
  EXPECT_STREQ(uris.get()[0], "file:///tmp/a%20b.png");
  EXPECT_STREQ(uris.get()[1], "file:///tmp/%E5%9B%BE.png");
  EXPECT_EQ(uris.get()[2], nullptr);
  EXPECT_EQ(clipboard.readText(), "/tmp/a b.png\n/tmp/图.png");
  EXPECT_EQ(offered("x-special/gnome-copied-files"),
            "copy\nfile:///tmp/a%20b.png\nfile:///tmp/%E5%9B%BE.png");
  EXPECT_FALSE(clipboard.writeFileUrls({}));
}

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

TEST_F(DisplayTest, WorkspaceFindsAndActivatesTheActiveWindowsOwner) {
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

  // Without a window manager, activation focuses the window itself.
  TestWindow window;
  ASSERT_TRUE(workspace.activate({getpid(), "Glimmet-Test-Editor", "", window.id}));
  Window focused = None;
  int revert = 0;
  XGetInputFocus(xDisplay(), &focused, &revert);
  EXPECT_EQ(focused, window.id);
}

TEST_F(DisplayTest, WorkspaceAsksTheFileManagerToRevealTheItem) {
  TempDir dir;
  testing::writeFile(dir / "作品 1.png", "x");
  std::vector<std::string> shown;
  FakeBusService fileManager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                             R"(<node><interface name="org.freedesktop.FileManager1">
           <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/>
           </method></interface></node>)",
                             [&](const std::string& method, GVariant* parameters) -> GVariant* {
                               if (method != "ShowItems") return nullptr;
                               const gchar** raw = nullptr;
                               g_variant_get(parameters, "(^a&s&s)", &raw, nullptr);
                               GPtr<const gchar*, g_free> uris(raw);
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

bool prefersDark() {
  gboolean dark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  return dark;
}

// Without a portal the desktop is light and GTK's animations setting tells
// whether to reduce motion; an older portal answers only Read, its value
// wrapped in one more variant.
TEST_F(DisplayTest, AppearanceFollowsThePortalsSettingsAndTheirChanges) {
  {
    PortalDesktopAppearance appearance;
    EXPECT_EQ(appearance.systemScheme(), ColorScheme::light);
    EXPECT_FALSE(appearance.reducesMotion());
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
    EXPECT_TRUE(appearance.reducesMotion());
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", TRUE, nullptr);
  }
  std::vector<std::string> asked;
  FakeBusService portal("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                        R"(<node><interface name="org.freedesktop.portal.Settings">
  <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
</interface></node>)",
                        [&](const std::string& method, GVariant* parameters) -> GVariant* {
                          const gchar* key = nullptr;
                          g_variant_get(parameters, "(&s&s)", nullptr, &key);
                          asked.push_back(method + " " + key);
                          if (method != "Read") return nullptr;
                          // Both prefer dark (color-scheme) and reduce motion (reduced-motion).
                          return g_variant_new("(v)",
                                               g_variant_new_variant(g_variant_new_uint32(1)));
                        });
  PortalDesktopAppearance appearance;
  EXPECT_EQ(asked, (std::vector<std::string>{"ReadOne color-scheme", "Read color-scheme",
                                             "ReadOne reduced-motion", "Read reduced-motion"}));
  EXPECT_EQ(appearance.systemScheme(), ColorScheme::dark);
  EXPECT_TRUE(appearance.reducesMotion());
  EXPECT_TRUE(prefersDark());
  appearance.setSchemeOverride(ColorScheme::light);
  EXPECT_FALSE(prefersDark());
  appearance.setSchemeOverride(std::nullopt);
  EXPECT_TRUE(prefersDark());

  portal.emitSignal("org.freedesktop.portal.Settings", "SettingChanged",
                    g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme",
                                  g_variant_new_uint32(2)));
  ASSERT_TRUE(spinMainUntil([&] { return appearance.systemScheme() == ColorScheme::light; }));
  EXPECT_FALSE(prefersDark());
}

using PlayStatus = Sound::PlayStatus;
const fs::path kChime = GLIMMET_CHIME;

TEST(GStreamerSoundTest, PlaysReplacesStopsAndFailsOnBadFilesAndSinks) {
  TempDir dir;
  testing::writeFile(dir / "notes.wav", "not a sound at all");
  GStreamerSound sound("fakesink sync=true");
  std::vector<bool> ends;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(sound.play(kChime, 0.8, [&](bool finished) { ends.push_back(finished); }),
            PlayStatus::playing);
  for (const auto& bad : {dir / "absent.wav", dir / "notes.wav", dir.path()}) {
    EXPECT_EQ(sound.play(bad, 1, [&](bool) { ends.push_back(false); }), PlayStatus::missingResource)
        << bad;
  }
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  EXPECT_EQ(ends, std::vector<bool>{true});
  // The chime lasts about 0.4 s.
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);

  // A replaced sound and a stopped one never complete.
  std::vector<std::string> names;
  sound.play(kChime, 1, [&](bool) { names.push_back("first"); });
  ASSERT_EQ(sound.play(kChime, 1, [&](bool) { names.push_back("second"); }), PlayStatus::playing);
  ASSERT_TRUE(spinMainUntil([&] { return !names.empty(); }));
  sound.play(kChime, 1, [&](bool) { names.push_back("stopped"); });
  sound.stop();
  sound.stop();
  spinMainUntil([] { return false; }, 700ms);
  EXPECT_EQ(names, std::vector<std::string>{"second"});

  // An error while playing breaks the sound off.
  GStreamerSound failing("identity error-after=3 ! fakesink sync=true");
  ends.clear();
  ASSERT_EQ(failing.play(kChime, 1, [&](bool finished) { ends.push_back(finished); }),
            PlayStatus::playing);
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  spinMainUntil([] { return false; }, 300ms);
  EXPECT_EQ(ends, std::vector<bool>{false});

  // An ALSA device that does not exist, and a sink description that names no element.
  for (const char* sink : {"alsasink device=glimmet_no_such_device", "glimmet_no_such_sink"}) {
    GStreamerSound broken(sink);
    bool completed = false;
    EXPECT_EQ(broken.play(kChime, 1, [&](bool) { completed = true; }), PlayStatus::failed) << sink;
    spinMainUntil([] { return false; }, 100ms);
    EXPECT_FALSE(completed);
  }
}

constexpr char kCodexMember[] = "package/bin/codex";
constexpr char kRuntimeMember[] = "package/bin/codex-code-mode-host";

// A release archive of two real executables of this machine.
std::string releaseArchive() {
  return testing::tarGz({{kCodexMember, testing::readFile("/bin/true")},
                         {kRuntimeMember, testing::readFile("/bin/false")}});
}

// The agent setup window's buttons drive an installation against a loopback
// release host, the progress and the log show it, cancel rolls it back.
TEST_F(DisplayTest, AgentSetupWindowInstallsShowsProgressAndCancels) {
  TempDir dir;
  testing::TestHttpsService service({"releases.test"});
  const std::string archive = releaseArchive();
  CodexInstallerSettings settings;
  settings.session.trustedCAFile = service.caFile();
  settings.session.connectTo = {service.connectTo("releases.test")};
  settings.release = CodexRelease{"https://releases.test/codex.tgz",
                                  archive.size(),
                                  sha256Hex(archive),
                                  kCodexMember,
                                  kRuntimeMember,
                                  testing::hostElfMachine()};
  LocalAgentPaths paths;
  paths.dataHome = dir / "data";
  paths.home = dir / "home";
  DefaultsStore defaults(dir / "defaults.json");
  LocalAgentManager manager(defaults, paths);
  GtkAgentSetupWindow window;
  HeadlessAccessibility accessibility;
  LocalAgentSetup setup(manager, window, accessibility, paths, settings, [] {});

  // Opening twice keeps one window; the inventory replaces the detecting line.
  setup.show();
  GtkWindow* first = window.window();
  setup.show();
  EXPECT_EQ(window.window(), first);
  EXPECT_STREQ(gtk_window_get_title(first), GtkAgentSetupWindow::kTitle);
  ASSERT_TRUE(spinMainUntil([&] {
    return std::string(gtk_label_get_text(window.statusLabel())).find("codex：未安装") !=
           std::string::npos;
  }));
  EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window.loginButton())));

  // Cancel while the host holds the download back: nothing is installed.
  Reply slow = Reply::with(200, archive);
  slow.contentType = "application/octet-stream";
  slow.delay = 20s;
  service.route("GET", "/codex.tgz", slow);
  gtk_button_clicked(window.installButton());
  EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window.installButton())));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window.cancelButton())));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window.progressBar())));
  ASSERT_TRUE(spinMainUntil([&] { return !service.requests().empty(); }));
  gtk_button_clicked(window.cancelButton());
  ASSERT_TRUE(
      spinMainUntil([&] { return gtk_widget_get_sensitive(GTK_WIDGET(window.installButton())); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window.cancelButton())));
  EXPECT_FALSE(fs::exists(paths.managedCodex()));

  // A full installation: the log reports it and the inventory finds the CLI.
  Reply served = Reply::with(200, archive);
  served.contentType = "application/octet-stream";
  service.route("GET", "/codex.tgz", served);
  gtk_button_clicked(window.installButton());
  ASSERT_TRUE(spinMainUntil(
      [&] { return window.logText().find(LocalAgentSetup::kInstalled) != std::string::npos; }));
  EXPECT_TRUE(fs::exists(paths.managedCodex()));
  ASSERT_TRUE(
      spinMainUntil([&] { return gtk_widget_get_sensitive(GTK_WIDGET(window.loginButton())); }));

  // Closing hides the window; it stays for the next opening.
  setup.closed();
  window.hide();
  EXPECT_FALSE(window.isVisible());
  setup.show();
  EXPECT_EQ(window.window(), first);
  EXPECT_TRUE(window.isVisible());
}

// Last in the program (its own suite): GTK's file chooser, closed while it still loads a
// folder, may later run a callback on its destroyed list (a GTK critical,
// fatal here) once the main loop runs again in a later test.
TEST(GtkFilePanelsTest, AskAsRequestedAndAnswerTheChoice) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkFilePanels panels;
  std::optional<std::vector<fs::path>> opened;
  panels.runOpenPanel({true, false, "选择图片"}, [&](auto files) { opened = std::move(files); });
  GtkFileChooser* chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "选择图片");
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
  EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(spinMainUntil([&] { return opened.has_value(); }));
  EXPECT_TRUE(opened->empty());

  opened.reset();
  panels.runOpenPanel({false, true, std::nullopt}, [&](auto files) { opened = std::move(files); });
  chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
  EXPECT_FALSE(gtk_file_chooser_get_select_multiple(chooser));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(spinMainUntil([&] { return opened.has_value(); }));

  TempDir dir;
  std::optional<std::optional<fs::path>> saved;
  panels.runSavePanel({"作品 1.png"}, [&](auto path) { saved = std::move(path); });
  chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
  EXPECT_STREQ(GTextPtr(gtk_file_chooser_get_current_name(chooser)).get(), "作品 1.png");
  gtk_file_chooser_set_current_folder(chooser, dir.path().c_str());
  // The dialog ignores Save while it still loads the folder, as a user would see.
  for (int tries = 0; tries < 50 && !saved; ++tries) {
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    spinMainUntil([&] { return saved.has_value(); }, 200ms);
  }
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(*saved, dir / "作品 1.png");

  saved.reset();
  panels.runSavePanel({"x.png"}, [&](auto path) { saved = std::move(path); });
  gtk_dialog_response(GTK_DIALOG(shownChooser()), GTK_RESPONSE_DELETE_EVENT);
  ASSERT_TRUE(spinMainUntil([&] { return saved.has_value(); }));
  EXPECT_EQ(*saved, std::nullopt);
}

}  // namespace
}  // namespace glimmet
