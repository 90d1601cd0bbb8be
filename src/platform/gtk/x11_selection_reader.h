#pragma once

// Reads the X11 PRIMARY selection (what the user last selected, in whichever
// application) as text, asynchronously, with a deadline: an owner that does
// not answer within kDeadlineMs counts as no selection, and its late answer is
// dropped. When the accessibility bus reports that the application's focused
// element is a password field, nothing is read. Main thread only; requires an
// initialised GTK.

#include "platform/gtk/atspi_focus_watch.h"
#include "platform/selection_reader.h"

namespace glimmet {

class X11SelectionReader final : public SelectionReader {
 public:
  static constexpr unsigned kDeadlineMs = 1500;

  void read(const RunningApplication& application, Completion done) override;
  const AtspiFocusWatch& focusWatch() const { return focus_; }

 private:
  AtspiFocusWatch focus_;
};

}  // namespace glimmet
