#pragma once

// Starting at login the freedesktop.org way: a desktop entry for the program
// in $XDG_CONFIG_HOME/autostart, which every session manager reads. The entry
// runs the program from where it is installed; turning the option off removes
// it. An entry the user or another tool disabled (Hidden=true) counts as off.

#include <filesystem>
#include <string>

#include "platform/autostart.h"

namespace glimmet {

class XdgAutostart final : public Autostart {
 public:
  static constexpr const char* kEntryName = "glimmet.desktop";

  // `configHome` holds the autostart directory; `program` is what the entry runs.
  XdgAutostart(std::filesystem::path configHome, std::filesystem::path program);
  // The user's autostart directory, for this program where it runs from.
  static XdgAutostart standard();

  bool enabled() const override;
  bool setEnabled(bool enabled) override;

  // The entry's text: the program quoted as the desktop entry format asks.
  static std::string entryText(const std::filesystem::path& program);

 private:
  std::filesystem::path entry_;
  std::filesystem::path program_;
};

}  // namespace glimmet
