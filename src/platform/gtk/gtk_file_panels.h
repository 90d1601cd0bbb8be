#pragma once

// Open and save dialogs through GtkFileChooserNative, which uses the desktop
// portal's file chooser where one runs (sandboxes, GTK_USE_PORTAL=1) and GTK's
// own dialog otherwise. Only local files are offered, so every answer is a
// path. Requires an initialised GTK; main thread only.

#include <memory>
#include <vector>

#include "platform/file_panels.h"

typedef struct _GtkNativeDialog GtkNativeDialog;

namespace glimmet {

class GtkFilePanels final : public FilePanels {
 public:
  GtkFilePanels();
  // Closes the panels still open without running their completions.
  ~GtkFilePanels() override;
  GtkFilePanels(const GtkFilePanels&) = delete;
  GtkFilePanels& operator=(const GtkFilePanels&) = delete;

  // With directories allowed, the panel chooses folders (GTK cannot offer files
  // and folders in one panel).
  void runOpenPanel(const OpenPanelRequest& request, OpenCompletion completion) override;
  // The panel asks before replacing an existing file.
  void runSavePanel(const SavePanelRequest& request, SaveCompletion completion) override;

 private:
  struct OpenPanel;
  void show(GtkNativeDialog* chooser, std::function<void(GtkNativeDialog*, bool)> answer);
  static void onResponse(GtkNativeDialog* chooser, int response, OpenPanel* panel);

  std::vector<std::unique_ptr<OpenPanel>> open_;
};

}  // namespace glimmet
