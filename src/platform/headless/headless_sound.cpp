#include "platform/headless/headless_sound.h"

#include <system_error>

namespace glimmet {

Sound::PlayStatus HeadlessSound::play(const std::filesystem::path& file, double volume,
                                      Completion completion) {
  plays_.push_back({file, volume});
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return PlayStatus::missingResource;
  stop();
  if (!deviceAvailable_) return PlayStatus::failed;
  playing_ = true;
  completion_ = std::move(completion);
  return PlayStatus::playing;
}

void HeadlessSound::stop() {
  playing_ = false;
  completion_ = nullptr;
}

bool HeadlessSound::end(bool finished) {
  if (!playing_) return false;
  // Cleared before the call: the completion runs once and may start the next sound.
  Completion completion = std::move(completion_);
  stop();
  if (completion) completion(finished);
  return true;
}

}  // namespace glimmet
