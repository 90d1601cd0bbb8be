// Another application for the capture tests: a window whose user has selected
// the text given on the command line, so that it owns the PRIMARY selection.
// With "--password" the window's focused entry is a password field. It prints
// "ready" once it owns the selection, moves the focus out of the entry and back
// for each line on its standard input and ends when that input closes.

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

GtkWidget* entry = nullptr;
GtkWidget* other = nullptr;

gboolean inputReady(GIOChannel* input, GIOCondition, gpointer) {
  gchar* line = nullptr;
  if (g_io_channel_read_line(input, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
  }
  g_free(line);
  gtk_widget_grab_focus(other);
  gtk_widget_grab_focus(entry);
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  g_set_prgname("selection-owner");
  gtk_init(&argc, &argv);
  if (argc < 2) return 2;
  const bool password = argc > 2 && std::strcmp(argv[2], "--password") == 0;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "selection owner");
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(entry), !password);
  other = gtk_button_new_with_label("other");
  gtk_container_add(GTK_CONTAINER(box), entry);
  gtk_container_add(GTK_CONTAINER(box), other);
  gtk_container_add(GTK_CONTAINER(window), box);
  gtk_widget_show_all(window);
  gtk_widget_grab_focus(entry);
  gtk_window_present(GTK_WINDOW(window));
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), argv[1], -1);
  std::puts("ready");
  std::fflush(stdout);

  GIOChannel* input = g_io_channel_unix_new(STDIN_FILENO);
  g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), inputReady,
                 nullptr);
  g_io_channel_unref(input);
  gtk_main();
  return 0;
}
