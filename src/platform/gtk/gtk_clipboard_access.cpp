#include "platform/gtk/gtk_clipboard_access.h"

#include <gtk/gtk.h>

#include <memory>
#include <system_error>

#include "core/glib_ptr.h"

namespace glimmet {

namespace {

using TargetListPtr = GPtr<GtkTargetList, gtk_target_list_unref>;

constexpr guint kTextInfo = 1;
constexpr guint kImageInfo = 2;
constexpr guint kPngInfo = 3;
constexpr guint kUriListInfo = 4;
constexpr guint kGnomeFilesInfo = 5;

// What the clipboard serves while the program owns it.
struct Offer {
  std::string text;
  Bytes png;
  GObjectPtr<GdkPixbuf> pixbuf;
  std::string uriList;
  std::string gnomeFiles;
};

void setBytes(GtkSelectionData* data, const char* target, const std::string& bytes) {
  gtk_selection_data_set(data, gdk_atom_intern(target, FALSE), 8,
                         reinterpret_cast<const guchar*>(bytes.data()),
                         static_cast<gint>(bytes.size()));
}

void serve(GtkClipboard*, GtkSelectionData* data, guint info, gpointer user) {
  const Offer& offer = *static_cast<Offer*>(user);
  switch (info) {
    case kTextInfo:
      gtk_selection_data_set_text(data, offer.text.c_str(), static_cast<gint>(offer.text.size()));
      break;
    case kPngInfo:
      gtk_selection_data_set(data, gdk_atom_intern_static_string("image/png"), 8, offer.png.data(),
                             static_cast<gint>(offer.png.size()));
      break;
    case kImageInfo:
      gtk_selection_data_set_pixbuf(data, offer.pixbuf.get());
      break;
    case kUriListInfo:
      setBytes(data, "text/uri-list", offer.uriList);
      break;
    case kGnomeFilesInfo:
      setBytes(data, "x-special/gnome-copied-files", offer.gnomeFiles);
      break;
    default:
      break;
  }
}

void release(GtkClipboard*, gpointer user) {
  const std::unique_ptr<Offer> owned(static_cast<Offer*>(user));
}

// Makes the program the clipboard's owner with `offer`; GTK keeps the offer
// until another owner replaces it, then `release` frees it.
bool own(GtkClipboard* clipboard, const TargetListPtr& targets, std::unique_ptr<Offer> offer) {
  int count = 0;
  GtkTargetEntry* entries = gtk_target_table_new_from_list(targets.get(), &count);
  const bool taken = gtk_clipboard_set_with_data(clipboard, entries, static_cast<guint>(count),
                                                 serve, release, offer.get());
  gtk_target_table_free(entries, count);
  if (!taken) return false;
  offer.release();  // now GTK's, freed by `release`
  gtk_clipboard_set_can_store(clipboard, nullptr, 0);
  return true;
}

GObjectPtr<GdkPixbuf> decodePng(const Bytes& png) {
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type("png", nullptr));
  if (!loader) return nullptr;
  const bool decoded = gdk_pixbuf_loader_write(loader.get(), png.data(), png.size(), nullptr);
  // Closed in every case: a loader finalised while open warns.
  const bool closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
  if (!decoded || !closed) return nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
  if (pixbuf == nullptr) return nullptr;
  return GObjectPtr<GdkPixbuf>(GDK_PIXBUF(g_object_ref(pixbuf)));
}

}  // namespace

GtkClipboardAccess::GtkClipboardAccess()
    : clipboard_(
          gtk_clipboard_get_for_display(gdk_display_get_default(), GDK_SELECTION_CLIPBOARD)) {}

bool GtkClipboardAccess::writeText(const std::string& text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return false;
  TargetListPtr targets(gtk_target_list_new(nullptr, 0));
  gtk_target_list_add_text_targets(targets.get(), kTextInfo);
  auto offer = std::make_unique<Offer>();
  offer->text = text;
  return own(clipboard_, targets, std::move(offer));
}

bool GtkClipboardAccess::writeImage(const Bytes& png) {
  auto offer = std::make_unique<Offer>();
  offer->pixbuf = decodePng(png);
  if (!offer->pixbuf) return false;
  offer->png = png;
  TargetListPtr targets(gtk_target_list_new(nullptr, 0));
  // image/png first and served as given; the other types are converted.
  gtk_target_list_add(targets.get(), gdk_atom_intern_static_string("image/png"), 0, kPngInfo);
  gtk_target_list_add_image_targets(targets.get(), kImageInfo, TRUE);
  return own(clipboard_, targets, std::move(offer));
}

bool GtkClipboardAccess::writeFileUrls(const std::vector<std::filesystem::path>& paths) {
  if (paths.empty()) return false;
  auto offer = std::make_unique<Offer>();
  offer->gnomeFiles = "copy";
  for (const auto& path : paths) {
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
    if (failed) return false;
    GError* raw = nullptr;
    GTextPtr uri(g_filename_to_uri(absolute.c_str(), nullptr, &raw));
    GErrorPtr error(raw);
    if (!uri) return false;
    offer->uriList += std::string(uri.get()) + "\r\n";
    offer->gnomeFiles += "\n" + std::string(uri.get());
    GTextPtr display(g_filename_display_name(path.c_str()));
    offer->text += (offer->text.empty() ? "" : "\n") + std::string(display.get());
  }
  TargetListPtr targets(gtk_target_list_new(nullptr, 0));
  gtk_target_list_add(targets.get(), gdk_atom_intern_static_string("x-special/gnome-copied-files"),
                      0, kGnomeFilesInfo);
  gtk_target_list_add(targets.get(), gdk_atom_intern_static_string("text/uri-list"), 0,
                      kUriListInfo);
  gtk_target_list_add_text_targets(targets.get(), kTextInfo);
  return own(clipboard_, targets, std::move(offer));
}

std::optional<std::string> GtkClipboardAccess::readText() {
  GTextPtr text(gtk_clipboard_wait_for_text(clipboard_));
  if (!text) return std::nullopt;
  return std::string(text.get());
}

}  // namespace glimmet
