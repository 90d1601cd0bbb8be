#pragma once

// A pop-up menu opened by the page at a point of the web view. Asynchronous:
// `popUp` returns at once and the completion runs exactly once, later, on the
// main thread, with the index of the chosen item or none when the menu was
// dismissed. A new pop-up dismisses one that is still open. Main thread only.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace glimmet {

struct PopUpMenuItem {
  std::string title;
  // A monochrome icon file drawn in the menu's text colour; none shows no icon.
  std::optional<std::filesystem::path> icon;
};

struct PopUpMenuRequest {
  std::vector<PopUpMenuItem> items;
  // The item shown checked, if any.
  std::optional<std::size_t> checked;
  // Where the menu opens, in web view coordinates (top-left origin).
  Point location;
  // Font size in points of the item titles.
  double fontSize = 12;
  // Icon size in points.
  double iconSize = 14;
};

class PopUpMenu {
 public:
  using Completion = std::function<void(std::optional<std::size_t> chosen)>;

  virtual ~PopUpMenu() = default;
  virtual void popUp(const PopUpMenuRequest& request, Completion completion) = 0;
};

}  // namespace glimmet
