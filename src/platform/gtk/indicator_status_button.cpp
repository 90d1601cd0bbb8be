#include "platform/gtk/indicator_status_button.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "platform/gtk/brand_glyph.h"
#include "platform/gtk/status_icon_button.h"

namespace glimmet {

namespace {

constexpr const char* kAccessibleName = "Glimmet";

// The icon's side in pixels: the glyph's size at the display's scale, so that
// the panel need not enlarge it on a high-density screen.
int iconPixels() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  return kBrandGlyphSize * (monitor ? std::max(1, gdk_monitor_get_scale_factor(monitor)) : 1);
}

// "rrggbb" of an opaque colour; the icon's name carries it so that a theme
// change gives new names.
std::string hexOf(const GdkRGBA& colour) {
  const auto channel = [](double value) {
    return static_cast<unsigned>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
  };
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x%02x", channel(colour.red), channel(colour.green),
                channel(colour.blue));
  return text;
}

int stepOf(double degrees) {
  const double turns = degrees / 360.0 * IndicatorStatusButton::kTurnSteps;
  const long step = std::lround(turns) % IndicatorStatusButton::kTurnSteps;
  return static_cast<int>(step < 0 ? step + IndicatorStatusButton::kTurnSteps : step);
}

}  // namespace

IndicatorStatusButton::IndicatorStatusButton(GtkMenu* menu, GtkWidget* secondaryItem,
                                             const ScreenLayout& screens)
    : screens_(screens), icons_("glimmet-tray") {
  colour_ = themeTextColour();
  // The item is on the bus from its creation: it starts with its icon drawn.
  const std::string icon = iconName();
  draw(icon);
  indicator_.reset(app_indicator_new_with_path(
      "glimmet", icon.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS, icons_.path().c_str()));
  app_indicator_set_icon_full(indicator_.get(), icon.c_str(), kAccessibleName);
  app_indicator_set_title(indicator_.get(), kAccessibleName);
  app_indicator_set_menu(indicator_.get(), menu);
  app_indicator_set_secondary_activate_target(indicator_.get(), secondaryItem);
  app_indicator_set_status(indicator_.get(), APP_INDICATOR_STATUS_ACTIVE);
  GtkSettings* settings = gtk_settings_get_default();
  themeHandler_ =
      g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(themeChanged), this);
  darkHandler_ = g_signal_connect(settings, "notify::gtk-application-prefer-dark-theme",
                                  G_CALLBACK(themeChanged), this);
}

IndicatorStatusButton::~IndicatorStatusButton() {
  GtkSettings* settings = gtk_settings_get_default();
  g_signal_handler_disconnect(settings, themeHandler_);
  g_signal_handler_disconnect(settings, darkHandler_);
  app_indicator_set_status(indicator_.get(), APP_INDICATOR_STATUS_PASSIVE);
}

void IndicatorStatusButton::setTitle(const std::string& title) {
  title_ = title;
  updateTitle();
}

void IndicatorStatusButton::setToolTip(const std::string& toolTip) {
  toolTip_ = toolTip;
  updateTitle();
}

void IndicatorStatusButton::showRestingIcon() {
  step_.reset();
  description_.clear();
  showIcon();
}

void IndicatorStatusButton::showTurnedIcon(double degrees, const std::string& description) {
  const int step = stepOf(degrees);
  if (step_ == step && description_ == description) return;
  step_ = step;
  description_ = description;
  showIcon();
}

std::optional<Rect> IndicatorStatusButton::frame() const {
  const std::optional<Rect> area = screens_.primaryWorkArea();
  if (!area) return std::nullopt;
  return Rect{area->maxX() - kSlotSize, area->minY(), kSlotSize, kSlotSize};
}

void IndicatorStatusButton::themeChanged(GObject*, GParamSpec*, gpointer self) {
  auto& button = *static_cast<IndicatorStatusButton*>(self);
  button.colour_ = themeTextColour();
  button.showIcon();
}

std::string IndicatorStatusButton::iconName() const {
  return "glimmet-" + hexOf(colour_) + "-" + std::to_string(step_.value_or(0));
}

void IndicatorStatusButton::showIcon() {
  const std::string icon = iconName();
  try {
    draw(icon);
  } catch (const LocalAgentFailure&) {
    // The panel keeps the last icon it could read.
    return;
  }
  const std::string& description = description_.empty() ? toolTip_ : description_;
  app_indicator_set_icon_full(indicator_.get(), icon.c_str(),
                              description.empty() ? kAccessibleName : description.c_str());
}

void IndicatorStatusButton::draw(const std::string& icon) {
  if (drawnIcons_.contains(icon)) return;
  const double degrees = 360.0 * step_.value_or(0) / kTurnSteps;
  GObjectPtr<GdkPixbuf> image = brandGlyphImage(iconPixels(), degrees, colour_);
  gchar* bytes = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (!gdk_pixbuf_save_to_buffer(image.get(), &bytes, &length, "png", &error, nullptr)) {
    const GErrorPtr failure(error);
    throw LocalAgentFailure(failure ? failure->message : "PNG");
  }
  const GTextPtr png(bytes);
  writeFileAtomically(icons_ / (icon + ".png"), std::string_view(png.get(), length));
  drawnIcons_.insert(icon);
}

void IndicatorStatusButton::updateTitle() {
  // Panels that show labels put the title beside the icon; the tool tip, which
  // an item cannot have, becomes its title.
  app_indicator_set_label(indicator_.get(), title_.c_str(), title_.c_str());
  app_indicator_set_title(indicator_.get(), toolTip_.empty() ? kAccessibleName : toolTip_.c_str());
  if (!step_) showIcon();
}

}  // namespace glimmet
