#include "platform/gtk/gtk_agent_setup_window.h"

#include "core/glib_ptr.h"
#include "platform/gtk/design_widgets.h"

namespace glimmet {

namespace {

namespace Design = PlumoraDesign;

constexpr int kWidth = 620;
constexpr int kHeight = 530;
constexpr int kSideInset = 24;
constexpr int kVerticalInset = 22;
constexpr int kSpacing = 16;
constexpr int kButtonSpacing = 10;
constexpr int kBottomSpacing = 12;
constexpr int kLogMinimumHeight = 130;

// The log: monospaced at the meta size, on the window's own background.
constexpr const char* kLogStyle = "textview, textview text { background-color: transparent; }";

template <typename Callback>
GtkWidget* button(const char* label, Callback callback, gpointer self) {
  GtkWidget* widget = gtk_button_new_with_label(label);
  g_signal_connect(widget, "clicked", G_CALLBACK(+callback), self);
  return widget;
}

}  // namespace

GtkAgentSetupWindow::~GtkAgentSetupWindow() {
  if (window_ == nullptr) return;
  gtk_widget_destroy(window_);
  g_object_unref(window_);
}

void GtkAgentSetupWindow::present(AgentSetupWindowEvents& events) {
  events_ = &events;
  if (window_ == nullptr) build();
  gtk_widget_show_all(window_);
  gtk_widget_set_visible(cancelButton_, installing_);
  gtk_widget_set_visible(progress_, fraction_.has_value());
  gtk_window_present_with_time(GTK_WINDOW(window_), gtk_get_current_event_time());
}

void GtkAgentSetupWindow::build() {
  window_ = g_object_ref_sink(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_title(GTK_WINDOW(window_), kTitle);
  gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  g_signal_connect(window_, "delete-event", G_CALLBACK(deleted), this);

  GtkWidget* stack = gtk_box_new(GTK_ORIENTATION_VERTICAL, kSpacing);
  gtk_widget_set_margin_start(stack, kSideInset);
  gtk_widget_set_margin_end(stack, kSideInset);
  gtk_widget_set_margin_top(stack, kVerticalInset);
  gtk_widget_set_margin_bottom(stack, kVerticalInset);
  gtk_container_add(GTK_CONTAINER(window_), stack);
  const auto add = [stack](GtkWidget* child, bool grow = false) {
    gtk_box_pack_start(GTK_BOX(stack), child, grow, grow, 0);
  };

  add(wrappingLabel(kHeading, Design::Text::installer()));
  add(wrappingLabel(kIntro, Design::font(Design::TypeSize::defaultSize)));
  status_ = wrappingLabel(kDetecting, Design::font(Design::TypeSize::status));
  add(status_);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, kButtonSpacing);
  GtkWidget* refresh = button(
      kRefresh, [](GtkButton*, gpointer self) { eventsOf(self).refreshClicked(); }, this);
  installButton_ = button(
      kInstall, [](GtkButton*, gpointer self) { eventsOf(self).installClicked(); }, this);
  cancelButton_ = button(
      kCancel, [](GtkButton*, gpointer self) { eventsOf(self).cancelInstallClicked(); }, this);
  loginButton_ = button(
      kLogin, [](GtkButton*, gpointer self) { eventsOf(self).loginClicked(); }, this);
  gtk_widget_set_sensitive(loginButton_, FALSE);
  for (GtkWidget* widget : {refresh, installButton_, cancelButton_, loginButton_}) {
    gtk_box_pack_start(GTK_BOX(buttons), widget, FALSE, FALSE, 0);
  }
  add(buttons);

  progress_ = gtk_progress_bar_new();
  add(progress_);

  log_ = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(log_), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(log_), FALSE);
  gtk_text_view_set_monospace(GTK_TEXT_VIEW(log_), TRUE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(log_), GTK_WRAP_CHAR);
  GObjectPtr<GtkCssProvider> style(gtk_css_provider_new());
  gtk_css_provider_load_from_data(style.get(), kLogStyle, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(log_),
                                 GTK_STYLE_PROVIDER(style.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(log_));
  gtk_text_buffer_create_tag(buffer, "log", "family", "Monospace", "size-points",
                             Design::TypeSize::meta, nullptr);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_NONE);
  gtk_widget_set_size_request(scroller, -1, kLogMinimumHeight);
  gtk_container_add(GTK_CONTAINER(scroller), log_);
  add(scroller, true);

  GtkWidget* note = wrappingLabel(kNote, Design::font(Design::TypeSize::meta));
  gtk_style_context_add_class(gtk_widget_get_style_context(note), GTK_STYLE_CLASS_DIM_LABEL);
  add(note);

  GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, kBottomSpacing);
  GtkWidget* permission = button(
      kPermission, [](GtkButton*, gpointer self) { eventsOf(self).permissionClicked(); }, this);
  GtkWidget* start = button(
      kStart, [](GtkButton*, gpointer self) { eventsOf(self).startClicked(); }, this);
  gtk_box_pack_start(GTK_BOX(bottom), permission, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bottom), start, FALSE, FALSE, 0);
  add(bottom);
}

void GtkAgentSetupWindow::setStatus(const std::string& text) {
  if (status_ != nullptr) gtk_label_set_text(GTK_LABEL(status_), text.c_str());
}

void GtkAgentSetupWindow::setLog(const std::string& text) {
  if (log_ == nullptr) return;
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(log_));
  gtk_text_buffer_set_text(buffer, "", 0);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_insert_with_tags_by_name(buffer, &end, text.data(),
                                           static_cast<gint>(text.size()), "log", nullptr);
  gtk_text_buffer_get_end_iter(buffer, &end);
  GtkTextMark* mark = gtk_text_buffer_get_insert(buffer);
  gtk_text_buffer_place_cursor(buffer, &end);
  gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(log_), mark);
}

std::string GtkAgentSetupWindow::logText() const {
  if (log_ == nullptr) return {};
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(log_));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  GTextPtr text(gtk_text_buffer_get_text(buffer, &start, &end, FALSE));
  return text.get();
}

void GtkAgentSetupWindow::setInstalling(bool installing) {
  installing_ = installing;
  if (installButton_ == nullptr) return;
  gtk_widget_set_sensitive(installButton_, !installing);
  gtk_widget_set_visible(cancelButton_, installing);
}

void GtkAgentSetupWindow::setLoginEnabled(bool enabled) {
  if (loginButton_ != nullptr) gtk_widget_set_sensitive(loginButton_, enabled);
}

void GtkAgentSetupWindow::setProgress(std::optional<double> fraction) {
  fraction_ = fraction;
  if (progress_ == nullptr) return;
  gtk_widget_set_visible(progress_, fraction.has_value());
  if (fraction) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), *fraction);
}

void GtkAgentSetupWindow::hide() {
  if (window_ != nullptr) gtk_widget_hide(window_);
}

bool GtkAgentSetupWindow::isVisible() const {
  return window_ != nullptr && gtk_widget_get_visible(window_);
}

gboolean GtkAgentSetupWindow::deleted(GtkWidget*, GdkEvent*, gpointer data) {
  auto* self = static_cast<GtkAgentSetupWindow*>(data);
  gtk_widget_hide(self->window_);
  if (self->events_ != nullptr) self->events_->closed();
  return TRUE;
}

AgentSetupWindowEvents& GtkAgentSetupWindow::eventsOf(gpointer self) {
  return *static_cast<GtkAgentSetupWindow*>(self)->events_;
}

}  // namespace glimmet
