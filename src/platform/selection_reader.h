#pragma once

// What the user has selected in the application they work in. On X11 that is
// the PRIMARY selection, which any client may read; the accessibility bus, where
// it runs, tells whether the focused element is a password field. Main thread
// only.

#include <functional>
#include <optional>
#include <string>

#include "platform/workspace.h"

namespace glimmet {

struct SelectedContent {
  // The selected text; none when nothing could be read.
  std::optional<std::string> text;
  // The focused element is a password field: `text` is never read then.
  bool secureField = false;
};

class SelectionReader {
 public:
  using Completion = std::function<void(SelectedContent)>;

  virtual ~SelectionReader() = default;

  // Reads the selection of `application` now; `done` runs exactly once on the
  // main queue, possibly before this returns.
  virtual void read(const RunningApplication& application, Completion done) = 0;
};

}  // namespace glimmet
