#pragma once

// Points and rectangles of the desktop, in logical pixels with the origin at
// the top-left corner and y growing downwards, as X11 and GTK measure them.
// Screen positions are in the coordinates of the whole desktop; positions
// inside a window are relative to its top-left corner.

namespace glimmet {

struct Point {
  double x = 0;
  double y = 0;

  bool operator==(const Point&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  double midX() const { return x + width / 2; }

  // Half-open on both axes, so an empty rectangle contains nothing and two
  // rectangles that share an edge never both contain a point on it.
  bool contains(Point p) const { return p.x >= x && p.y >= y && p.x < maxX() && p.y < maxY(); }

  bool operator==(const Rect&) const = default;
};

}  // namespace glimmet
