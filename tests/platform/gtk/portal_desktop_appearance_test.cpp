#include "platform/gtk/portal_desktop_appearance.h"

#include <gtk/gtk.h>

#include "platform/gtk/display_support.h"

namespace glimmet {
namespace {

using testing::FakeBusService;
using testing::spinMainUntil;

constexpr const char* kSettings = R"(<node><interface name="org.freedesktop.portal.Settings">
  <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
</interface></node>)";

bool prefersDark() {
  gboolean dark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  return dark;
}

TEST(PortalDesktopAppearanceTest, WithoutPortalTheDesktopIsLightAndOverridesApply) {
  GLIMMET_REQUIRE_DISPLAY();
  PortalDesktopAppearance appearance;
  EXPECT_EQ(appearance.systemScheme(), ColorScheme::light);
  EXPECT_FALSE(appearance.reducesMotion());
  appearance.setSchemeOverride(ColorScheme::dark);
  EXPECT_TRUE(prefersDark());
  appearance.setSchemeOverride(ColorScheme::light);
  EXPECT_FALSE(prefersDark());
  appearance.setSchemeOverride(ColorScheme::dark);
  appearance.setSchemeOverride(std::nullopt);
  EXPECT_FALSE(prefersDark());

  g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
  EXPECT_TRUE(appearance.reducesMotion());
  g_object_set(gtk_settings_get_default(), "gtk-enable-animations", TRUE, nullptr);
}

TEST(PortalDesktopAppearanceTest, FollowsThePortalsSettingsAndTheirChanges) {
  GLIMMET_REQUIRE_DISPLAY();
  // An older portal: only Read, whose value comes wrapped in one more variant.
  std::vector<std::string> asked;
  FakeBusService portal(
      "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", kSettings,
      [&](const std::string& method, GVariant* parameters) -> GVariant* {
        const gchar* key = nullptr;
        g_variant_get(parameters, "(&s&s)", nullptr, &key);
        asked.push_back(method + " " + key);
        if (method != "Read") return nullptr;
        // Both prefer dark (color-scheme) and reduce motion (reduced-motion).
        return g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(1)));
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

}  // namespace
}  // namespace glimmet
