#include "platform/gtk/gtk_alerts.h"

#include <gtk/gtk.h>

#include <algorithm>

namespace glimmet {

struct GtkAlerts::OpenAlert {
  GtkAlerts* owner = nullptr;
  GtkWidget* dialog = nullptr;
  std::size_t buttonCount = 0;
  Completion completion;
};

GtkAlerts::GtkAlerts() = default;

GtkAlerts::~GtkAlerts() {
  for (const auto& open : open_) {
    g_signal_handlers_disconnect_by_data(open->dialog, open.get());
    gtk_widget_destroy(open->dialog);
  }
}

void GtkAlerts::present(const AlertRequest& alert, Completion completion) {
  std::vector<std::string> titles = alert.buttonTitles;
  if (titles.empty()) titles.emplace_back(kAcknowledgeTitle);

  // "%s" keeps the texts literal: no printf directives, no Pango markup.
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                             GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
  if (!alert.informativeText.empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             alert.informativeText.c_str());
  }
  // The response id of each button is its index. GTK lays the buttons out from
  // left to right in the order they are added; the default (first) button goes
  // to the right end, where GNOME puts the affirmative choice.
  for (std::size_t index = titles.size(); index-- > 0;) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), titles[index].c_str(), static_cast<int>(index));
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

  auto open = std::make_unique<OpenAlert>();
  open->owner = this;
  open->dialog = dialog;
  open->buttonCount = titles.size();
  open->completion = std::move(completion);
  g_signal_connect(dialog, "response", G_CALLBACK(onResponse), open.get());
  open_.push_back(std::move(open));
  gtk_window_present(GTK_WINDOW(dialog));
}

void GtkAlerts::onResponse(GtkWidget* dialog, int response, OpenAlert* open) {
  // Any response that is not a button (Escape, closing the window) declines.
  const std::size_t index = response >= 0 && static_cast<std::size_t>(response) < open->buttonCount
                                ? static_cast<std::size_t>(response)
                                : open->buttonCount - 1;
  auto& alerts = open->owner->open_;
  auto it = std::find_if(alerts.begin(), alerts.end(),
                         [open](const auto& candidate) { return candidate.get() == open; });
  std::unique_ptr<OpenAlert> closing = std::move(*it);
  alerts.erase(it);

  g_signal_handlers_disconnect_by_data(dialog, closing.get());
  gtk_widget_destroy(dialog);
  // Last: the completion may present the next alert or release the owner.
  Completion completion = std::move(closing->completion);
  closing.reset();
  if (completion) completion(index);
}

}  // namespace glimmet
