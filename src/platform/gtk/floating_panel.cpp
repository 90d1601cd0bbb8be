#include "platform/gtk/floating_panel.h"

#include <gtk/gtk.h>

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cmath>

namespace glimmet {

namespace {

// The frosted glass behind the page's island: a dark translucent fill, as the
// page's own light or dark island draws over it.
constexpr double kGlassGrey = 0.12;
constexpr double kGlassAlpha = 0.55;

// A timestamp the window manager accepts for a request the user caused: the
// X server's current time, or GTK's current event's.
guint32 userTime(GtkWidget* window) {
#ifdef GDK_WINDOWING_X11
  GdkWindow* native = gtk_widget_get_window(window);
  if (native != nullptr && GDK_IS_X11_WINDOW(native)) return gdk_x11_get_server_time(native);
#else
  (void)window;
#endif
  return gtk_get_current_event_time();
}

int rounded(double value) { return static_cast<int>(std::lround(value)); }

void traceIsland(cairo_t* cr, const Rect& island, double radius) {
  const double r = std::clamp(radius, 0.0, std::min(island.width, island.height) / 2);
  cairo_new_path(cr);
  cairo_move_to(cr, island.minX(), island.minY());
  cairo_line_to(cr, island.maxX(), island.minY());
  cairo_arc(cr, island.maxX() - r, island.maxY() - r, r, 0, M_PI / 2);
  cairo_arc(cr, island.minX() + r, island.maxY() - r, r, M_PI / 2, M_PI);
  cairo_close_path(cr);
}

}  // namespace

struct FloatingPanel::Signals {
  static gboolean draw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<FloatingPanel*>(data);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    if (self->glassShown_) {
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
      cairo_set_source_rgba(cr, kGlassGrey, kGlassGrey, kGlassGrey, kGlassAlpha);
      traceIsland(cr, self->glass_, self->glassRadius_);
      cairo_fill(cr);
    }
    cairo_restore(cr);
    return FALSE;  // the page draws over the glass
  }

  static gboolean deleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<FloatingPanel*>(data);
    if (self->closeRequest_) self->closeRequest_();
    return TRUE;
  }

  static void realize(GtkWidget*, gpointer data) {
    static_cast<FloatingPanel*>(data)->applyInputRegion();
  }

  static gboolean mapped(GtkWidget* window, GdkEvent*, gpointer) {
    // A panel ordered front without focus takes it again when clicked.
    gtk_window_set_focus_on_map(GTK_WINDOW(window), TRUE);
    return FALSE;
  }

  static void activeChanged(GObject* window, GParamSpec*, gpointer data) {
    auto* self = static_cast<FloatingPanel*>(data);
    if (!gtk_window_is_active(GTK_WINDOW(window)) && self->focusLost_) self->focusLost_();
  }
};

FloatingPanel::FloatingPanel(const Rect& frame) : frame_(frame) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_window_set_title(window, kTitle);
  gtk_window_set_decorated(window, FALSE);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
  gtk_window_set_skip_taskbar_hint(window, TRUE);
  gtk_window_set_skip_pager_hint(window, TRUE);
  gtk_window_set_keep_above(window, TRUE);
  gtk_window_stick(window);
  gtk_widget_set_app_paintable(window_, TRUE);
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
    gtk_widget_set_visual(window_, rgba);
  }
  gtk_window_set_default_size(window, rounded(frame.width), rounded(frame.height));
  gtk_window_move(window, rounded(frame.x), rounded(frame.y));

  g_signal_connect(window_, "draw", G_CALLBACK(Signals::draw), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(Signals::deleteEvent), this);
  g_signal_connect_after(window_, "realize", G_CALLBACK(Signals::realize), this);
  g_signal_connect(window_, "map-event", G_CALLBACK(Signals::mapped), this);
  g_signal_connect(window_, "notify::is-active", G_CALLBACK(Signals::activeChanged), this);
}

FloatingPanel::~FloatingPanel() {
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
}

void FloatingPanel::setContent(GtkWidget* content, GtkWidget* focus) {
  if (content_ != nullptr) gtk_container_remove(GTK_CONTAINER(window_), content_);
  content_ = content;
  focus_ = focus;
  gtk_container_add(GTK_CONTAINER(window_), content_);
  gtk_widget_show(content_);
}

GtkWindow* FloatingPanel::window() const { return GTK_WINDOW(window_); }

void FloatingPanel::setFrame(const Rect& frame) {
  frame_ = frame;
  gtk_window_move(GTK_WINDOW(window_), rounded(frame.x), rounded(frame.y));
  gtk_window_resize(GTK_WINDOW(window_), std::max(1, rounded(frame.width)),
                    std::max(1, rounded(frame.height)));
  gtk_widget_queue_draw(window_);
}

bool FloatingPanel::isVisible() const { return gtk_widget_get_visible(window_); }

void FloatingPanel::setLevel(PanelLevel level) {
  level_ = level;
  gtk_window_set_keep_above(GTK_WINDOW(window_), level == PanelLevel::floating);
}

void FloatingPanel::setInputRegion(const InputRegion& region) {
  region_ = region;
  applyInputRegion();
}

void FloatingPanel::applyInputRegion() {
  GdkWindow* native = gtk_widget_get_window(window_);
  if (native == nullptr) return;  // applied once the window exists
  if (!region_.island) {
    gdk_window_input_shape_combine_region(native, nullptr, 0, 0);
    return;
  }
  const Rect& island = *region_.island;
  const cairo_rectangle_int_t area = {rounded(island.x), rounded(island.y),
                                      std::max(0, rounded(island.width)),
                                      std::max(0, rounded(island.height))};
  cairo_region_t* shape = cairo_region_create_rectangle(&area);
  gdk_window_input_shape_combine_region(native, shape, 0, 0);
  cairo_region_destroy(shape);
}

void FloatingPanel::showGlass(const Rect& island, double lowerCornerRadius) {
  glass_ = island;
  glassRadius_ = lowerCornerRadius;
  glassShown_ = true;
  gtk_widget_queue_draw(window_);
}

void FloatingPanel::present() {
  gtk_window_set_accept_focus(GTK_WINDOW(window_), TRUE);
  gtk_widget_show(window_);
  gtk_window_present_with_time(GTK_WINDOW(window_), userTime(window_));
  if (focus_ != nullptr) gtk_widget_grab_focus(focus_);
}

void FloatingPanel::showInactive() {
  if (!gtk_widget_get_visible(window_)) {
    gtk_window_set_focus_on_map(GTK_WINDOW(window_), FALSE);
    gtk_widget_show(window_);
  }
  gdk_window_raise(gtk_widget_get_window(window_));
}

void FloatingPanel::hide() { gtk_widget_hide(window_); }

bool FloatingPanel::isKey() const { return gtk_window_is_active(GTK_WINDOW(window_)); }

void FloatingPanel::raiseAttachedDialog() {
  // GTK's own file dialog, when no portal shows one for us.
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWindow* candidate = GTK_WINDOW(item->data);
    if (candidate != GTK_WINDOW(window_) && gtk_widget_get_visible(GTK_WIDGET(candidate)) &&
        (GTK_IS_FILE_CHOOSER_DIALOG(candidate) ||
         gtk_window_get_transient_for(candidate) == GTK_WINDOW(window_))) {
      gtk_window_present_with_time(candidate, userTime(GTK_WIDGET(candidate)));
    }
  }
  g_list_free(windows);
}

}  // namespace glimmet
