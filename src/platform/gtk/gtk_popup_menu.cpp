#include "platform/gtk/gtk_popup_menu.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/executors.h"
#include "surfaces/design.h"

namespace glimmet {

struct GtkPopUpMenu::Tracking {
  GtkPopUpMenu* owner = nullptr;
  GtkWidget* menu = nullptr;
  std::optional<std::size_t> chosen;
  Completion completion;

  ~Tracking() {
    if (!menu) return;
    g_signal_handlers_disconnect_by_data(menu, this);
    gtk_widget_destroy(menu);
    g_object_unref(menu);
  }
};

namespace {

constexpr const char* kIndexKey = "glimmet-menu-index";

// The icon at `size` pixels, recoloured to `colour` with its own alpha kept,
// or null when it cannot be read.
GdkPixbuf* tintedIcon(const std::filesystem::path& file, int size, const GdkRGBA& colour) {
  GdkPixbuf* loaded = gdk_pixbuf_new_from_file_at_size(file.c_str(), size, size, nullptr);
  if (!loaded) return nullptr;
  GdkPixbuf* icon = gdk_pixbuf_add_alpha(loaded, FALSE, 0, 0, 0);
  g_object_unref(loaded);
  const int width = gdk_pixbuf_get_width(icon);
  const int height = gdk_pixbuf_get_height(icon);
  const int stride = gdk_pixbuf_get_rowstride(icon);
  guchar* pixels = gdk_pixbuf_get_pixels(icon);
  const auto channel = [](double value) { return guchar(std::lround(value * 255)); };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      guchar* pixel = pixels + y * stride + x * 4;
      pixel[0] = channel(colour.red);
      pixel[1] = channel(colour.green);
      pixel[2] = channel(colour.blue);
      pixel[3] = guchar(std::lround(pixel[3] * colour.alpha));
    }
  }
  return icon;
}

GtkWidget* menuItem(const PopUpMenuItem& item, bool checked, const PopUpMenuRequest& request) {
  GtkWidget* widget = gtk_check_menu_item_new();
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), checked);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* label = gtk_label_new(item.title.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(
      attributes, pango_attr_family_new(PlumoraDesign::font(request.fontSize).family.c_str()));
  pango_attr_list_insert(attributes, pango_attr_size_new(int(request.fontSize * PANGO_SCALE)));
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
  if (item.icon) {
    GdkRGBA colour{};
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), GTK_STATE_FLAG_NORMAL,
                                &colour);
    if (GdkPixbuf* icon = tintedIcon(*item.icon, int(std::lround(request.iconSize)), colour)) {
      gtk_box_pack_start(GTK_BOX(box), gtk_image_new_from_pixbuf(icon), FALSE, FALSE, 0);
      g_object_unref(icon);
    }
  }
  gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(widget), box);
  return widget;
}

}  // namespace

GtkPopUpMenu::~GtkPopUpMenu() {
  // A menu still open closes without answering: its requester is going too.
  open_.reset();
}

void GtkPopUpMenu::popUp(const PopUpMenuRequest& request, Completion completion) {
  if (open_) {
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(open_->menu));
    // A menu that never became active (its grab failed) emits nothing.
    if (open_) finish(std::exchange(open_, nullptr));
  }

  auto tracking = std::make_shared<Tracking>();
  tracking->owner = this;
  tracking->completion = std::move(completion);
  if (!anchor_ || !gtk_widget_get_mapped(anchor_)) return finish(std::move(tracking));

  tracking->menu = GTK_WIDGET(g_object_ref_sink(gtk_menu_new()));
  for (std::size_t index = 0; index < request.items.size(); ++index) {
    GtkWidget* item = menuItem(request.items[index], request.checked == index, request);
    g_object_set_data(G_OBJECT(item), kIndexKey, GSIZE_TO_POINTER(index));
    g_signal_connect(item, "activate", G_CALLBACK(itemActivated), tracking.get());
    gtk_menu_shell_append(GTK_MENU_SHELL(tracking->menu), item);
  }
  g_signal_connect(tracking->menu, "deactivate", G_CALLBACK(menuDeactivated), tracking.get());
  gtk_widget_show_all(tracking->menu);
  open_ = tracking;

  // The location is in the widget's coordinates; the menu is placed relative
  // to the window that draws it.
  GtkAllocation area{};
  gtk_widget_get_allocation(anchor_, &area);
  const double x = std::clamp(request.location.x, 0.0, double(std::max(area.width, 0)));
  const double y = std::clamp(request.location.y, 0.0, double(std::max(area.height, 0)));
  GdkRectangle point{int(std::lround(x)), int(std::lround(y)), 1, 1};
  if (!gtk_widget_get_has_window(anchor_)) {
    point.x += area.x;
    point.y += area.y;
  }
  gtk_menu_popup_at_rect(GTK_MENU(tracking->menu), gtk_widget_get_window(anchor_), &point,
                         GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, nullptr);
  // Without the pointer grab GTK does not show the menu: answer dismissed.
  if (!gtk_widget_get_visible(tracking->menu)) finish(std::exchange(open_, nullptr));
}

GtkMenu* GtkPopUpMenu::openMenu() const { return open_ ? GTK_MENU(open_->menu) : nullptr; }

void GtkPopUpMenu::itemActivated(GtkMenuItem* item, gpointer tracking) {
  static_cast<Tracking*>(tracking)->chosen =
      GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(item), kIndexKey));
}

void GtkPopUpMenu::menuDeactivated(GtkMenuShell*, gpointer data) {
  auto* tracking = static_cast<Tracking*>(data);
  GtkPopUpMenu& owner = *tracking->owner;
  if (!owner.open_ || owner.open_.get() != tracking) return;
  owner.finish(std::exchange(owner.open_, nullptr));
}

void GtkPopUpMenu::finish(std::shared_ptr<Tracking> tracking) {
  // A chosen item is activated after the menu deactivates, and the menu must
  // not be destroyed inside its own signal: answer once both are over.
  MainQueue::shared().post([alive = lifetime_.guard(), tracking = std::move(tracking)] {
    if (!alive.expired() && tracking->completion) tracking->completion(tracking->chosen);
  });
}

}  // namespace glimmet
