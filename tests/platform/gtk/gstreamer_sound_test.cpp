#include "platform/gtk/gstreamer_sound.h"

#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;
using testing::TempDir;
using Status = Sound::PlayStatus;

const std::filesystem::path kChime = GLIMMET_CHIME;

TEST(GStreamerSoundTest, PlaysTheChimeToItsEnd) {
  GStreamerSound sound("fakesink sync=true");
  std::vector<bool> ends;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(sound.play(kChime, 0.8, [&](bool finished) { ends.push_back(finished); }),
            Status::playing);
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  EXPECT_EQ(ends, std::vector<bool>{true});
  // Played in real time: the chime lasts about 0.4 s.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
}

TEST(GStreamerSoundTest, AnErrorWhilePlayingBreaksTheSoundOff) {
  GStreamerSound sound("identity error-after=3 ! fakesink sync=true");
  std::vector<bool> ends;
  ASSERT_EQ(sound.play(kChime, 1, [&](bool finished) { ends.push_back(finished); }),
            Status::playing);
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  spinMainUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(ends, std::vector<bool>{false});
}

TEST(GStreamerSoundTest, BadFilesLeaveThePlayingSoundAlone) {
  TempDir dir;
  testing::writeFile(dir / "notes.wav", "not a sound at all");
  GStreamerSound sound("fakesink sync=true");
  std::vector<bool> ends;
  ASSERT_EQ(sound.play(kChime, 1, [&](bool finished) { ends.push_back(finished); }),
            Status::playing);
  for (const auto& bad : {dir / "absent.wav", dir / "notes.wav", dir.path()}) {
    EXPECT_EQ(sound.play(bad, 1, [&](bool) { ends.push_back(false); }), Status::missingResource)
        << bad;
  }
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  EXPECT_EQ(ends, std::vector<bool>{true});
}

TEST(GStreamerSoundTest, ReplacedAndStoppedSoundsNeverComplete) {
  GStreamerSound sound("fakesink sync=true");
  std::vector<std::string> ends;
  sound.play(kChime, 1, [&](bool) { ends.push_back("first"); });
  ASSERT_EQ(sound.play(kChime, 1, [&](bool) { ends.push_back("second"); }), Status::playing);
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  sound.play(kChime, 1, [&](bool) { ends.push_back("stopped"); });
  sound.stop();
  sound.stop();
  spinMainUntil([] { return false; }, std::chrono::milliseconds(700));
  EXPECT_EQ(ends, std::vector<std::string>{"second"});
}

TEST(GStreamerSoundTest, AnOutputThatDoesNotOpenFailsAtOnce) {
  // An ALSA device that does not exist, and a sink description that names no element.
  for (const char* sink : {"alsasink device=glimmet_no_such_device", "glimmet_no_such_sink"}) {
    GStreamerSound sound(sink);
    bool completed = false;
    EXPECT_EQ(sound.play(kChime, 1, [&](bool) { completed = true; }), Status::failed) << sink;
    spinMainUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(completed);
  }
}

}  // namespace
}  // namespace glimmet
