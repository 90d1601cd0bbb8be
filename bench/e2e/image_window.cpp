// The baseline's viewer for bench_e2e: decodes a PNG with GdkPixbuf, shows it
// in a window, prints "drawn" once the first frame of the window has been
// drawn, and exits.
//
//   image_window <file.png>

#include <gtk/gtk.h>

#include <cstdio>

namespace {

gboolean drawn(GtkWidget*, cairo_t*, gpointer) {
  static bool reported = false;
  if (!reported) {
    reported = true;
    std::puts("drawn");
    std::fflush(stdout);
    g_idle_add(
        [](gpointer) -> gboolean {
          gtk_main_quit();
          return G_SOURCE_REMOVE;
        },
        nullptr);
  }
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || !gtk_init_check(&argc, &argv)) return 2;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* image = gtk_image_new_from_file(argv[1]);
  gtk_container_add(GTK_CONTAINER(window), image);
  g_signal_connect_after(image, "draw", G_CALLBACK(drawn), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
