#pragma once

// Follows which element has the keyboard focus, through the accessibility bus
// (AT-SPI), so that a capture can tell a password field and leave its
// selection unread. It watches only where the session's accessibility bus
// answers (desktops start it; none runs under a bare X server), and it learns
// of a focus when the focus moves: an element focused before the program
// started is unknown until the focus next moves. Main thread only.

#include <sys/types.h>

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEvent AtspiEvent;
typedef struct _AtspiEventListener AtspiEventListener;

namespace glimmet {

class AtspiFocusWatch {
 public:
  AtspiFocusWatch();
  ~AtspiFocusWatch();
  AtspiFocusWatch(const AtspiFocusWatch&) = delete;
  AtspiFocusWatch& operator=(const AtspiFocusWatch&) = delete;

  // Whether the accessibility bus answered and focus changes are heard.
  bool watching() const { return listener_ != nullptr; }
  // Whether the element focused last belongs to process `pid` and is a password field.
  bool passwordFieldFocused(pid_t pid) const;

 private:
  static void focusChanged(AtspiEvent* event, void* self);

  AtspiEventListener* listener_ = nullptr;
  AtspiAccessible* focused_ = nullptr;
};

}  // namespace glimmet
