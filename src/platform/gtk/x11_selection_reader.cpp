#include "platform/gtk/x11_selection_reader.h"

#include <gtk/gtk.h>

#include <utility>

namespace glimmet {

namespace {

// One read: answered by the selection's owner or by the deadline, whichever
// comes first; the other then finds it finished.
struct PendingRead {
  SelectionReader::Completion done;
  guint deadline = 0;

  void finish(SelectedContent content) {
    if (!done) return;
    if (deadline != 0) g_source_remove(deadline);
    deadline = 0;
    SelectionReader::Completion completion = std::move(done);
    done = nullptr;
    completion(std::move(content));
  }
};

void received(GtkClipboard*, const gchar* text, gpointer data) {
  const std::unique_ptr<std::shared_ptr<PendingRead>> read(
      static_cast<std::shared_ptr<PendingRead>*>(data));
  SelectedContent content;
  if (text != nullptr) content.text = std::string(text);
  (*read)->finish(std::move(content));
}

gboolean expired(gpointer data) {
  auto& read = *static_cast<std::shared_ptr<PendingRead>*>(data);
  read->deadline = 0;
  read->finish({});
  return G_SOURCE_REMOVE;
}

void release(gpointer data) {
  std::unique_ptr<std::shared_ptr<PendingRead>>(static_cast<std::shared_ptr<PendingRead>*>(data));
}

}  // namespace

void X11SelectionReader::read(const RunningApplication& application, Completion done) {
  if (focus_.passwordFieldFocused(application.pid)) return done({std::nullopt, true});
  auto read = std::make_shared<PendingRead>();
  read->done = std::move(done);
  read->deadline =
      g_timeout_add_full(G_PRIORITY_DEFAULT, kDeadlineMs, expired,
                         std::make_unique<std::shared_ptr<PendingRead>>(read).release(), release);
  gtk_clipboard_request_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), received,
                             std::make_unique<std::shared_ptr<PendingRead>>(read).release());
}

}  // namespace glimmet
