#include "surfaces/task_feedback.h"

#include <utility>

#include "core/uuid.h"
#include "surfaces/design.h"

namespace glimmet {

namespace {

bool isEnd(const std::string& phase) { return phase == "done" || phase == "error"; }

const char* titleFor(const std::string& phase) {
  if (phase == "done") return " \u2022";
  if (phase == "error") return " !";
  return "";
}

const char* toolTipFor(const std::string& phase) {
  if (phase == "working") return PlumoraTaskFeedback::kWorkingDescription;
  if (phase == "done") return "新作品已就绪";
  if (phase == "error") return "图片生成失败，点击查看";
  return "Glimmet";
}

}  // namespace

TaskTransition PlumoraTaskFeedbackState::apply(const std::string& reported,
                                               const std::optional<std::string>& id) {
  constexpr TaskTransition refused{};
  if (reported != "idle" && reported != "working" && !isEnd(reported)) return refused;
  if (reported == "idle") {
    phase = "idle";
    taskID.reset();
    return {true, false, false};
  }
  if (!id || !Uuid::parse(*id)) return refused;

  if (reported == "working") {
    if (terminal.contains(*id)) return refused;
    // One task at a time: another task's start waits until this one ends.
    if (phase == "working" && taskID != id) return refused;
    phase = "working";
    taskID = id;
    return {true, false, false};
  }

  // A repeated end report is acknowledged only when it repeats the current end.
  if (terminal.contains(*id)) {
    return {phase == reported && taskID == id, false, false};
  }
  if (phase != "working" || taskID != id) return refused;
  phase = reported;
  terminal.insert(*id);
  return {true, reported == "done", true};
}

PlumoraTaskFeedback::PlumoraTaskFeedback(Clock& clock, Sound& sound,
                                         const DesktopAppearance& appearance,
                                         std::filesystem::path chime)
    : clock_(clock), sound_(sound), appearance_(appearance), chime_(std::move(chime)) {}

PlumoraTaskFeedback::~PlumoraTaskFeedback() { stop(); }

void PlumoraTaskFeedback::attach(std::weak_ptr<StatusButton> button) {
  button_ = std::move(button);
}

TaskTransition PlumoraTaskFeedback::update(const std::string& phase,
                                           const std::optional<std::string>& taskID, bool audible) {
  const TaskTransition result = policy_.apply(phase, taskID);
  if (!result.accepted) return result;

  const std::shared_ptr<StatusButton> button = button_.lock();
  if (button) {
    button->setTitle(titleFor(phase));
    button->setToolTip(toolTipFor(phase));
  }
  if (phase != "working") {
    stopAnimation();
    if (button) button->showRestingIcon();
    if (result.completion && audible) playSound();
    return result;
  }
  // A repeated "working" keeps the icon turning where it is.
  if (timer_ == nullptr && !appearance_.reducesMotion()) startAnimation();
  return result;
}

void PlumoraTaskFeedback::playSound() {
  const Sound::PlayStatus status = sound_.play(chime_, kChimeVolume, [this](bool finished) {
    soundStatus_ = finished ? "finished" : "interrupted";
  });
  switch (status) {
    case Sound::PlayStatus::playing:
      soundStatus_ = "playing";
      ++soundPlayCount_;
      break;
    case Sound::PlayStatus::missingResource:
      soundStatus_ = "missing-resource";
      break;
    case Sound::PlayStatus::failed:
      soundStatus_ = "play-failed";
      break;
  }
}

void PlumoraTaskFeedback::stop() {
  stopAnimation();
  sound_.stop();
  // Stopping runs no completion; the chime did not play to its end.
  if (soundStatus_ == "playing") soundStatus_ = "interrupted";
}

void PlumoraTaskFeedback::startAnimation() {
  frame_ = 0;
  tick();
}

void PlumoraTaskFeedback::stopAnimation() {
  if (timer_ == nullptr) return;
  timer_->cancel();
  timer_.reset();
}

void PlumoraTaskFeedback::tick() {
  // The next frame is scheduled first so the animation keeps its pace; the
  // destructor cancels it, so `this` outlives every scheduled tick.
  timer_ = clock_.after(PlumoraDesign::Motion::statusFrame, [this] { tick(); });
  const std::shared_ptr<StatusButton> button = button_.lock();
  if (!button) return;
  ++frame_;
  const double degrees = static_cast<double>(frame_) *
                         static_cast<double>(PlumoraDesign::Motion::statusFrame.count()) /
                         static_cast<double>(PlumoraDesign::Motion::logoSpin.count()) * 360.0;
  button->showTurnedIcon(degrees, kWorkingDescription);
}

}  // namespace glimmet
