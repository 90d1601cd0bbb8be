#include "platform/gtk/radial_view.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "core/executors.h"
#include "platform/gtk/design_font.h"
#include "platform/gtk/radial_glyphs.h"
#include "surfaces/design.h"
#include "surfaces/radial_menu.h"

namespace glimmet {

namespace {

namespace Design = PlumoraDesign;

constexpr double kSize = RadialMenu::kSize;
constexpr double kCentre = RadialMenu::kCentre.x;
constexpr double kInner = RadialMenu::kInnerRadius;
constexpr double kOuter = RadialMenu::kOuterRadius;
// The frosted disc behind the ring.
constexpr double kDiscRadius = 151;
constexpr double kIconRadius = 106;
constexpr double kIconSize = 24;
constexpr double kSpan = 116;
constexpr GdkRGBA kHighlight{0.47, 0.64, 0.51, 0.65};
constexpr Rect kPreview{130, 115, 60, 48};
constexpr Rect kPlaceholder{146, 127, 28, 28};
constexpr double kSummaryTop = 174;
// The summary stays inside the ring's hole.
constexpr double kSummaryWidth = 2 * kInner - 16;
// Retries of the input grab while another client still holds it (the
// global shortcut's key grab lasts until the keys are released).
constexpr guint kGrabRetryMs = 20;
constexpr int kGrabAttempts = 50;

constexpr double radians(double degrees) { return degrees * std::numbers::pi / 180; }

Point onCircle(double radius, double degrees) {
  return {kCentre + radius * std::cos(radians(degrees)),
          kCentre + radius * std::sin(radians(degrees))};
}

GdkRGBA withAlpha(GdkRGBA colour, double alpha) {
  colour.alpha *= alpha;
  return colour;
}

bool isLight(const GdkRGBA& colour) {
  return 0.2126 * colour.red + 0.7152 * colour.green + 0.0722 * colour.blue > 0.5;
}

// The ring segment of `sector`: 116 degrees of the ring, 4 degrees apart from
// its neighbours.
void ringSegment(cairo_t* cairo, int sector) {
  const double start = radians(sector * 120 - 150 + 2);
  const double end = start + radians(kSpan);
  cairo_new_sub_path(cairo);
  cairo_arc(cairo, kCentre, kCentre, kOuter, start, end);
  cairo_arc_negative(cairo, kCentre, kCentre, kInner, end, start);
  cairo_close_path(cairo);
}

// Sets `layout` to `text` in the design font `spec`.
void setText(PangoLayout* layout, const std::string& text, const Design::FontSpec& spec) {
  const PangoFontPtr font = pangoFont(spec);
  pango_layout_set_font_description(layout, font.get());
  pango_layout_set_text(layout, text.c_str(), -1);
}

// The PNG scaled to fit the preview rectangle; none when it does not load.
GObjectPtr<GdkPixbuf> previewImage(const Bytes& png) {
  if (png.empty()) return nullptr;
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  g_signal_connect(loader.get(), "size-prepared",
                   G_CALLBACK(+[](GdkPixbufLoader* self, gint width, gint height, gpointer) {
                     const double scale =
                         std::min(kPreview.width / width, kPreview.height / height);
                     gdk_pixbuf_loader_set_size(self, std::max(1, static_cast<int>(width * scale)),
                                                std::max(1, static_cast<int>(height * scale)));
                   }),
                   nullptr);
  const bool loaded = gdk_pixbuf_loader_write(loader.get(), png.data(), png.size(), nullptr);
  if (!gdk_pixbuf_loader_close(loader.get(), nullptr) || !loaded) return nullptr;
  GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader.get());
  return image ? GObjectPtr<GdkPixbuf>(GDK_PIXBUF(g_object_ref(image))) : nullptr;
}

// Sector `sector` filled with `fill`, outlined, with its icon and numbered label.
void drawSector(cairo_t* cairo, PangoLayout* text, const RadialFace& face, int sector,
                const GdkRGBA& fill, const GdkRGBA& label) {
  ringSegment(cairo, sector);
  gdk_cairo_set_source_rgba(cairo, &fill);
  cairo_fill_preserve(cairo);
  const GdkRGBA edge = withAlpha(label, 0.15);
  gdk_cairo_set_source_rgba(cairo, &edge);
  cairo_set_line_width(cairo, 1);
  cairo_stroke(cairo);

  const auto index = static_cast<std::size_t>(sector);
  const Point icon = onCircle(kIconRadius, sector * 120 - 90);
  drawRadialSymbol(cairo, face.symbols[index], icon.x - 12, icon.y - 23, kIconSize, label);
  setText(text, std::to_string(sector + 1) + " " + face.titles[index], Design::Text::label());
  int width = 0;
  pango_layout_get_pixel_size(text, &width, nullptr);
  gdk_cairo_set_source_rgba(cairo, &label);
  cairo_move_to(cairo, icon.x - width / 2.0, icon.y + 8);
  pango_cairo_show_layout(cairo, text);
}

// The frosted disc and the ring with the face's sector highlighted: the part
// of every frame that only changes with the theme, the kind of material and
// the highlight.
GPtr<cairo_surface_t, cairo_surface_destroy> ringImage(const RadialFace& face,
                                                       const GdkRGBA& label) {
  GPtr<cairo_surface_t, cairo_surface_destroy> image(cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(kSize), static_cast<int>(kSize)));
  GPtr<cairo_t, cairo_destroy> drawing(cairo_create(image.get()));
  cairo_t* cairo = drawing.get();
  const GdkRGBA disc =
      isLight(label) ? GdkRGBA{0.13, 0.13, 0.14, 0.9} : GdkRGBA{0.97, 0.97, 0.98, 0.92};
  cairo_arc(cairo, kCentre, kCentre, kDiscRadius, 0, 2 * std::numbers::pi);
  gdk_cairo_set_source_rgba(cairo, &disc);
  cairo_fill_preserve(cairo);
  const GdkRGBA rim = withAlpha(label, 0.12);
  gdk_cairo_set_source_rgba(cairo, &rim);
  cairo_set_line_width(cairo, 1);
  cairo_stroke(cairo);
  const GObjectPtr<PangoLayout> text(pango_cairo_create_layout(cairo));
  for (int sector = 0; sector < RadialMenu::kSectors; ++sector) {
    drawSector(cairo, text.get(), face, sector,
               sector == face.selected ? kHighlight : withAlpha(label, 0.055), label);
  }
  cairo_surface_flush(image.get());
  return image;
}

