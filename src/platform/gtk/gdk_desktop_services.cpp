#include "platform/gtk/gdk_desktop_services.h"

#include <gtk/gtk.h>

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "core/glib_ptr.h"

namespace glimmet {

namespace {

Rect rectOf(const GdkRectangle& area) {
  return {static_cast<double>(area.x), static_cast<double>(area.y), static_cast<double>(area.width),
          static_cast<double>(area.height)};
}

std::optional<Rect> workAreaOf(GdkMonitor* monitor) {
  if (monitor == nullptr) return std::nullopt;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  return rectOf(area);
}

}  // namespace

std::optional<Rect> GdkScreenLayout::workAreaAt(Point point) const {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return std::nullopt;
  const int count = gdk_display_get_n_monitors(display);
  for (int index = 0; index < count; ++index) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, index);
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    if (rectOf(geometry).contains(point)) return workAreaOf(monitor);
  }
  return std::nullopt;
}

std::optional<Rect> GdkScreenLayout::primaryWorkArea() const {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return std::nullopt;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) {
    monitor = gdk_display_get_monitor(display, 0);
  }
  return workAreaOf(monitor);
}

PointerState GdkPointerSource::pointer() const {
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* device = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (device == nullptr) return {};
  GdkWindow* root = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
  double x = 0;
  double y = 0;
  GdkModifierType mask = static_cast<GdkModifierType>(0);
  gdk_window_get_device_position_double(root, device, &x, &y, &mask);
  constexpr int kButtons =
      GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK | GDK_BUTTON4_MASK | GDK_BUTTON5_MASK;
  return {{x, y}, (mask & kButtons) != 0};
}

bool GtkApplicationActivity::isActive() const {
  bool active = false;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr && !active; item = item->next) {
    active = gtk_window_is_active(GTK_WINDOW(item->data));
  }
  g_list_free(windows);
  return active;
}

void GtkApplicationActivity::activate() {
  if (isActive() || !gtk_widget_get_visible(GTK_WIDGET(mainWindow_))) return;
  guint32 time = gtk_get_current_event_time();
#ifdef GDK_WINDOWING_X11
  GdkWindow* native = gtk_widget_get_window(GTK_WIDGET(mainWindow_));
  if (native != nullptr && GDK_IS_X11_WINDOW(native)) time = gdk_x11_get_server_time(native);
#endif
  gtk_window_present_with_time(mainWindow_, time);
}

bool X11Accessibility::isTrusted() const {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  return display != nullptr && GDK_IS_X11_DISPLAY(display);
#else
  return false;
#endif
}

void X11Accessibility::requestTrust() {
  constexpr const char* kSchema = "org.gnome.desktop.interface";
  constexpr const char* kKey = "toolkit-accessibility";
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) return;
  GPtr<GSettingsSchema, g_settings_schema_unref> schema(
      g_settings_schema_source_lookup(source, kSchema, TRUE));
  if (!schema || !g_settings_schema_has_key(schema.get(), kKey)) return;
  GObjectPtr<GSettings> settings(g_settings_new(kSchema));
  g_settings_set_boolean(settings.get(), kKey, TRUE);
}

}  // namespace glimmet
