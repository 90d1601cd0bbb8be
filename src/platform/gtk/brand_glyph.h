#pragma once

// The program's brand glyph: an open ring with a four-pointed spark at its
// centre, drawn in one colour on a transparent ground so that it reads on
// light and dark bars alike, and turned about its centre by the task feedback.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

#include "core/glib_ptr.h"

namespace glimmet {

// The glyph's design size in pixels.
inline constexpr int kBrandGlyphSize = 20;

// Draws the glyph into the square (0, 0, size, size) of `cairo`, turned
// clockwise by `degrees` about its centre.
void drawBrandGlyph(cairo_t* cairo, double size, double degrees, const GdkRGBA& colour);

// The glyph as a `size` × `size` image with an alpha channel.
GObjectPtr<GdkPixbuf> brandGlyphImage(int size, double degrees, const GdkRGBA& colour);

}  // namespace glimmet