RadialKey radialKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      return RadialKey::enter;
    case GDK_KEY_Escape:
      return RadialKey::escape;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
      return RadialKey::left;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      return RadialKey::up;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
      return RadialKey::right;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      return RadialKey::down;
    default:
      return RadialKey::other;
  }
}

std::string typed(guint keyval) {
  const gunichar scalar = gdk_keyval_to_unicode(keyval);
  if (scalar == 0) return {};
  char encoded[6];
  return std::string(encoded, static_cast<std::size_t>(g_unichar_to_utf8(scalar, encoded)));
}

bool inside(double x, double y) { return x >= 0 && y >= 0 && x < kSize && y < kSize; }

}  // namespace

struct RadialView::Signals {
  static gboolean draw(GtkWidget*, cairo_t* cairo, gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    view->draw(cairo);
    // Once the first frame is out: the decoding would compete with it.
    if (view->previewPending_ && view->previewStart_ == 0) {
      view->previewStart_ = g_idle_add(startPreview, view);
    }
    // The window paints no background of its own (app-paintable); later
    // handlers still see the frame.
    return FALSE;
  }
  static gboolean mapped(GtkWidget*, GdkEvent*, gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    view->grabAttempts_ = 0;
    // After the first frame: the grab's round trips to the X server need not
    // hold it up.
    view->grabRetry_ = g_idle_add(retryGrab, view);
    return FALSE;
  }
  static gboolean startPreview(gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    view->previewStart_ = 0;
    view->decodePreview();
    return G_SOURCE_REMOVE;
  }
  static gboolean retryGrab(gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    view->grabRetry_ = 0;
    view->grabInput();
    return G_SOURCE_REMOVE;
  }
  static gboolean motion(GtkWidget*, GdkEventMotion* event, gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    if (view->events_) view->events_->pointerMoved({event->x, event->y});
    return TRUE;
  }
  static gboolean pressed(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    if (!view->events_ || event->type != GDK_BUTTON_PRESS) return TRUE;
    // Reported last: the owner may close the menu in answer.
    if (inside(event->x, event->y)) {
      view->events_->pointerPressed({event->x, event->y});
    } else {
      view->events_->pressedOutside();
    }
    return TRUE;
  }
  static gboolean key(GtkWidget*, GdkEventKey* event, gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    if (view->events_) view->events_->keyPressed(radialKey(event->keyval), typed(event->keyval));
    return TRUE;
  }
  static gboolean grabBroken(GtkWidget*, GdkEvent*, gpointer self) {
    auto* view = static_cast<RadialView*>(self);
    view->grabbed_ = false;
    if (view->events_) view->events_->pressedOutside();
    return TRUE;
  }
  static void themeChanged(GObject*, GParamSpec*, gpointer self) {
    gtk_widget_queue_draw(static_cast<RadialView*>(self)->window_);
  }
};

