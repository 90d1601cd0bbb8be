#include "platform/gtk/gtk_file_panels.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "core/glib_ptr.h"

namespace glimmet {

namespace {

struct FileListRelease {
  void operator()(GSList* list) const { g_slist_free_full(list, g_object_unref); }
};
using FileListPtr = std::unique_ptr<GSList, FileListRelease>;

std::vector<std::filesystem::path> chosenPaths(GtkNativeDialog* chooser) {
  std::vector<std::filesystem::path> paths;
  FileListPtr files(gtk_file_chooser_get_files(GTK_FILE_CHOOSER(chooser)));
  for (GSList* item = files.get(); item != nullptr; item = item->next) {
    GTextPtr path(g_file_get_path(G_FILE(item->data)));
    if (path) paths.emplace_back(path.get());
  }
  return paths;
}

}  // namespace

struct GtkFilePanels::OpenPanel {
  GtkFilePanels* owner = nullptr;
  GObjectPtr<GtkNativeDialog> chooser;
  // Runs once with the chooser and whether the user accepted.
  std::function<void(GtkNativeDialog*, bool)> answer;
};

GtkFilePanels::GtkFilePanels() = default;

GtkFilePanels::~GtkFilePanels() {
  for (const auto& panel : open_) {
    g_signal_handlers_disconnect_by_data(panel->chooser.get(), panel.get());
    gtk_native_dialog_destroy(panel->chooser.get());
  }
}

void GtkFilePanels::runOpenPanel(const OpenPanelRequest& request, OpenCompletion completion) {
  const GtkFileChooserAction action = request.canChooseDirectories
                                          ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                          : GTK_FILE_CHOOSER_ACTION_OPEN;
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      request.title ? request.title->c_str() : nullptr, nullptr, action, nullptr, nullptr);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), request.allowsMultipleSelection);
  show(GTK_NATIVE_DIALOG(chooser),
       [completion = std::move(completion)](GtkNativeDialog* dialog, bool accepted) {
         completion(accepted ? chosenPaths(dialog) : std::vector<std::filesystem::path>{});
       });
}

void GtkFilePanels::runSavePanel(const SavePanelRequest& request, SaveCompletion completion) {
  GtkFileChooserNative* chooser =
      gtk_file_chooser_native_new(nullptr, nullptr, GTK_FILE_CHOOSER_ACTION_SAVE, nullptr, nullptr);
  gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
  if (!request.suggestedFileName.empty()) {
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), request.suggestedFileName.c_str());
  }
  show(GTK_NATIVE_DIALOG(chooser),
       [completion = std::move(completion)](GtkNativeDialog* dialog, bool accepted) {
         std::vector<std::filesystem::path> chosen;
         if (accepted) chosen = chosenPaths(dialog);
         completion(chosen.empty() ? std::nullopt
                                   : std::optional<std::filesystem::path>(chosen.front()));
       });
}

void GtkFilePanels::show(GtkNativeDialog* chooser,
                         std::function<void(GtkNativeDialog*, bool)> answer) {
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_native_dialog_set_modal(chooser, TRUE);
  auto panel = std::make_unique<OpenPanel>();
  panel->owner = this;
  panel->chooser.reset(chooser);
  panel->answer = std::move(answer);
  g_signal_connect(chooser, "response", G_CALLBACK(onResponse), panel.get());
  open_.push_back(std::move(panel));
  gtk_native_dialog_show(chooser);
}

void GtkFilePanels::onResponse(GtkNativeDialog* chooser, int response, OpenPanel* panel) {
  auto& panels = panel->owner->open_;
  auto it = std::find_if(panels.begin(), panels.end(),
                         [panel](const auto& candidate) { return candidate.get() == panel; });
  std::unique_ptr<OpenPanel> closing = std::move(*it);
  panels.erase(it);
  g_signal_handlers_disconnect_by_data(chooser, closing.get());

  // The answer runs last, with the chooser still alive for reading the files;
  // it may open the next panel.
  closing->answer(chooser, response == GTK_RESPONSE_ACCEPT);
}

}  // namespace glimmet
