#include "platform/gtk/brand_glyph.h"

#include <cairo.h>

#include <numbers>

namespace glimmet {

namespace {

using CairoSurfacePtr = GPtr<cairo_surface_t, cairo_surface_destroy>;
using CairoPtr = GPtr<cairo_t, cairo_destroy>;

constexpr double radians(double degrees) { return degrees * std::numbers::pi / 180; }

}  // namespace

void drawBrandGlyph(cairo_t* cairo, double size, double degrees, const GdkRGBA& colour) {
  cairo_save(cairo);
  // Drawn on the 20-unit design grid, scaled to the requested size.
  cairo_scale(cairo, size / kBrandGlyphSize, size / kBrandGlyphSize);
  cairo_translate(cairo, 10, 10);
  cairo_rotate(cairo, radians(degrees));
  gdk_cairo_set_source_rgba(cairo, &colour);

  // The ring opens at the upper right, so a turn is visible.
  cairo_set_line_width(cairo, 1.6);
  cairo_set_line_cap(cairo, CAIRO_LINE_CAP_ROUND);
  cairo_new_sub_path(cairo);
  cairo_arc(cairo, 0, 0, 7.2, radians(-30), radians(-70) + 2 * std::numbers::pi);
  cairo_stroke(cairo);

  // The spark: four concave points.
  constexpr double reach = 4.2;
  constexpr double waist = 0.9;
  cairo_move_to(cairo, 0, -reach);
  cairo_curve_to(cairo, waist * 0.4, -waist, waist, -waist * 0.4, reach, 0);
  cairo_curve_to(cairo, waist, waist * 0.4, waist * 0.4, waist, 0, reach);
  cairo_curve_to(cairo, -waist * 0.4, waist, -waist, waist * 0.4, -reach, 0);
  cairo_curve_to(cairo, -waist, -waist * 0.4, -waist * 0.4, -waist, 0, -reach);
  cairo_close_path(cairo);
  cairo_fill(cairo);
  cairo_restore(cairo);
}

GObjectPtr<GdkPixbuf> brandGlyphImage(int size, double degrees, const GdkRGBA& colour) {
  CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
  {
    CairoPtr cairo(cairo_create(surface.get()));
    drawBrandGlyph(cairo.get(), size, degrees, colour);
  }
  cairo_surface_flush(surface.get());
  return GObjectPtr<GdkPixbuf>(gdk_pixbuf_get_from_surface(surface.get(), 0, 0, size, size));
}

}  // namespace glimmet
