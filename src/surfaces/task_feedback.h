#pragma once

// Task feedback on the status-bar button. The page reports each generation
// task as it works and ends; the report passes through a small state machine
// that accepts each task's end exactly once and refuses late or foreign
// reports, so a duplicate "done" or the result of an abandoned task never
// rings twice or marks the wrong task. While a task works the status icon
// turns (one full turn per 1.2 s, redrawn every 50 ms); when it ends the
// button shows a mark and, if the page asks, the completion chime plays.
// Main thread only.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "core/clock.h"
#include "platform/desktop_appearance.h"
#include "platform/sound.h"
#include "platform/status_button.h"

namespace glimmet {

// What a task report did: whether it was taken, whether it completed a task
// (a new work is ready) and whether the compact task notice should show.
struct TaskTransition {
  bool accepted = false;
  bool completion = false;
  bool notice = false;

  bool operator==(const TaskTransition&) const = default;
};

// The accept-once state machine, a plain value.
struct PlumoraTaskFeedbackState {
  // "idle", "working", "done" or "error".
  std::string phase = "idle";
  // The task the phase belongs to, as the page wrote its id.
  std::optional<std::string> taskID;
  // Every task id that reached "done" or "error"; only grows.
  std::set<std::string> terminal;

  // Applies a reported phase for the task `id` (a UUID in either letter case;
  // "idle" needs none).
  TaskTransition apply(const std::string& reported, const std::optional<std::string>& id);
};

class PlumoraTaskFeedback {
 public:
  // The chime's file name in the resources directory.
  static constexpr const char* kChimeFile = "PlumoraComplete.wav";
  static constexpr double kChimeVolume = 0.8;
  // What assistive technology hears for the turning icon.
  static constexpr const char* kWorkingDescription = "Glimmet 正在生成";

  // `chime` is the completion sound's file (resources / kChimeFile).
  PlumoraTaskFeedback(Clock& clock, Sound& sound, const DesktopAppearance& appearance,
                      std::filesystem::path chime);
  ~PlumoraTaskFeedback();
  PlumoraTaskFeedback(const PlumoraTaskFeedback&) = delete;
  PlumoraTaskFeedback& operator=(const PlumoraTaskFeedback&) = delete;

  // Shows feedback on `button` from now on; once the button is gone, titles,
  // tool tips and icons are skipped.
  void attach(std::weak_ptr<StatusButton> button);
  // Applies a task report and shows it; answers the transition unchanged so
  // that the caller can act on `notice`. A refused report changes nothing.
  TaskTransition update(const std::string& phase, const std::optional<std::string>& taskID,
                        bool audible);
  // Plays the chime once, replacing one that still plays.
  void playSound();
  // Stops the animation and the chime (at shutdown).
  void stop();

  // "idle", "playing", "finished", "interrupted", "play-failed" or "missing-resource".
  const std::string& soundStatus() const { return soundStatus_; }
  // Chimes that started playing.
  int soundPlayCount() const { return soundPlayCount_; }
  const PlumoraTaskFeedbackState& policy() const { return policy_; }
  bool isAnimating() const { return timer_ != nullptr; }
  // Animation frames drawn since the icon started turning.
  std::int64_t frame() const { return frame_; }

 private:
  void startAnimation();
  void stopAnimation();
  void tick();

  Clock& clock_;
  Sound& sound_;
  const DesktopAppearance& appearance_;
  const std::filesystem::path chime_;
  std::weak_ptr<StatusButton> button_;
  std::shared_ptr<ScheduledWork> timer_;
  std::int64_t frame_ = 0;
  PlumoraTaskFeedbackState policy_;
  std::string soundStatus_ = "idle";
  int soundPlayCount_ = 0;
};

}  // namespace glimmet