RadialView::RadialView() : window_(gtk_window_new(GTK_WINDOW_POPUP)) {
  g_object_ref_sink(window_);
  gtk_window_set_title(GTK_WINDOW(window_), "Glimmet");
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_POPUP_MENU);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window_), static_cast<gint>(kSize),
                              static_cast<gint>(kSize));
  gtk_widget_set_size_request(window_, static_cast<gint>(kSize), static_cast<gint>(kSize));
  gtk_widget_set_app_paintable(window_, TRUE);
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
    gtk_widget_set_visual(window_, rgba);
  }
  gtk_widget_add_events(window_,
                        GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
  AtkObject* accessible = gtk_widget_get_accessible(window_);
  atk_object_set_role(accessible, ATK_ROLE_GROUPING);
  atk_object_set_name(accessible, RadialMenu::kAccessibilityLabel);
  g_signal_connect(window_, "draw", G_CALLBACK(Signals::draw), this);
  g_signal_connect(window_, "map-event", G_CALLBACK(Signals::mapped), this);
  g_signal_connect(window_, "motion-notify-event", G_CALLBACK(Signals::motion), this);
  g_signal_connect(window_, "button-press-event", G_CALLBACK(Signals::pressed), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(Signals::key), this);
  g_signal_connect(window_, "grab-broken-event", G_CALLBACK(Signals::grabBroken), this);
  g_signal_connect(gtk_settings_get_default(), "notify::gtk-application-prefer-dark-theme",
                   G_CALLBACK(Signals::themeChanged), this);
  g_signal_connect(gtk_settings_get_default(), "notify::gtk-theme-name",
                   G_CALLBACK(Signals::themeChanged), this);
}

RadialView::~RadialView() {
  g_signal_handlers_disconnect_by_data(gtk_settings_get_default(), this);
  hide();
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
}

GtkWindow* RadialView::window() const { return GTK_WINDOW(window_); }

void RadialView::present(const RadialFace& face, const Rect& frame, RadialWindowEvents& events) {
  hide();
  face_ = face;
  preview_.reset();
  previewPending_ = !face.preview.empty();
  ++presentation_;
  events_ = &events;
  gtk_window_move(GTK_WINDOW(window_), static_cast<gint>(std::lround(frame.x)),
                  static_cast<gint>(std::lround(frame.y)));
  gtk_widget_realize(window_);
  shapeToDisc();
  gtk_widget_show(window_);
}

void RadialView::decodePreview() {
  // Off the main thread: a large photograph takes a while to decode, and the
  // ring need not wait for it.
  GlobalPool::shared().post(
      [bytes = face_.preview, presentation = presentation_, alive = lifetime_.guard(), this] {
        auto image = std::make_shared<GObjectPtr<GdkPixbuf>>(previewImage(bytes));
        MainQueue::shared().post([image, presentation, alive, this] {
          if (alive.expired() || presentation != presentation_) return;
          preview_ = std::move(*image);
          previewPending_ = false;
          gtk_widget_queue_draw(window_);
        });
      });
}

void RadialView::select(int sector) {
  face_.selected = sector;
  gtk_widget_queue_draw(window_);
}

void RadialView::hide() {
  events_ = nullptr;
  if (previewStart_ != 0) {
    g_source_remove(previewStart_);
    previewStart_ = 0;
  }
  releaseInput();
  gtk_widget_hide(window_);
}

bool RadialView::isVisible() const { return gtk_widget_get_visible(window_); }

void RadialView::grabInput() {
  if (grabbed_ || !events_ || !gtk_widget_get_mapped(window_)) return;
  GdkWindow* surface = gtk_widget_get_window(window_);
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(surface));
  // Not owner events: every press, also over the program's other windows,
  // comes here, in this window's coordinates.
  if (gdk_seat_grab(seat, surface, GDK_SEAT_CAPABILITY_ALL, FALSE, nullptr, nullptr, nullptr,
                    nullptr) == GDK_GRAB_SUCCESS) {
    grabbed_ = true;
  } else if (++grabAttempts_ < kGrabAttempts) {
    grabRetry_ = g_timeout_add(kGrabRetryMs, Signals::retryGrab, this);
  }
}

