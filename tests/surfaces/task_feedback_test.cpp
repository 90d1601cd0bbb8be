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
      {{"working", kB, kTaken},
       {"error", kB, {true, false, true}},
       {"error", kB, kTaken},
       {"done", kB, kRefused},
       {"working", kA, kTaken}},
      {{"working", std::nullopt, kRefused},
       {"working", "task-1", kRefused},
       {"paused", kA, kRefused},
       {"idle", std::nullopt, kTaken}},
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
  EXPECT_EQ(button_->toolTips().back(), "Glimmet 正在生成");
  EXPECT_EQ(button_->titles().back(), "");
  EXPECT_EQ(button_->icons().back(), (HeadlessStatusButton::Icon{false, 15, "Glimmet 正在生成"}));

  clock_.advance(std::chrono::milliseconds(50 * 23));
  EXPECT_EQ(button_->icons().back().degrees, 360);  // one turn in 1.2 s

  feedback_.update("working", kA, true);  // keeps turning where it is
  clock_.advance(std::chrono::milliseconds(50));
  EXPECT_EQ(feedback_.frame(), 25);

  EXPECT_EQ(feedback_.update("done", kA, true), (TaskTransition{true, true, true}));
  EXPECT_EQ(button_->titles().back(), " \u2022");
  EXPECT_EQ(button_->toolTips().back(), "新作品已就绪");
  EXPECT_TRUE(button_->icons().back().resting);
  EXPECT_FALSE(feedback_.isAnimating());
  EXPECT_EQ(clock_.pendingCount(), 0u);
  ASSERT_EQ(sound_.plays().size(), 1u);
  EXPECT_EQ(sound_.plays()[0].file, chime_);
  EXPECT_EQ(sound_.plays()[0].volume, 0.8);
  EXPECT_EQ(feedback_.soundStatus(), "playing");

  feedback_.update("done", kA, true);  // duplicate: acknowledged, silent
  EXPECT_EQ(sound_.plays().size(), 1u);
  EXPECT_EQ(feedback_.soundPlayCount(), 1);

  const std::size_t iconsBefore = button_->icons().size();
  EXPECT_TRUE(feedback_.update("working", kB, true).accepted);
  EXPECT_TRUE(feedback_.isAnimating());
  EXPECT_EQ(button_->icons().size(), iconsBefore + 1);
  EXPECT_EQ(button_->icons().back().degrees, 15);  // a new task starts from the first frame
}

TEST_F(TaskFeedbackTest, ShowsEachEndWithoutSoundWhenNotAudibleOrAfterAnError) {
  feedback_.update("working", kA, false);
  feedback_.update("done", kA, false);
  feedback_.update("working", kB, true);
  EXPECT_EQ(feedback_.update("error", kB, true), (TaskTransition{true, false, true}));
  EXPECT_EQ(button_->titles(), (std::vector<std::string>{"", " \u2022", "", " !"}));
  EXPECT_EQ(button_->toolTips().back(), "图片生成失败，点击查看");
  EXPECT_TRUE(sound_.plays().empty());
  EXPECT_EQ(feedback_.soundStatus(), "idle");

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
  EXPECT_FALSE(feedback_.isAnimating());
}

TEST_F(TaskFeedbackTest, KeepsWorkingWhenTheButtonIsGone) {
  button_.reset();
  EXPECT_TRUE(feedback_.update("working", kA, true).accepted);
  clock_.advance(std::chrono::milliseconds(200));
  EXPECT_EQ(feedback_.update("done", kA, true), (TaskTransition{true, true, true}));
  EXPECT_EQ(feedback_.soundStatus(), "playing");
}

TEST_F(TaskFeedbackTest, RecordsHowEachChimeWent) {
  feedback_.playSound();
  sound_.finish();
  EXPECT_EQ(feedback_.soundStatus(), "finished");

  feedback_.playSound();
  feedback_.playSound();  // replaces the first, whose completion never runs
  sound_.interrupt();
  EXPECT_EQ(feedback_.soundStatus(), "interrupted");
  EXPECT_EQ(feedback_.soundPlayCount(), 3);

  feedback_.playSound();
  feedback_.stop();
  EXPECT_FALSE(sound_.isPlaying());
  EXPECT_EQ(feedback_.soundStatus(), "interrupted");

  sound_.setDeviceAvailable(false);
  feedback_.playSound();
  EXPECT_EQ(feedback_.soundStatus(), "play-failed");

  std::filesystem::remove(chime_);
  feedback_.playSound();
  EXPECT_EQ(feedback_.soundStatus(), "missing-resource");
  EXPECT_EQ(feedback_.soundPlayCount(), 4);
}

}  // namespace
}  // namespace glimmet
