#pragma once

// The desktop clipboard (GDK_SELECTION_CLIPBOARD) through GTK. Content written
// here is served on request while the program owns the clipboard, and handed
// to a clipboard manager, where one runs, when the program quits. Requires an
// initialised GTK; main thread only.

#include "platform/clipboard.h"

typedef struct _GtkClipboard GtkClipboard;

namespace glimmet {

class GtkClipboardAccess final : public Clipboard {
 public:
  GtkClipboardAccess();

  // Refuses text that is not UTF-8, which X11 text targets cannot carry.
  bool writeText(const std::string& text) override;
  // Offers the PNG bytes unchanged as image/png and, converted by GdkPixbuf, as
  // the other image types GTK can write; refuses bytes that do not decode.
  bool writeImage(const Bytes& png) override;
  // Offers text/uri-list and x-special/gnome-copied-files (what GNOME-style file
  // managers paste as files) and, for text editors, the paths one per line.
  // Refuses an empty list.
  bool writeFileUrls(const std::vector<std::filesystem::path>& paths) override;
  // Waits for the owner of the clipboard to answer, running the main loop meanwhile.
  std::optional<std::string> readText() override;

 private:
  GtkClipboard* clipboard_;
};

}  // namespace glimmet
