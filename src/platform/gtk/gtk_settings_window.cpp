#include "platform/gtk/gtk_settings_window.h"

#include <cstdlib>
#include <cstring>

#include "core/glib_ptr.h"
#include "platform/gtk/design_widgets.h"
#include "platform/gtk/x11_hot_keys.h"
#include "surfaces/design.h"

namespace glimmet {

namespace {

namespace Design = PlumoraDesign;

constexpr int kContentWidth = 530;
constexpr int kContentHeight = 430;
constexpr int kMargin = 24;
constexpr int kSpacing = 14;

// What the key types with Shift as the only modifier.
std::string characters(const GdkEventKey* event) {
  guint keyval = 0;
  if (!gdk_keymap_translate_keyboard_state(
          gdk_keymap_get_for_display(gdk_window_get_display(event->window)),
          event->hardware_keycode, static_cast<GdkModifierType>(event->state & GDK_SHIFT_MASK),
          event->group, &keyval, nullptr, nullptr, nullptr)) {
    return {};
  }
  const gunichar scalar = gdk_keyval_to_unicode(keyval);
  if (scalar == 0) return {};
  char encoded[6];
  return std::string(encoded, static_cast<std::size_t>(g_unichar_to_utf8(scalar, encoded)));
}

template <typename Callback>
void onClicked(GtkWidget* button, Callback callback, gpointer self) {
  g_signal_connect(button, "clicked", G_CALLBACK(+callback), self);
}

}  // namespace

GtkSettingsWindow::~GtkSettingsWindow() {
  if (window_ == nullptr) return;
  grabKeyboard(false);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
}

void GtkSettingsWindow::present(const SettingsWindowContent& content,
                                SettingsWindowEvents& events) {
  events_ = &events;
  if (window_ == nullptr) build(content);
  gtk_widget_show_all(window_);
  gtk_window_present_with_time(GTK_WINDOW(window_), gtk_get_current_event_time());
}

void GtkSettingsWindow::build(const SettingsWindowContent& content) {
  window_ = g_object_ref_sink(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_title(GTK_WINDOW(window_), kTitle);
  gtk_window_set_default_size(GTK_WINDOW(window_), kContentWidth, kContentHeight);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  g_signal_connect(window_, "delete-event", G_CALLBACK(deleted), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(keyPressed), this);

  GtkWidget* stack = gtk_box_new(GTK_ORIENTATION_VERTICAL, kSpacing);
  gtk_widget_set_margin_start(stack, kMargin);
  gtk_widget_set_margin_end(stack, kMargin);
  gtk_widget_set_margin_top(stack, kMargin);
  gtk_widget_set_margin_bottom(stack, kMargin);
  gtk_container_add(GTK_CONTAINER(window_), stack);
  const auto add = [stack](GtkWidget* child) {
    gtk_box_pack_start(GTK_BOX(stack), child, FALSE, FALSE, 0);
  };

  add(wrappingLabel(kIntro, Design::font(Design::TypeSize::caption)));

  GtkWidget* recorderRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
  GtkWidget* recorderLabel = gtk_label_new(kRecorderLabel);
  setDesignFont(recorderLabel, Design::Text::defaultFont());
  recorder_ = gtk_button_new_with_label(content.recorderTitle.c_str());
  onClicked(
      recorder_,
      [](GtkButton*, gpointer self) {
        static_cast<GtkSettingsWindow*>(self)->events_->recorderClicked();
      },
      this);
  gtk_box_pack_start(GTK_BOX(recorderRow), recorderLabel, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(recorderRow), recorder_, FALSE, FALSE, 0);
  add(recorderRow);

  add(wrappingLabel(kDisabledLabel, Design::font(Design::TypeSize::caption)));
  GtkWidget* disabledRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  disabledField_ = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(disabledField_), content.disabledApplications.c_str());
  addMenu_ = gtk_menu_new();
  GtkWidget* addButton = gtk_menu_button_new();
  gtk_button_set_image(GTK_BUTTON(addButton),
                       gtk_image_new_from_icon_name("list-add-symbolic", GTK_ICON_SIZE_BUTTON));
  gtk_widget_set_tooltip_text(addButton, kAddApplication);
  gtk_menu_button_set_popup(GTK_MENU_BUTTON(addButton), addMenu_);
  g_signal_connect_swapped(addButton, "pressed", G_CALLBACK(+[](gpointer self) {
                             static_cast<GtkSettingsWindow*>(self)->fillAddMenu();
                           }),
                           this);
  gtk_box_pack_start(GTK_BOX(disabledRow), disabledField_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(disabledRow), addButton, FALSE, FALSE, 0);
  add(disabledRow);

  pauseButton_ = gtk_check_button_new_with_label(kPause);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(pauseButton_), content.paused);
  add(pauseButton_);
  launchButton_ = gtk_check_button_new_with_label(kLaunchAtLogin);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(launchButton_), content.launchAtLogin);
  add(launchButton_);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  saveButton_ = gtk_button_new_with_label(kSave);
  onClicked(
      saveButton_,
      [](GtkButton*, gpointer data) {
        auto* self = static_cast<GtkSettingsWindow*>(data);
        self->events_->saveClicked(
            gtk_entry_get_text(GTK_ENTRY(self->disabledField_)),
            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(self->pauseButton_)),
            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(self->launchButton_)));
      },
      this);
  resetButton_ = gtk_button_new_with_label(kReset);
  onClicked(
      resetButton_,
      [](GtkButton*, gpointer self) {
        static_cast<GtkSettingsWindow*>(self)->events_->resetClicked();
      },
      this);
  GtkWidget* authorise = gtk_button_new_with_label(kAuthorise);
  onClicked(
      authorise,
      [](GtkButton*, gpointer self) {
        static_cast<GtkSettingsWindow*>(self)->events_->accessibilityClicked();
      },
      this);
  for (GtkWidget* button : {saveButton_, resetButton_, authorise}) {
    gtk_box_pack_start(GTK_BOX(buttons), button, FALSE, FALSE, 0);
  }
  add(buttons);

  permission_ =
      wrappingLabel(content.permissionState.c_str(), Design::font(Design::TypeSize::caption));
  add(permission_);
  if (const char* session = std::getenv("XDG_SESSION_TYPE");
      session != nullptr && std::strcmp(session, "wayland") == 0) {
    add(wrappingLabel(kWaylandNote, Design::font(Design::TypeSize::caption)));
  }
  add(wrappingLabel(kFooter, Design::font(Design::TypeSize::caption)));
}

