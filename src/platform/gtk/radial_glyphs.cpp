#include "platform/gtk/radial_glyphs.h"

#include <array>
#include <initializer_list>
#include <numbers>

#include "surfaces/design.h"

namespace glimmet {

namespace {

// Outlines are drawn on a 24-unit grid.
constexpr double kGrid = 24;

void roundedRectangle(cairo_t* cairo, double x, double y, double width, double height,
                      double radius) {
  constexpr double quarter = std::numbers::pi / 2;
  cairo_new_sub_path(cairo);
  cairo_arc(cairo, x + width - radius, y + radius, radius, -quarter, 0);
  cairo_arc(cairo, x + width - radius, y + height - radius, radius, 0, quarter);
  cairo_arc(cairo, x + radius, y + height - radius, radius, quarter, 2 * quarter);
  cairo_arc(cairo, x + radius, y + radius, radius, 2 * quarter, 3 * quarter);
  cairo_close_path(cairo);
}

// An open line through `points`, added to the path.
void polyline(cairo_t* cairo, std::initializer_list<std::array<double, 2>> points) {
  bool first = true;
  for (const auto& [x, y] : points) {
    if (first) {
      cairo_move_to(cairo, x, y);
    } else {
      cairo_line_to(cairo, x, y);
    }
    first = false;
  }
}

// A four-pointed star with concave sides, filled.
void spark(cairo_t* cairo, double cx, double cy, double reach) {
  const double waist = reach * 0.22;
  cairo_move_to(cairo, cx, cy - reach);
  cairo_curve_to(cairo, cx + waist, cy - waist, cx + waist, cy - waist, cx + reach, cy);
  cairo_curve_to(cairo, cx + waist, cy + waist, cx + waist, cy + waist, cx, cy + reach);
  cairo_curve_to(cairo, cx - waist, cy + waist, cx - waist, cy + waist, cx - reach, cy);
  cairo_curve_to(cairo, cx - waist, cy - waist, cx - waist, cy - waist, cx, cy - reach);
  cairo_close_path(cairo);
  cairo_fill(cairo);
}

void sparkles(cairo_t* cairo) {
  spark(cairo, 10, 14, 8);
  spark(cairo, 19, 5, 3.6);
  spark(cairo, 19.5, 19.5, 2.4);
}

void squareGrid(cairo_t* cairo) {
  for (const double x : {3.5, 13.5}) {
    for (const double y : {3.5, 13.5}) roundedRectangle(cairo, x, y, 7, 7, 2);
  }
  cairo_stroke(cairo);
}

void photoOnRectangle(cairo_t* cairo) {
  // The card behind: only its top and right edges show.
  cairo_move_to(cairo, 6.5, 5.5);
  cairo_line_to(cairo, 19, 5.5);
  cairo_arc(cairo, 19, 7.5, 2, -std::numbers::pi / 2, 0);
  cairo_line_to(cairo, 21, 16);
  cairo_stroke(cairo);
  // The photo in front: a frame, a mountain and a sun.
  roundedRectangle(cairo, 2.5, 9, 15, 11.5, 2);
  cairo_stroke(cairo);
  polyline(cairo, {{3, 19}, {8, 14}, {11.5, 17.5}, {13.5, 15.5}, {17, 19}});
  cairo_stroke(cairo);
  cairo_arc(cairo, 13, 12.6, 1.3, 0, 2 * std::numbers::pi);
  cairo_fill(cairo);
}

void paintbrushPointed(cairo_t* cairo) {
  // The handle, from the upper right down to the ferrule.
  polyline(cairo, {{21, 3}, {12.5, 11.5}});
  cairo_stroke(cairo);
  roundedRectangle(cairo, 10.2, 10.8, 3.6, 3.6, 1);
  cairo_stroke(cairo);
  // The pointed bristles, filled.
  cairo_move_to(cairo, 10.4, 13.6);
  cairo_curve_to(cairo, 6.5, 13.8, 5.5, 17, 3, 21);
  cairo_curve_to(cairo, 7, 18.5, 10.2, 17.5, 10.4, 13.6);
  cairo_close_path(cairo);
  cairo_fill_preserve(cairo);
  cairo_stroke(cairo);
}

void sliderHorizontal(cairo_t* cairo) {
  constexpr std::array<std::array<double, 2>, 3> knobs = {{{8, 6}, {16, 12}, {11, 18}}};
  for (const auto& [x, y] : knobs) {
    polyline(cairo, {{3, y}, {x - 2.6, y}});
    polyline(cairo, {{x + 2.6, y}, {21, y}});
    cairo_stroke(cairo);
    cairo_arc(cairo, x, y, 2.6, 0, 2 * std::numbers::pi);
    cairo_stroke(cairo);
  }
}

void textQuote(cairo_t* cairo) {
  // Two opening quotation marks, then three lines of text.
  for (const double x : {4.5, 10.0}) {
    cairo_arc(cairo, x, 6.5, 2, 0, 2 * std::numbers::pi);
    cairo_fill(cairo);
    cairo_move_to(cairo, x - 1.8, 7);
    cairo_curve_to(cairo, x - 2, 9.5, x - 0.5, 11, x + 1.2, 11.5);
    cairo_stroke(cairo);
  }
  polyline(cairo, {{15, 6}, {21, 6}});
  polyline(cairo, {{3, 14}, {21, 14}});
  polyline(cairo, {{3, 19.5}, {15, 19.5}});
  cairo_stroke(cairo);
}

}  // namespace

bool drawRadialSymbol(cairo_t* cairo, std::string_view name, double x, double y, double size,
                      const GdkRGBA& colour) {
  using Draw = void (*)(cairo_t*);
  constexpr std::array<std::pair<std::string_view, Draw>, 6> symbols = {{
      {"sparkles", sparkles},
      {"square.grid.2x2", squareGrid},
      {"photo.on.rectangle", photoOnRectangle},
      {"paintbrush.pointed", paintbrushPointed},
      {"slider.horizontal.3", sliderHorizontal},
      {"text.quote", textQuote},
  }};
  for (const auto& [known, draw] : symbols) {
    if (known != name) continue;
    cairo_save(cairo);
    cairo_translate(cairo, x, y);
    cairo_scale(cairo, size / kGrid, size / kGrid);
    gdk_cairo_set_source_rgba(cairo, &colour);
    cairo_set_line_width(cairo, PlumoraDesign::iconStroke);
    cairo_set_line_cap(cairo, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cairo, CAIRO_LINE_JOIN_ROUND);
    draw(cairo);
    cairo_restore(cairo);
    return true;
  }
  return false;
}

}  // namespace glimmet
