#include "platform/linux/xdg_autostart.h"

#include <string>

#include "core/files.h"

namespace glimmet {

namespace {

// An entry larger than this is not one of ours; it is read as far as needed.
constexpr std::size_t kMaxEntryBytes = 64 * 1024;

// The Exec key's quoting: the whole path in double quotes, with the
// characters that keep a meaning inside them escaped, and "%" doubled
// because field codes start with it.
std::string quotedExec(const std::string& program) {
  std::string quoted = "\"";
  for (const char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += "\\\\";
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

XdgAutostart::XdgAutostart(std::filesystem::path configHome, std::filesystem::path program)
    : entry_(configHome / "autostart" / kEntryName), program_(std::move(program)) {}

XdgAutostart XdgAutostart::standard() {
  return XdgAutostart(userConfigHome(), runningProgram().value_or("glimmet"));
}

std::string XdgAutostart::entryText(const std::filesystem::path& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Glimmet\n"
         "Comment=选中文字或图片，开始创作\n"
         "Exec=" +
         quotedExec(program.string()) +
         "\n"
         "Icon=glimmet\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostart::enabled() const {
  try {
    const std::string text = readRegularFileNoFollow(entry_, kMaxEntryBytes, "");
    return text.find("\nHidden=true") == std::string::npos;
  } catch (const std::exception&) {
    return false;
  }
}

bool XdgAutostart::setEnabled(bool enabled) {
  try {
    if (enabled) {
      std::filesystem::create_directories(entry_.parent_path());
      writeFileAtomically(entry_, entryText(program_), 0644);
    } else {
      std::filesystem::remove(entry_);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace glimmet
