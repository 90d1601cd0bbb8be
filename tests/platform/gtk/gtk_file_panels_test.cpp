#include "platform/gtk/gtk_file_panels.h"

#include <gtk/gtk.h>

#include "platform/gtk/display_support.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;
using testing::TempDir;

// The dialog GTK shows for the native chooser when no portal serves it.
GtkFileChooser* shownChooser() {
  GtkFileChooser* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    if (GTK_IS_FILE_CHOOSER_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
      found = GTK_FILE_CHOOSER(item->data);
    }
  }
  g_list_free(windows);
  return found;
}

void answer(GtkFileChooser* chooser, int response) {
  gtk_dialog_response(GTK_DIALOG(chooser), response);
}

TEST(GtkFilePanelsTest, OpenPanelAsksAsRequestedAndAnswersTheChoice) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkFilePanels panels;
  std::optional<std::vector<std::filesystem::path>> chosen;
  panels.runOpenPanel({true, false, "选择图片"}, [&](auto files) { chosen = std::move(files); });
  GtkFileChooser* chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "选择图片");
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
  EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
  answer(chooser, GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(spinMainUntil([&] { return chosen.has_value(); }));
  EXPECT_TRUE(chosen->empty());

  chosen.reset();
  panels.runOpenPanel({false, true, std::nullopt}, [&](auto files) { chosen = std::move(files); });
  chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
  EXPECT_FALSE(gtk_file_chooser_get_select_multiple(chooser));
  answer(chooser, GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(spinMainUntil([&] { return chosen.has_value(); }));
}

TEST(GtkFilePanelsTest, SavePanelProposesTheNameAndAnswersTheLocation) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  GtkFilePanels panels;
  std::optional<std::optional<std::filesystem::path>> chosen;
  panels.runSavePanel({"作品 1.png"}, [&](auto path) { chosen = std::move(path); });
  GtkFileChooser* chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
  EXPECT_STREQ(GTextPtr(gtk_file_chooser_get_current_name(chooser)).get(), "作品 1.png");
  gtk_file_chooser_set_current_folder(chooser, dir.path().c_str());
  // The dialog ignores Save while it still loads the folder, as a user would see.
  for (int tries = 0; tries < 50 && !chosen; ++tries) {
    answer(chooser, GTK_RESPONSE_ACCEPT);
    spinMainUntil([&] { return chosen.has_value(); }, std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, dir / "作品 1.png");

  chosen.reset();
  panels.runSavePanel({"x.png"}, [&](auto path) { chosen = std::move(path); });
  answer(shownChooser(), GTK_RESPONSE_DELETE_EVENT);
  ASSERT_TRUE(spinMainUntil([&] { return chosen.has_value(); }));
  EXPECT_EQ(*chosen, std::nullopt);
}

}  // namespace
}  // namespace glimmet
