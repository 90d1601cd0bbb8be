// Saves the whole X screen as a PNG: the end-to-end test's screenshots show
// the panel over the desktop as a user sees it (a WebDriver screenshot holds
// only the page, and the page is transparent around its island).
//
//   screen_shot <file.png>

#include <gtk/gtk.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2 || !gtk_init_check(&argc, &argv)) return 2;
  GdkWindow* root = gdk_get_default_root_window();
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                               gdk_window_get_height(root));
  GError* error = nullptr;
  const bool saved = shot && gdk_pixbuf_save(shot, argv[1], "png", &error, nullptr);
  if (error) {
    std::fprintf(stderr, "screen_shot: %s\n", error->message);
    g_error_free(error);
  }
  if (shot) g_object_unref(shot);
  return saved ? 0 : 1;
}
