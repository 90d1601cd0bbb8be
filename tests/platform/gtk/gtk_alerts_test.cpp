#include "platform/gtk/gtk_alerts.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/gtk/display_support.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;

GtkDialog* shownAlert() {
  GtkDialog* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
      found = GTK_DIALOG(item->data);
    }
  }
  g_list_free(windows);
  return found;
}

std::string textOf(GtkDialog* dialog, const char* property) {
  gchar* raw = nullptr;
  g_object_get(dialog, property, &raw, nullptr);
  const GTextPtr text(raw);
  return raw != nullptr ? raw : "";
}

// The button labels from left to right, as laid out on screen.
std::vector<std::string> buttonsOf(GtkDialog* dialog) {
  std::vector<std::pair<int, std::string>> placed;
  for (int response = 0;; ++response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
    if (button == nullptr) break;
    spinMainUntil([&] { return gtk_widget_get_allocated_width(button) > 1; });
    GtkAllocation allocation;
    gtk_widget_get_allocation(button, &allocation);
    placed.emplace_back(allocation.x, gtk_button_get_label(GTK_BUTTON(button)));
  }
  std::sort(placed.begin(), placed.end());
  std::vector<std::string> labels;
  for (auto& [x, label] : placed) labels.push_back(std::move(label));
  return labels;
}

TEST(GtkAlertsTest, ShowsTheTextsAndAnswersTheChosenButtonLater) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkAlerts alerts;
  std::optional<std::size_t> answer;
  alerts.present({"移到废纸篓？", "50% <b>不会</b> 删除", {"移到废纸篓", "取消"}},
                 [&](std::size_t index) { answer = index; });
  GtkDialog* dialog = shownAlert();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(textOf(dialog, "text"), "移到废纸篓？");
  EXPECT_EQ(textOf(dialog, "secondary-text"), "50% <b>不会</b> 删除");
  EXPECT_EQ(buttonsOf(dialog), (std::vector<std::string>{"取消", "移到废纸篓"}));

  gtk_dialog_response(dialog, 0);
  EXPECT_EQ(answer, 0u);
  EXPECT_EQ(shownAlert(), nullptr);
}

TEST(GtkAlertsTest, ClosingDeclinesAndAnAlertWithoutButtonsAcknowledges) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkAlerts alerts;
  std::vector<std::size_t> answers;
  alerts.present({"保存失败", "", {"重试", "稍后", "放弃"}},
                 [&](std::size_t index) { answers.push_back(index); });
  gtk_window_close(GTK_WINDOW(shownAlert()));
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 1; }));

  alerts.present({"完成", "", {}}, [&](std::size_t index) { answers.push_back(index); });
  GtkDialog* dialog = shownAlert();
  EXPECT_EQ(buttonsOf(dialog), std::vector<std::string>{GtkAlerts::kAcknowledgeTitle});
  gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
  EXPECT_EQ(answers, (std::vector<std::size_t>{2, 0}));
}

}  // namespace
}  // namespace glimmet
