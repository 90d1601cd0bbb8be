#include "platform/gtk/portal_desktop_appearance.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <string_view>

#include "core/glib_ptr.h"

namespace glimmet {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";
constexpr const char* kReducedMotion = "reduced-motion";
constexpr const char* kPreferDark = "gtk-application-prefer-dark-theme";
constexpr int kPortalTimeoutMs = 1000;

// The portal's color-scheme values.
constexpr std::uint32_t kPrefersDark = 1;
// The portal's reduced-motion values.
constexpr std::uint32_t kReducesMotion = 1;

using SchemaPtr = GPtr<GSettingsSchema, g_settings_schema_unref>;

// A portal setting's number; Settings.Read (the older method) wraps the value
// in one more variant than ReadOne does.
std::optional<std::uint32_t> settingNumber(GVariant* value) {
  GVariantPtr held(g_variant_ref(value));
  while (g_variant_is_of_type(held.get(), G_VARIANT_TYPE_VARIANT)) {
    held.reset(g_variant_get_variant(held.get()));
  }
  if (!g_variant_is_of_type(held.get(), G_VARIANT_TYPE_UINT32)) return std::nullopt;
  return g_variant_get_uint32(held.get());
}

std::optional<std::uint32_t> readPortalSetting(GDBusConnection* bus, const char* key) {
  for (const char* method : {"ReadOne", "Read"}) {
    GError* raw = nullptr;
    GVariantPtr reply(g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kSettingsInterface,
                                                  method, g_variant_new("(ss)", kAppearance, key),
                                                  G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
                                                  kPortalTimeoutMs, nullptr, &raw));
    GErrorPtr error(raw);
    if (reply) {
      GVariantPtr value(g_variant_get_child_value(reply.get(), 0));
      return settingNumber(value.get());
    }
    // Only a portal too old for ReadOne is worth asking again.
    if (!g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD)) break;
  }
  return std::nullopt;
}

// GNOME's settings, when they carry a colour scheme.
GObjectPtr<GSettings> gnomeInterfaceSettings() {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) return nullptr;
  SchemaPtr schema(g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE));
  if (!schema || !g_settings_schema_has_key(schema.get(), kColorScheme)) return nullptr;
  return GObjectPtr<GSettings>(g_settings_new_full(schema.get(), nullptr, nullptr));
}

}  // namespace

struct PortalDesktopAppearance::Sources {
  GObjectPtr<GDBusConnection> bus;
  guint subscription = 0;
  GObjectPtr<GSettings> gnome;
  gulong gnomeHandler = 0;
  // None while the portal has not answered for the key.
  std::optional<std::uint32_t> portalScheme;
  std::optional<std::uint32_t> portalReducedMotion;

  ~Sources() {
    if (subscription != 0) g_dbus_connection_signal_unsubscribe(bus.get(), subscription);
    if (gnomeHandler != 0) g_signal_handler_disconnect(gnome.get(), gnomeHandler);
  }
};

PortalDesktopAppearance::PortalDesktopAppearance() : sources_(std::make_unique<Sources>()) {
  sources_->bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
  if (sources_->bus) {
    sources_->subscription = g_dbus_connection_signal_subscribe(
        sources_->bus.get(), kPortalName, kSettingsInterface, "SettingChanged", kPortalPath,
        kAppearance, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer self) {
          auto* appearance = static_cast<PortalDesktopAppearance*>(self);
          const gchar* key = nullptr;
          GVariant* raw = nullptr;
          g_variant_get(parameters, "(&s&sv)", nullptr, &key, &raw);
          const GVariantPtr value(raw);
          if (key == std::string_view(kColorScheme)) {
            appearance->sources_->portalScheme = settingNumber(value.get());
            appearance->applyToGtk();
          } else if (key == std::string_view(kReducedMotion)) {
            appearance->sources_->portalReducedMotion = settingNumber(value.get());
          }
        },
        this, nullptr);
    sources_->portalScheme = readPortalSetting(sources_->bus.get(), kColorScheme);
    sources_->portalReducedMotion = readPortalSetting(sources_->bus.get(), kReducedMotion);
  }
  sources_->gnome = gnomeInterfaceSettings();
  if (sources_->gnome) {
    sources_->gnomeHandler = g_signal_connect_swapped(
        sources_->gnome.get(), "changed::color-scheme",
        G_CALLBACK(+[](PortalDesktopAppearance* self) { self->applyToGtk(); }), this);
  }
  applyToGtk();
}

PortalDesktopAppearance::~PortalDesktopAppearance() = default;

ColorScheme PortalDesktopAppearance::systemScheme() const {
  if (sources_->portalScheme) {
    return *sources_->portalScheme == kPrefersDark ? ColorScheme::dark : ColorScheme::light;
  }
  if (sources_->gnome) {
    GTextPtr scheme(g_settings_get_string(sources_->gnome.get(), kColorScheme));
    if (std::string_view(scheme.get()) == "prefer-dark") return ColorScheme::dark;
  }
  return ColorScheme::light;
}

void PortalDesktopAppearance::setSchemeOverride(std::optional<ColorScheme> scheme) {
  override_ = scheme;
  applyToGtk();
}

bool PortalDesktopAppearance::reducesMotion() const {
  if (sources_->portalReducedMotion) return *sources_->portalReducedMotion == kReducesMotion;
  GtkSettings* settings = gtk_settings_get_default();
  if (settings == nullptr) return false;
  gboolean animations = TRUE;
  g_object_get(settings, "gtk-enable-animations", &animations, nullptr);
  return !animations;
}

void PortalDesktopAppearance::applyToGtk() {
  GtkSettings* settings = gtk_settings_get_default();
  if (settings == nullptr) return;
  const ColorScheme scheme = override_.value_or(systemScheme());
  if (override_ || scheme == ColorScheme::dark) {
    g_object_set(settings, kPreferDark, scheme == ColorScheme::dark, nullptr);
  } else {
    // Following a light desktop: the session's own GTK setting applies again.
    gtk_settings_reset_property(settings, kPreferDark);
  }
}

}  // namespace glimmet
