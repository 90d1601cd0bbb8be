// The doubles later tests lean on: panels answered in order, each once, and a
// trash that lands items under free names as the desktop does.
#include <gtest/gtest.h>

#include "platform/headless/headless_file_panels.h"
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

}  // namespace
}  // namespace glimmet
