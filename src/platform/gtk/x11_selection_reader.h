#pragma once

// Reads the X11 PRIMARY selection (what the user last selected, in whichever
// application) as text, asynchronously, with a deadline: an owner that does
// not answer within kDeadlineMs counts as no selection, and its late answer is
// dropped. Main thread only; requires an initialised GTK.

#include <memory>

#include "platform/selection_reader.h"

namespace glimmet {

class X11SelectionReader final : public SelectionReader {
 public:
  static constexpr unsigned kDeadlineMs = 1500;

  void read(const RunningApplication& application, Completion done) override;
};

}  // namespace glimmet
