#include "surfaces/selection_capture.h"

#include <glib.h>

#include <system_error>
#include <utility>

#include "core/executors.h"
#include "core/files.h"
#include "core/glib_ptr.h"
#include "core/lifetime.h"
#include "core/text.h"
#include "imaging/image_gate.h"

namespace glimmet {

namespace fs = std::filesystem;

SelectionCapture::SelectionCapture(Accessibility& accessibility, SelectionReader& reader,
                                   pid_t self)
    : accessibility_(accessibility), reader_(reader), self_(self) {}

void SelectionCapture::capture(const std::optional<RunningApplication>& front, bool voice,
                               Completion done) {
  Json payload{
      {"text", ""}, {"voice", voice}, {"source", front ? front->localizedName : std::string()}};
  if (!front || front->pid == self_)
    return answerLater(lifetime_.guard(), std::move(payload), std::move(done));
  if (!accessibility_.isTrusted()) {
    payload["error"] = kNeedsPermission;
    return answerLater(lifetime_.guard(), std::move(payload), std::move(done));
  }
  reader_.read(*front, [this, alive = lifetime_.guard(), payload = std::move(payload),
                        done = std::move(done)](SelectedContent content) mutable {
    if (!alive.expired()) selected(std::move(content), std::move(payload), done);
  });
}

void SelectionCapture::selected(SelectedContent content, Json payload, const Completion& done) {
  const std::string text =
      content.secureField ? std::string() : std::move(content.text).value_or(std::string());
  if (std::optional<fs::path> file = fileReference(text)) {
    // Decoding an image of up to 10 MiB takes a moment: off the main thread.
    GlobalPool::shared().post([alive = lifetime_.guard(), file = std::move(*file),
                               payload = std::move(payload), done]() mutable {
      if (std::optional<std::string> image = imageDataURL(file)) {
        payload["image"] = std::move(*image);
      } else {
        payload["error"] = kUnreadableImage;
      }
      answerLater(std::move(alive), std::move(payload), done);
    });
    return;
  }
  if (text.empty()) {
    payload["error"] = kNothingSelected;
  } else {
    payload["text"] = text::graphemePrefix(text, kMaxTextLength);
  }
  done(std::move(payload));
}

void SelectionCapture::answerLater(LifetimeGuard alive, Json payload, Completion done) {
  MainQueue::shared().post(
      [payload = std::move(payload), done = std::move(done), alive = std::move(alive)]() mutable {
        if (!alive.expired()) done(std::move(payload));
      });
}

std::optional<fs::path> SelectionCapture::fileReference(const std::string& selection) {
  const std::string candidate = text::trimmed(selection);
  if (candidate.empty() || candidate.find_first_of("\r\n") != std::string::npos) {
    return std::nullopt;
  }
  if (candidate.rfind("file://", 0) == 0) {
    // A malformed URI still names a file the user chose: it reads as no image.
    GTextPtr path(g_filename_from_uri(candidate.c_str(), nullptr, nullptr));
    return path ? fs::path(path.get()) : fs::path();
  }
  std::error_code error;
  if (candidate.front() == '/' && fs::is_regular_file(candidate, error)) return fs::path(candidate);
  return std::nullopt;
}

std::optional<std::string> SelectionCapture::imageDataURL(const fs::path& file) {
  // Checked before opening, so that a named pipe is never opened and waited on.
  std::error_code error;
  if (file.empty() || !fs::is_regular_file(file, error)) return std::nullopt;
  try {
    const std::string bytes = readFileBounded(file, kMaxFileBytes, kUnreadableImage);
    return image_gate::pngDataURL(image_gate::decodeBytes(std::string_view(bytes)).data);
  } catch (const LocalAgentFailure&) {
    return std::nullopt;
  }
}

}  // namespace glimmet