void GtkSettingsWindow::fillAddMenu() {
  gtk_container_foreach(
      GTK_CONTAINER(addMenu_), [](GtkWidget* item, gpointer) { gtk_widget_destroy(item); },
      nullptr);
  for (const std::string& name : workspace_.runningApplications()) {
    GtkWidget* item = gtk_menu_item_new_with_label(name.c_str());
    g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* chosen, gpointer data) {
                       auto* field =
                           GTK_ENTRY(static_cast<GtkSettingsWindow*>(data)->disabledField_);
                       std::string list = gtk_entry_get_text(field);
                       if (!list.empty()) list += ", ";
                       list += gtk_menu_item_get_label(chosen);
                       gtk_entry_set_text(field, list.c_str());
                     }),
                     this);
    gtk_menu_shell_append(GTK_MENU_SHELL(addMenu_), item);
  }
  gtk_widget_show_all(addMenu_);
}

void GtkSettingsWindow::setRecorder(const std::string& title, bool recording) {
  if (window_ == nullptr) return;
  gtk_button_set_label(GTK_BUTTON(recorder_), title.c_str());
  grabKeyboard(recording);
}

void GtkSettingsWindow::setPermissionState(const std::string& state) {
  if (permission_ != nullptr) gtk_label_set_text(GTK_LABEL(permission_), state.c_str());
}

void GtkSettingsWindow::hide() {
  if (window_ == nullptr) return;
  grabKeyboard(false);
  gtk_widget_hide(window_);
}

bool GtkSettingsWindow::isVisible() const {
  return window_ != nullptr && gtk_widget_get_visible(window_);
}

void GtkSettingsWindow::grabKeyboard(bool grab) {
  if (grab == grabbing_) return;
  GdkWindow* surface = gtk_widget_get_window(window_);
  GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
  if (grab) {
    grabbing_ =
        surface != nullptr && gdk_seat_grab(seat, surface, GDK_SEAT_CAPABILITY_KEYBOARD, FALSE,
                                            nullptr, nullptr, nullptr, nullptr) == GDK_GRAB_SUCCESS;
  } else {
    gdk_seat_ungrab(seat);
    grabbing_ = false;
  }
}

gboolean GtkSettingsWindow::keyPressed(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto* self = static_cast<GtkSettingsWindow*>(data);
  const KeyStroke key{event->hardware_keycode, X11HotKeys::storedModifiers(event->state),
                      characters(event)};
  return self->events_ != nullptr && self->events_->keyPressed(key);
}

gboolean GtkSettingsWindow::deleted(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<GtkSettingsWindow*>(data)->events_->closeRequested();
  return TRUE;
}

}  // namespace glimmet
