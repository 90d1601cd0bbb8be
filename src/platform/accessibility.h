#pragma once

// Whether the program may read what the user selects in other applications,
// and the way to ask the user for it. On X11 the selection is readable once a
// display is open; the request turns on the desktop's accessibility support or
// opens its settings. Main thread only.

namespace glimmet {

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  virtual bool isTrusted() const = 0;
  // Asks for access; the answer may arrive only after the user acted.
  virtual void requestTrust() = 0;
};

}  // namespace glimmet
