#pragma once

// Reads what the user has selected in the application they work in, at the
// moment of the trigger and only then, into the capture payload the page
// receives: {"text", "voice", "source"} plus "image" or "error".
//
// On X11 the selection is the PRIMARY selection, which any client may read, so
// the program counts as trusted whenever its display is an X11 one; there is no
// permission to ask for. A password field is recognised through the
// accessibility bus where it runs, and its selection is never read. A selection
// that is exactly one file:// URI, or one absolute path of an existing regular
// file, is a file chosen in a file manager and is read as an image. The
// clipboard is never read here: an old clipboard must not pose as a selection.
// Main thread only.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/json.h"
#include "core/lifetime.h"
#include "platform/accessibility.h"
#include "platform/selection_reader.h"
#include "platform/workspace.h"

namespace glimmet {

class SelectionCapture {
 public:
  static constexpr std::size_t kMaxTextLength = 10'000;
  static constexpr std::uintmax_t kMaxFileBytes = 10'485'760;

  static constexpr const char* kNeedsPermission =
      "读取选中文字需要辅助功能权限。可在菜单栏设置中授权，也可直接粘贴或拖入。";
  static constexpr const char* kNothingSelected =
      "未读取到选区。可粘贴文字、粘贴图片或拖入图片。部分应用不支持读取选中内容。";
  static constexpr const char* kUnreadableImage =
      "请选择一张可读取且不超过 10 MB 的图片，或拖入创作窗口。";

  using Completion = std::function<void(Json payload)>;

  // `self` is this process: capturing over its own windows reads nothing.
  SelectionCapture(Accessibility& accessibility, SelectionReader& reader, pid_t self);

  // Captures from `front`, the frontmost application (none when there is
  // none). `done` runs exactly once, on the main queue, unless this capture
  // is destroyed first.
  void capture(const std::optional<RunningApplication>& front, bool voice, Completion done);

  // The file a selection names: one file:// URI, or one absolute path of an
  // existing regular file; none for any other text.
  static std::optional<std::filesystem::path> fileReference(const std::string& selection);
  // The file as a PNG data URL through the image gate; none when it is not a
  // regular image file within the limits.
  static std::optional<std::string> imageDataURL(const std::filesystem::path& file);

 private:
  void selected(SelectedContent content, Json payload, const Completion& done);
  // Runs `done` with `payload` in a later turn of the main queue, unless the
  // capture that `alive` stands for is gone by then. Any thread.
  static void answerLater(LifetimeGuard alive, Json payload, Completion done);

  Accessibility& accessibility_;
  SelectionReader& reader_;
  const pid_t self_;
  Lifetime lifetime_;
};

}  // namespace glimmet
