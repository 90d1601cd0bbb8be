#include "platform/gtk/gtk_clipboard_access.h"

#include <gtk/gtk.h>

#include "platform/gtk/display_support.h"

namespace glimmet {
namespace {

using testing::gtkReady;

GtkClipboard* systemClipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

// A 3×2 RGBA image with distinct pixels, as PNG bytes.
Bytes samplePng() {
  GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2));
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
  const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 12; ++x) pixels[y * stride + x] = static_cast<guchar>(40 * y + 20 * x + 1);
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "png", nullptr, nullptr));
  const GTextPtr owned(buffer);
  return Bytes(buffer, buffer + size);
}

TEST(GtkClipboardAccessTest, TextRoundTripsAndRefusesInvalidUtf8) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkClipboardAccess clipboard;
  EXPECT_EQ(clipboard.readText(), std::nullopt);
  const std::string text = "生成完成 ✓\nline two";
  ASSERT_TRUE(clipboard.writeText(text));
  EXPECT_EQ(clipboard.readText(), text);
  EXPECT_FALSE(clipboard.writeText("bad \xff byte"));
  EXPECT_EQ(clipboard.readText(), text);
}

TEST(GtkClipboardAccessTest, ImageIsOfferedAsGivenAndAsPixbuf) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkClipboardAccess clipboard;
  const Bytes png = samplePng();
  ASSERT_TRUE(clipboard.writeImage(png));
  EXPECT_EQ(clipboard.readText(), std::nullopt);

  GPtr<GtkSelectionData, gtk_selection_data_free> raw(
      gtk_clipboard_wait_for_contents(systemClipboard(), gdk_atom_intern("image/png", FALSE)));
  ASSERT_TRUE(raw);
  const guchar* data = gtk_selection_data_get_data(raw.get());
  EXPECT_EQ(Bytes(data, data + gtk_selection_data_get_length(raw.get())), png);

  GObjectPtr<GdkPixbuf> image(gtk_clipboard_wait_for_image(systemClipboard()));
  ASSERT_TRUE(image);
  EXPECT_EQ(gdk_pixbuf_get_width(image.get()), 3);
  EXPECT_EQ(gdk_pixbuf_get_height(image.get()), 2);
  EXPECT_EQ(gdk_pixbuf_get_pixels(image.get())[gdk_pixbuf_get_rowstride(image.get()) + 5], 141);

  // Bytes that are not a PNG leave the clipboard as it was.
  EXPECT_FALSE(clipboard.writeImage(Bytes{0x89, 'P', 'N', 'G', 0, 1, 2}));
  EXPECT_TRUE(gtk_clipboard_wait_is_image_available(systemClipboard()));
}

TEST(GtkClipboardAccessTest, FilesAreOfferedAsUrisAndPaths) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkClipboardAccess clipboard;
  ASSERT_TRUE(clipboard.writeFileUrls({"/tmp/a b.png", "/tmp/图.png"}));
  GPtr<gchar*, g_strfreev> uris(gtk_clipboard_wait_for_uris(systemClipboard()));
  ASSERT_TRUE(uris);
  EXPECT_STREQ(uris.get()[0], "file:///tmp/a%20b.png");
  EXPECT_STREQ(uris.get()[1], "file:///tmp/%E5%9B%BE.png");
  EXPECT_EQ(uris.get()[2], nullptr);
  EXPECT_EQ(clipboard.readText(), "/tmp/a b.png\n/tmp/图.png");

  GPtr<GtkSelectionData, gtk_selection_data_free> copied(gtk_clipboard_wait_for_contents(
      systemClipboard(), gdk_atom_intern("x-special/gnome-copied-files", FALSE)));
  ASSERT_TRUE(copied);
  const auto* bytes = reinterpret_cast<const char*>(gtk_selection_data_get_data(copied.get()));
  EXPECT_EQ(std::string(bytes, gtk_selection_data_get_length(copied.get())),
            "copy\nfile:///tmp/a%20b.png\nfile:///tmp/%E5%9B%BE.png");
  EXPECT_FALSE(clipboard.writeFileUrls({}));
}

}  // namespace
}  // namespace glimmet
