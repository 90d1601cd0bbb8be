// The agent setup window on a real display: the buttons drive an installation
// against a loopback release host, the progress and the log show it, cancel
// rolls it back, and the window is photographed light and dark
// (build/agent-setup-screenshots/).

#include "platform/gtk/gtk_agent_setup_window.h"

#include <filesystem>

#include "agents/local_agent_setup.h"
#include "core/defaults_store.h"
#include "core/digest.h"
#include "platform/gtk/display_support.h"
#include "platform/headless/headless_shell.h"
#include "support/archive/tar_gz.h"
#include "support/https/test_https_service.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::Reply;
using testing::TempDir;

constexpr char kCodexMember[] = "package/bin/codex";
constexpr char kRuntimeMember[] = "package/bin/codex-code-mode-host";

// A release archive of two real executables of this machine.
std::string releaseArchive() {
  return testing::tarGz({{kCodexMember, testing::readFile("/bin/true")},
                         {kRuntimeMember, testing::readFile("/bin/false")}});
}

// Mean brightness (0..255) of the window as drawn, after saving it as `name`.
double photograph(GtkWindow* window, const std::string& name) {
  gtk_widget_queue_draw(GTK_WIDGET(window));
  testing::spinMainUntil([] { return false; }, std::chrono::milliseconds(300));
  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
  GObjectPtr<GdkPixbuf> shot(gdk_pixbuf_get_from_window(
      surface, 0, 0, gdk_window_get_width(surface), gdk_window_get_height(surface)));
  if (!shot) return -1;
  const fs::path directory = fs::path(GLIMMET_SCREENSHOT_DIR);
  fs::create_directories(directory);
  gdk_pixbuf_save(shot.get(), (directory / name).c_str(), "png", nullptr, nullptr);
  const int channels = gdk_pixbuf_get_n_channels(shot.get());
  const int stride = gdk_pixbuf_get_rowstride(shot.get());
  const guchar* pixels = gdk_pixbuf_get_pixels(shot.get());
  double sum = 0;
  const int width = gdk_pixbuf_get_width(shot.get());
  const int height = gdk_pixbuf_get_height(shot.get());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const guchar* pixel = pixels + y * stride + x * channels;
      sum += (pixel[0] + pixel[1] + pixel[2]) / 3.0;
    }
  }
  return sum / (static_cast<double>(width) * height);
}

TEST(GtkAgentSetupWindow, InstallShowsProgressAndLogAndCancelRollsBack) {
  GLIMMET_REQUIRE_DISPLAY();
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
  ASSERT_TRUE(testing::spinMainUntil([&] {
    return std::string(gtk_label_get_text(window.statusLabel())).find("codex：未安装") !=
           std::string::npos;
  }));
  EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window.loginButton())));

  // Cancel while the host holds the download back: nothing is installed.
  Reply slow = Reply::with(200, archive);
  slow.contentType = "application/octet-stream";
  slow.delay = std::chrono::seconds(20);
  service.route("GET", "/codex.tgz", slow);
  gtk_button_clicked(window.installButton());
  EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window.installButton())));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window.cancelButton())));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window.progressBar())));
  ASSERT_TRUE(testing::spinMainUntil([&] { return !service.requests().empty(); }));
  gtk_button_clicked(window.cancelButton());
  ASSERT_TRUE(testing::spinMainUntil(
      [&] { return gtk_widget_get_sensitive(GTK_WIDGET(window.installButton())); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window.cancelButton())));
  EXPECT_NE(window.logText().find(std::string(LocalAgentSetup::kInstallFailed) +
                                  installer_messages::kCancelledKept),
            std::string::npos);
  EXPECT_FALSE(fs::exists(paths.managedCodex()));

  // A full installation: the log reports it and the inventory finds the CLI.
  Reply served = Reply::with(200, archive);
  served.contentType = "application/octet-stream";
  service.route("GET", "/codex.tgz", served);
  gtk_button_clicked(window.installButton());
  ASSERT_TRUE(testing::spinMainUntil(
      [&] { return window.logText().find(LocalAgentSetup::kInstalled) != std::string::npos; }));
  EXPECT_TRUE(fs::exists(paths.managedCodex()));
  ASSERT_TRUE(testing::spinMainUntil(
      [&] { return gtk_widget_get_sensitive(GTK_WIDGET(window.loginButton())); }));

  // Light and dark, as the desktop's preference switches.
  GtkSettings* gtkSettings = gtk_settings_get_default();
  g_object_set(gtkSettings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
  const double light = photograph(window.window(), "light.png");
  g_object_set(gtkSettings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
  const double dark = photograph(window.window(), "dark.png");
  g_object_set(gtkSettings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
  EXPECT_GT(light, 0);
  EXPECT_LT(dark, light);

  // Closing hides the window; it stays for the next opening.
  setup.closed();
  window.hide();
  EXPECT_FALSE(window.isVisible());
  setup.show();
  EXPECT_EQ(window.window(), first);
  EXPECT_TRUE(window.isVisible());
}

}  // namespace
}  // namespace glimmet
