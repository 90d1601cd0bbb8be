#pragma once

// Whether this program is the one the user works in (one of its windows has
// the focus), and the way to become it. Main thread only.

namespace glimmet {

class ApplicationActivity {
 public:
  virtual ~ApplicationActivity() = default;

  virtual bool isActive() const = 0;
  // Brings this program forward, taking the focus from whichever application had it.
  virtual void activate() = 0;
};

}  // namespace glimmet
