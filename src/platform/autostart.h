#pragma once

// Whether the program starts when the user logs in to the desktop.

namespace glimmet {

class Autostart {
 public:
  virtual ~Autostart() = default;

  virtual bool enabled() const = 0;
  // False when the change could not be made; the previous state holds then.
  virtual bool setEnabled(bool enabled) = 0;
};

}  // namespace glimmet
