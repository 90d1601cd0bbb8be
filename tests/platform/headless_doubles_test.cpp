#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "platform/headless/headless_alerts.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_sound.h"
#include "platform/headless/headless_workspace.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(HeadlessFilePanels, AnswersEachPanelOnceInOrderOfRequest) {
  HeadlessFilePanels panels;
  std::vector<std::vector<fs::path>> opened;
  std::vector<std::optional<fs::path>> saved;
  OpenPanelRequest multiple;
  multiple.allowsMultipleSelection = true;
  panels.runOpenPanel(multiple, [&](auto paths) {
    opened.push_back(paths);
    // A completion may open the next panel.
    panels.runSavePanel({"Glimmet.png"}, [&](auto path) { saved.push_back(path); });
  });

  EXPECT_FALSE(panels.answerSave("/tmp/x.png"));  // the waiting panel is an open panel
  ASSERT_TRUE(panels.pendingOpen());
  EXPECT_TRUE(panels.pendingOpen()->allowsMultipleSelection);
  ASSERT_TRUE(panels.answerOpen({"/a.png", "/b.png"}));
  EXPECT_EQ(opened, (std::vector<std::vector<fs::path>>{{"/a.png", "/b.png"}}));

  ASSERT_EQ(panels.pendingCount(), 1u);
  EXPECT_EQ(panels.pendingSave()->suggestedFileName, "Glimmet.png");
  EXPECT_TRUE(panels.cancel());
  EXPECT_EQ(saved, (std::vector<std::optional<fs::path>>{std::nullopt}));

  EXPECT_FALSE(panels.cancel());
  EXPECT_FALSE(panels.answerOpen({}));
  EXPECT_EQ(opened.size(), 1u);
  EXPECT_EQ(saved.size(), 1u);
}

TEST(HeadlessAlerts, DismissAnswersTheLastButtonAndUnknownButtonsAreRefused) {
  HeadlessAlerts alerts;
  std::vector<std::size_t> answers;
  alerts.present({"无法加载", "", {"重试", "稍后"}}, [&](std::size_t i) { answers.push_back(i); });
  alerts.present({"资源缺失", "", {}}, [&](std::size_t i) { answers.push_back(i); });

  EXPECT_FALSE(alerts.answer(2));
  EXPECT_TRUE(alerts.dismiss());
  EXPECT_FALSE(alerts.answer(1));  // one acknowledging button only
  EXPECT_TRUE(alerts.dismiss());
  EXPECT_FALSE(alerts.dismiss());
  EXPECT_EQ(answers, (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(alerts.presented().size(), 2u);
}

TEST(HeadlessSound, ReplacedSoundNeverCompletesAndMissingFileLeavesCurrentSound) {
  TempDir dir;
  testing::writeFile(dir / "chime.wav", "RIFF");
  HeadlessSound sound;
  std::vector<std::string> ends;
  auto record = [&](std::string name) {
    return [&, name](bool f) { ends.push_back(name + (f ? "+" : "-")); };
  };

  EXPECT_EQ(sound.play(dir / "chime.wav", 0.8, record("first")), Sound::PlayStatus::playing);
  EXPECT_EQ(sound.play(dir / "absent.wav", 0.8, record("absent")),
            Sound::PlayStatus::missingResource);
  EXPECT_TRUE(sound.isPlaying());
  EXPECT_EQ(sound.play(dir / "chime.wav", 0.8, record("second")), Sound::PlayStatus::playing);
  EXPECT_TRUE(sound.interrupt());
  EXPECT_FALSE(sound.finish());

  sound.setDeviceAvailable(false);
  EXPECT_EQ(sound.play(dir / "chime.wav", 0.8, record("third")), Sound::PlayStatus::failed);
  EXPECT_FALSE(sound.finish());
  EXPECT_EQ(ends, (std::vector<std::string>{"second-"}));
}

TEST(HeadlessWorkspace, TrashGivesTakenNamesANumberBeforeTheExtension) {
  TempDir dir;
  const fs::path trash = dir / "Trash";
  HeadlessWorkspace workspace(trash);
  struct Row {
    std::string item;
    bool directory;
    std::string landed;
  };
  const std::vector<Row> rows = {
      {"one/image.png", false, "image.png"},
      {"two/image.png", false, "image 2.png"},
      {"three/image.png", false, "image 3.png"},
      {"one/WORK", true, "WORK"},
      {"two/WORK/", true, "WORK 2"},
  };
  for (const Row& row : rows) {
    const fs::path item = dir / row.item;
    fs::create_directories(row.directory ? item : item.parent_path());
    if (!row.directory) testing::writeFile(item, row.item);
    Result<fs::path> landed = workspace.moveToTrash(item);
    ASSERT_TRUE(landed.ok()) << row.item << ": " << landed.failure().message();
    EXPECT_EQ(landed.value(), trash / row.landed) << row.item;
    EXPECT_FALSE(fs::exists(item)) << row.item;
  }
  EXPECT_EQ(testing::readFile(trash / "image 2.png"), "two/image.png");
  EXPECT_EQ(workspace.trashedItems().size(), rows.size());
}

TEST(HeadlessWorkspace, TrashFailuresCarryAMessageAndMoveNothing) {
  TempDir dir;
  testing::writeFile(dir / "kept.png", "x");
  EXPECT_EQ(HeadlessWorkspace().moveToTrash(dir / "kept.png").failure().message(),
            HeadlessWorkspace::kNoTrashMessage);
  HeadlessWorkspace workspace(dir / "Trash");
  Result<fs::path> missing = workspace.moveToTrash(dir / "absent.png");
  ASSERT_FALSE(missing.ok());
  EXPECT_FALSE(missing.failure().message().empty());
  EXPECT_TRUE(fs::exists(dir / "kept.png"));
  EXPECT_TRUE(workspace.trashedItems().empty());
}

TEST(HeadlessWorkspace, ConcurrentTrashOfSameNamesLosesNothing) {
  TempDir dir;
  HeadlessWorkspace workspace(dir / "Trash");
  constexpr int kItems = 16;
  for (int i = 0; i < kItems; ++i) {
    fs::create_directories(dir / std::to_string(i));
    testing::writeFile(dir / std::to_string(i) / "record.json", std::to_string(i));
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kItems; ++i) {
    threads.emplace_back(
        [&, i] { workspace.moveToTrash(dir / std::to_string(i) / "record.json"); });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<std::string> contents;
  for (const auto& moved : workspace.trashedItems())
    contents.insert(testing::readFile(moved.landed));
  EXPECT_EQ(contents.size(), static_cast<std::size_t>(kItems));
}

}  // namespace
}  // namespace glimmet