void RadialView::releaseInput() {
  if (grabRetry_ != 0) {
    g_source_remove(grabRetry_);
    grabRetry_ = 0;
  }
  if (!grabbed_) return;
  grabbed_ = false;
  gdk_seat_ungrab(gdk_display_get_default_seat(gtk_widget_get_display(window_)));
}

void RadialView::shapeToDisc() {
  const bool composited = gdk_screen_is_composited(gtk_widget_get_screen(window_));
  if (composited == !disc_) return;
  if (composited) {
    disc_.reset();
    gtk_widget_shape_combine_region(window_, nullptr);
    return;
  }
  GPtr<cairo_surface_t, cairo_surface_destroy> mask(cairo_image_surface_create(
      CAIRO_FORMAT_A1, static_cast<int>(kSize), static_cast<int>(kSize)));
  {
    GPtr<cairo_t, cairo_destroy> cairo(cairo_create(mask.get()));
    cairo_arc(cairo.get(), kCentre, kCentre, kDiscRadius + 1, 0, 2 * std::numbers::pi);
    cairo_fill(cairo.get());
  }
  disc_.reset(gdk_cairo_region_create_from_surface(mask.get()));
  gtk_widget_shape_combine_region(window_, disc_.get());
}

void RadialView::draw(cairo_t* target) const {
  GdkRGBA label;
  gtk_style_context_get_color(gtk_widget_get_style_context(window_), GTK_STATE_FLAG_NORMAL, &label);
  if (!gdk_rgba_equal(&label, &ringLabel_)) {
    rings_.clear();
    ringLabel_ = label;
  }
  auto ring = std::find_if(rings_.begin(), rings_.end(), [this](const CachedRing& cached) {
    return cached.titles == face_.titles && cached.symbols == face_.symbols &&
           cached.selected == face_.selected;
  });
  if (ring == rings_.end()) {
    // Drawn on the client side once and kept on the server: on an X surface
    // every curved fill would be sent as trapezoids, every frame.
    const GPtr<cairo_surface_t, cairo_surface_destroy> image = ringImage(face_, label);
    GPtr<cairo_surface_t, cairo_surface_destroy> kept(
        cairo_surface_create_similar(cairo_get_target(target), CAIRO_CONTENT_COLOR_ALPHA,
                                     static_cast<int>(kSize), static_cast<int>(kSize)));
    {
      GPtr<cairo_t, cairo_destroy> copy(cairo_create(kept.get()));
      cairo_set_operator(copy.get(), CAIRO_OPERATOR_SOURCE);
      cairo_set_source_surface(copy.get(), image.get(), 0, 0);
      cairo_paint(copy.get());
    }
    ring =
        rings_.insert(rings_.end(), {face_.titles, face_.symbols, face_.selected, std::move(kept)});
  }
  cairo_save(target);
  cairo_set_operator(target, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(target, ring->image.get(), 0, 0);
  cairo_paint(target);
  cairo_restore(target);
  const GObjectPtr<PangoLayout> text(pango_cairo_create_layout(target));
  drawCentre(target, text.get(), label);
}

void RadialView::drawCentre(cairo_t* cairo, PangoLayout* text, const GdkRGBA& label) const {
  if (previewPending_) {
    // The image is on its way: no placeholder flashes before it.
  } else if (preview_) {
    const double width = gdk_pixbuf_get_width(preview_.get());
    const double height = gdk_pixbuf_get_height(preview_.get());
    gdk_cairo_set_source_pixbuf(cairo, preview_.get(), kPreview.x + (kPreview.width - width) / 2,
                                kPreview.y + (kPreview.height - height) / 2);
    cairo_paint(cairo);
  } else {
    drawRadialSymbol(cairo, "text.quote", kPlaceholder.x, kPlaceholder.y, kPlaceholder.width,
                     label);
  }
  setText(text, face_.summary, Design::Text::meta());
  pango_layout_set_width(text, static_cast<int>(kSummaryWidth * PANGO_SCALE));
  pango_layout_set_ellipsize(text, PANGO_ELLIPSIZE_END);
  pango_layout_set_alignment(text, PANGO_ALIGN_CENTER);
  const GdkRGBA secondary = withAlpha(label, 0.6);
  gdk_cairo_set_source_rgba(cairo, &secondary);
  cairo_move_to(cairo, kCentre - kSummaryWidth / 2, kSummaryTop);
  pango_cairo_show_layout(cairo, text);
}

}  // namespace glimmet
