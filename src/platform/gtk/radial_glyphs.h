#pragma once

// The icons of the radial menu, drawn by the program rather than taken from
// the icon theme: themes name and shape these actions differently (or not at
// all), while drawn outlines keep one look and take the label colour, so they
// read on a light and on a dark ring alike.

#include <cairo.h>
#include <gdk/gdk.h>

#include <string_view>

namespace glimmet {

// Draws the symbol `name` in the `size` × `size` square at (x, y) in
// `colour`; false (and nothing drawn) for a name it does not know. Known:
// "sparkles", "square.grid.2x2", "photo.on.rectangle", "paintbrush.pointed",
// "slider.horizontal.3" and "text.quote".
bool drawRadialSymbol(cairo_t* cairo, std::string_view name, double x, double y, double size,
                      const GdkRGBA& colour);

}  // namespace glimmet
