// GtkStatusIcon is deprecated in GTK 3 but remains the one XEmbed tray client
// GTK offers; the indicator protocol cannot report the icon's place.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include "platform/gtk/status_icon_button.h"

#include "platform/gtk/brand_glyph.h"

namespace glimmet {

namespace {

constexpr const char* kAccessibleName = "Glimmet";

}  // namespace

GdkRGBA themeTextColour() {
  // A label in a window, as any of the program's labels: a style context
  // without parents would inherit nothing and answer CSS's initial white.
  GtkWidget* window = gtk_offscreen_window_new();
  GtkWidget* label = gtk_label_new("");
  gtk_container_add(GTK_CONTAINER(window), label);
  GdkRGBA colour{};
  gtk_style_context_get_color(gtk_widget_get_style_context(label),
                              gtk_widget_get_state_flags(label), &colour);
  gtk_widget_destroy(window);
  return colour;
}

// No gtk_status_icon_set_name: the icon is already shown, so it would hide,
// unrealize and show the tray window again while GTK still awaits its first
// configure notify, and the stale count makes GDK thaw the new window once too
// often when the tray embeds it (a Gdk-CRITICAL). The window keeps the
// program's own WM_CLASS, whose name is "glimmet" already.
StatusIconButton::StatusIconButton() : icon_(gtk_status_icon_new()) {
  gtk_status_icon_set_title(icon_.get(), kAccessibleName);
  g_signal_connect(icon_.get(), "size-changed", G_CALLBACK(sizeChanged), this);
  g_signal_connect(icon_.get(), "activate", G_CALLBACK(activated), this);
  g_signal_connect(icon_.get(), "popup-menu", G_CALLBACK(menuRequested), this);
  GtkSettings* settings = gtk_settings_get_default();
  themeHandler_ =
      g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(themeChanged), this);
  darkHandler_ = g_signal_connect(settings, "notify::gtk-application-prefer-dark-theme",
                                  G_CALLBACK(themeChanged), this);
  colour_ = themeTextColour();
  drawIcon();
  updateToolTip();
  gtk_status_icon_set_visible(icon_.get(), TRUE);
}

StatusIconButton::~StatusIconButton() {
  GtkSettings* settings = gtk_settings_get_default();
  g_signal_handler_disconnect(settings, themeHandler_);
  g_signal_handler_disconnect(settings, darkHandler_);
  g_signal_handlers_disconnect_by_data(icon_.get(), this);
  gtk_status_icon_set_visible(icon_.get(), FALSE);
}

void StatusIconButton::setTitle(const std::string& title) {
  title_ = title;
  updateToolTip();
}

void StatusIconButton::setToolTip(const std::string& toolTip) {
  toolTip_ = toolTip;
  updateToolTip();
}

void StatusIconButton::showRestingIcon() {
  turn_.reset();
  gtk_status_icon_set_title(icon_.get(), kAccessibleName);
  drawIcon();
}

void StatusIconButton::showTurnedIcon(double degrees, const std::string& description) {
  turn_ = degrees;
  gtk_status_icon_set_title(icon_.get(), description.c_str());
  drawIcon();
}

std::optional<Rect> StatusIconButton::frame() const {
  GdkRectangle area{};
  if (!gtk_status_icon_get_geometry(icon_.get(), nullptr, &area, nullptr) || area.width <= 0 ||
      area.height <= 0) {
    return std::nullopt;
  }
  return Rect{double(area.x), double(area.y), double(area.width), double(area.height)};
}

bool StatusIconButton::isEmbedded() const { return gtk_status_icon_is_embedded(icon_.get()); }

gboolean StatusIconButton::sizeChanged(GtkStatusIcon*, gint size, gpointer self) {
  auto& button = *static_cast<StatusIconButton*>(self);
  button.size_ = size;
  button.drawIcon();
  return TRUE;
}

void StatusIconButton::activated(GtkStatusIcon*, gpointer self) {
  auto& button = *static_cast<StatusIconButton*>(self);
  if (button.activate_) button.activate_();
}

void StatusIconButton::menuRequested(GtkStatusIcon*, guint mouseButton, guint32 time,
                                     gpointer self) {
  auto& button = *static_cast<StatusIconButton*>(self);
  if (button.menu_) button.menu_(mouseButton, time);
}

void StatusIconButton::themeChanged(GObject*, GParamSpec*, gpointer self) {
  auto& button = *static_cast<StatusIconButton*>(self);
  button.colour_ = themeTextColour();
  button.drawIcon();
}

void StatusIconButton::drawIcon() {
  // Before a tray has said how large its icons are, the glyph's own size.
  const int size = size_ > 0 ? size_ : kBrandGlyphSize;
  GObjectPtr<GdkPixbuf> image = brandGlyphImage(size, turn_.value_or(0), colour_);
  gtk_status_icon_set_from_pixbuf(icon_.get(), image.get());
}

void StatusIconButton::updateToolTip() {
  std::string text = toolTip_;
  if (!title_.empty()) text = text.empty() ? title_ : title_ + "\n" + text;
  if (text.empty()) text = kAccessibleName;
  gtk_status_icon_set_tooltip_text(icon_.get(), text.c_str());
}

}  // namespace glimmet
