#include "surfaces/task_feedback.h"

#include <gtest/gtest.h>

#include "platform/headless/headless_desktop_appearance.h"
#include "platform/headless/headless_sound.h"
#include "platform/headless/headless_status_button.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

const std::string kA = "0E8F5A6C-1B2D-4C3E-9F40-5A6B7C8D9E0F";
const std::string kB = "5b3c2d1e-0f9a-4b8c-a7d6-e5f4a3b2c1d0";

struct Report {
  std::string phase;
  std::optional<std::string> id;
  TaskTransition expected;
};

constexpr TaskTransition kRefused{false, false, false};
constexpr TaskTransition kTaken{true, false, false};

TEST(TaskFeedbackState, AcceptsEachTaskEndOnceAndRefusesLateOrForeignReports) {
  const std::vector<std::vector<Report>> scenarios = {
      {{"done", kA, kRefused},  // an end without a start
       {"working", kA, kTaken},
       {"done", kB, kRefused},     // another task's end
       {"working", kB, kRefused},  // one task at a time
       {"working", kA, kTaken},
       {"done", kA, {true, true, true}},
       {"done", kA, kTaken},  // duplicate: no second completion
       {"idle", "not an id", kTaken},
       {"done", kA, kRefused},      // no longer the current end
       {"working", kA, kRefused}},  // an ended task never works again
      {{"working", kB, kTaken}, {"error", kB, {true, false, true}}, {"working", kA, kTaken}},
      {{"working", "task-1", kRefused}, {"paused", kA, kRefused}, {"idle", std::nullopt, kTaken}},
  };
  for (std::size_t s = 0; s < scenarios.size(); ++s) {
    PlumoraTaskFeedbackState state;
    for (std::size_t r = 0; r < scenarios[s].size(); ++r) {
      const Report& report = scenarios[s][r];
      EXPECT_EQ(state.apply(report.phase, report.id), report.expected)
          << "scenario " << s << " report " << r << ": " << report.phase;
    }
  }
}

class TaskFeedbackTest : public ::testing::Test {
 protected:
  TaskFeedbackTest() {
    testing::writeFile(chime_, "RIFF");
    feedback_.attach(button_);
  }

  testing::TempDir dir_;
  const std::filesystem::path chime_ = dir_ / PlumoraTaskFeedback::kChimeFile;
  ManualClock clock_;
  HeadlessSound sound_;
  HeadlessDesktopAppearance appearance_;
  std::shared_ptr<HeadlessStatusButton> button_ = std::make_shared<HeadlessStatusButton>();
  PlumoraTaskFeedback feedback_{clock_, sound_, appearance_, chime_};
};

TEST_F(TaskFeedbackTest, TurnsTheIconWhileWorkingAndMarksTheEndWithOneChime) {
  feedback_.update("working", kA, true);
  EXPECT_EQ(button_->icons().back(), (HeadlessStatusButton::Icon{false, 15, "Glimmet 正在生成"}));

  EXPECT_EQ(feedback_.update("done", kA, true), (TaskTransition{true, true, true}));
  EXPECT_EQ(button_->titles().back(), " \u2022");
  EXPECT_EQ(button_->toolTips().back(), "新作品已就绪");
  EXPECT_TRUE(button_->icons().back().resting);
  EXPECT_EQ(clock_.pendingCount(), 0u);
  EXPECT_EQ(sound_.plays().size(), 1u);
  feedback_.update("done", kA, true);  // duplicate: acknowledged, silent
  EXPECT_EQ(sound_.plays().size(), 1u);
}

TEST_F(TaskFeedbackTest, ShowsEachEndWithoutSoundWhenNotAudibleOrAfterAnError) {
  feedback_.update("working", kA, false);
  feedback_.update("done", kA, false);
  feedback_.update("working", kB, true);
  EXPECT_EQ(feedback_.update("error", kB, true), (TaskTransition{true, false, true}));
  EXPECT_EQ(button_->titles(), (std::vector<std::string>{"", " \u2022", "", " !"}));
  EXPECT_EQ(button_->toolTips().back(), "图片生成失败，点击查看");
  EXPECT_TRUE(sound_.plays().empty());

  feedback_.update("idle", std::nullopt, false);
  EXPECT_EQ(button_->titles().back(), "");
  EXPECT_EQ(button_->toolTips().back(), "Glimmet");
}

TEST_F(TaskFeedbackTest, RefusedReportsAndReducedMotionLeaveTheIconAlone) {
  EXPECT_FALSE(feedback_.update("done", kA, true).accepted);
  EXPECT_TRUE(button_->titles().empty());

  appearance_.setReducesMotion(true);
  feedback_.update("working", kA, true);
  EXPECT_EQ(button_->toolTips().back(), "Glimmet 正在生成");
  EXPECT_TRUE(button_->icons().empty());
}

// The settings' sound preview is told whether the chime plays.
TEST_F(TaskFeedbackTest, AChimeThatCannotPlayIsNotReportedAsPlaying) {
  feedback_.playSound();
  EXPECT_EQ(feedback_.soundStatus(), "playing");
  feedback_.stop();
  EXPECT_FALSE(sound_.isPlaying());

  sound_.setDeviceAvailable(false);
  feedback_.playSound();
  EXPECT_EQ(feedback_.soundStatus(), "play-failed");
  sound_.setDeviceAvailable(true);
  std::filesystem::remove(chime_);
  feedback_.playSound();
  EXPECT_EQ(feedback_.soundStatus(), "missing-resource");
}

}  // namespace
}  // namespace glimmet
