// The controller's shell duties: delivering captures, pinning and window
// levels, the compact task notice, the file-panel slot and the appearance
// choice it applies.

#include "app/plumora_appearance.h"
#include "controller_fixture.h"
#include "platform/headless/headless_desktop_appearance.h"
#include "surfaces/design.h"

namespace glimmet {
namespace {

using testing::ControllerTest;

constexpr const char* kTask = "6F1E0C8A-1B2C-4D3E-8F90-0123456789AB";
constexpr const char* kNotice = "window.dispatchEvent(new Event('plumora:task-notice'));";

using PlumoraControllerTest = ControllerTest;

TEST_F(PlumoraControllerTest, CaptureWaitsForThePageAndIsTakenOnce) {
  start();
  const Json payload = {{"text", "雨天"}, {"voice", false}, {"source", "Editor"}};
  const std::string event =
      "window.dispatchEvent(new CustomEvent('plumora:capture',{detail:" + json(payload) + "}));";
  controller->deliver(payload);
  EXPECT_FALSE(evaluated(event));  // not loaded: the payload waits
  EXPECT_EQ(call("capture"), "window.__plumoraResolve(1," + json(payload) + ");");
  EXPECT_EQ(call("capture"), R"(window.__plumoraResolve(2,{"text":"","voice":false});)");

  controller->pageLoaded();
  fresh();
  controller->deliver(payload);
  EXPECT_EQ(fresh().back(), event);
  EXPECT_EQ(call("capture"), R"(window.__plumoraResolve(3,{"text":"","voice":false});)");
  EXPECT_TRUE(desktop.panel->isVisible());
}

TEST_F(PlumoraControllerTest, TheShortcutOffersTheRadialMenuForTheSelectionUnlessAFilePanelIsOpen) {
  desktop.workspace.setFrontmostApplication(RunningApplication{4242, "gedit", "文本编辑器", 7});
  desktop.accessibility.setTrusted(true);
  desktop.selection.setContent({"雨天的城市", false});
  desktop.pointer.moveTo({1270, 40});
  start();
  controller->pageLoaded();
  desktop.panel->hide();
  ASSERT_TRUE(desktop.hotKeys.press(Shortcut::creationDefault().combination()));
  ASSERT_TRUE(testing::spinMainUntil([&] { return desktop.radial.isVisible(); }));
  // At the pointer, 8 points inside the work area below the top bar.
  EXPECT_EQ(desktop.radial.frame(), (Rect{1280 - 320 - 8, 32 + 8, 320, 320}));
  EXPECT_FALSE(desktop.panel->isVisible());
  desktop.radial.events()->keyPressed(RadialKey::other, "2");
  EXPECT_FALSE(desktop.radial.isVisible());

  // Nothing selected: the message goes to the page without the menu.
  desktop.panel->hide();
  desktop.selection.setContent({std::nullopt, false});
  controller->captureText();
  ASSERT_TRUE(testing::spinMainUntil([&] { return desktop.panel->isVisible(); }));
  EXPECT_FALSE(desktop.radial.isVisible());

  desktop.panel->hide();
  ASSERT_TRUE(controller->beginFilePanel());
  controller->captureText();
  EXPECT_EQ(desktop.selection.reads(), 2);
  EXPECT_FALSE(desktop.panel->isVisible());
}

TEST_F(PlumoraControllerTest, PinningKeepsThePanelFloatingAndUnpinnedItDropsWhenInactive) {
  start();
  struct Row {
    std::string step;
    bool active;
    PanelLevel level;
  };
  const std::vector<Row> rows = {
      {"pin", false, PanelLevel::floating},  {"resign", false, PanelLevel::floating},
      {"unpin", true, PanelLevel::floating}, {"resign", false, PanelLevel::normal},
      {"unpin", false, PanelLevel::normal},  {"show", true, PanelLevel::floating},
  };
  for (const Row& row : rows) {
    desktop.activity.setActive(row.active);
    if (row.step == "resign") {
      controller->resignActive();
    } else if (row.step == "show") {
      controller->show();
    } else {
      EXPECT_EQ(replyTo(post("pin", {{"enabled", row.step == "pin"}})).substr(0, 24),
                "window.__plumoraResolve(");
    }
    EXPECT_EQ(desktop.panel->level(), row.level) << row.step;
  }
  // While a file panel is up, pinning leaves the lowered level alone.
  ASSERT_TRUE(controller->beginFilePanel());
  EXPECT_EQ(desktop.panel->level(), PanelLevel::normal);
  EXPECT_FALSE(controller->beginFilePanel());
  call("pin", {{"enabled", true}});
  EXPECT_EQ(desktop.panel->level(), PanelLevel::normal);
  controller->endFilePanel();
  EXPECT_EQ(desktop.panel->level(), PanelLevel::floating);
  EXPECT_TRUE(
      evaluated("window.dispatchEvent(new CustomEvent('plumora:interaction',{detail:true}));"));
  EXPECT_TRUE(
      evaluated("window.dispatchEvent(new CustomEvent('plumora:interaction',{detail:false}));"));
  // A shape the page never sends gets no reply.
  const std::int64_t unanswered = post("pin", {{"enabled", "yes"}});
  testing::spinMainUntil([] { return false; }, std::chrono::milliseconds(20));
  for (const std::string& script : fresh()) {
    EXPECT_FALSE(script.starts_with("window.__plumoraResolve(" + std::to_string(unanswered)));
  }
}

TEST_F(PlumoraControllerTest, CompactNoticeWaitsForTheCompactIslandAndForOverlaysToClose) {
  start();
  controller->hideCreator();
  const int shown = desktop.panel->frontOrders();

  // A running task asks for the notice; the panel comes forward only once the
  // page has shrunk the island to the notice's size.
  call("taskState", {{"state", "working"}, {"taskId", kTask}, {"present", true}});
  EXPECT_TRUE(evaluated(kNotice));
  testing::spinMainUntil([] { return false; }, std::chrono::milliseconds(20));
  EXPECT_TRUE(controller->state().taskNoticeOwed());
  EXPECT_EQ(desktop.panel->frontOrders(), shown);
  EXPECT_EQ(call("islandGeometry", {{"x", 0}, {"y", 0}, {"width", 300}, {"height", 38}}),
            "window.__plumoraResolve(2,true);");
  EXPECT_EQ(desktop.panel->frontOrders(), shown);
  const Json compact = {{"x", 100},
                        {"y", 0},
                        {"width", PlumoraDesign::Layout::compactWidth},
                        {"height", PlumoraDesign::Layout::compactHeight}};
  EXPECT_EQ(call("islandGeometry", compact), "window.__plumoraResolve(3,true);");
  EXPECT_EQ(desktop.panel->frontOrders(), shown + 1);
  EXPECT_FALSE(desktop.panel->isKey());
  EXPECT_FALSE(controller->state().taskNoticeOwed());

  // The end of the task is announced only after the page modal closes.
  call("templateModal", true);
  fresh();
  call("taskState", {{"state", "done"}, {"taskId", kTask}, {"present", true}});
  EXPECT_TRUE(controller->state().taskNoticeOwed());
  const std::vector<std::string> waiting = fresh();
  EXPECT_EQ(std::count(waiting.begin(), waiting.end(), kNotice), 0);
  // The page's templateModal(false) arrives as null.
  call("templateModal", nullptr);
  EXPECT_FALSE(controller->islandHost().modalOpen());
  EXPECT_TRUE(testing::spinMainUntil([&] { return desktop.panel->frontOrders() == shown + 2; }));

  // A native menu holds it back the same way, and so does a file panel.
  const std::string next = "7F1E0C8A-1B2C-4D3E-8F90-0123456789AB";
  const std::int64_t menu = post("selectMenu", {{"options", {"a"}}, {"x", 1}, {"y", 1}});
  call("taskState", {{"state", "working"}, {"taskId", next}, {"present", true}});
  fresh();
  ASSERT_TRUE(controller->beginFilePanel());
  controller->presentTaskHUD();
  desktop.menu.dismiss();
  replyTo(menu);
  EXPECT_EQ(desktop.panel->frontOrders(), shown + 2);
  controller->endFilePanel();
  EXPECT_TRUE(testing::spinMainUntil([&] { return desktop.panel->frontOrders() == shown + 3; }));

  // A pinned panel shows the result itself: nothing is owed.
  call("pin", {{"enabled", true}});
  controller->presentTaskHUD();
  EXPECT_FALSE(controller->state().taskNoticeOwed());
}

TEST_F(PlumoraControllerTest, ShowAndHideHandFocusBackToTheApplicationTheUserCameFrom) {
  desktop.workspace.setFrontmostApplication(RunningApplication{4242, "firefox", "Firefox", 7});
  start();
  EXPECT_TRUE(desktop.panel->isKey());
  desktop.workspace.setFrontmostApplication(RunningApplication{getpid(), "glimmet", "", 9});
  EXPECT_EQ(call("present", "quick"), "window.__plumoraResolve(1,true);");
  EXPECT_EQ(call("hide"), "window.__plumoraResolve(2,true);");
  EXPECT_TRUE(evaluated("window.dispatchEvent(new Event('plumora:hide'));"));
  EXPECT_FALSE(desktop.panel->isVisible());
  ASSERT_EQ(desktop.workspace.activations().size(), 1u);
  EXPECT_EQ(desktop.workspace.activations()[0].bundleIdentifier, "firefox");
  desktop.alerts.answer(0);  // no web resources are installed here

  controller->openBrowser();
  EXPECT_EQ(desktop.workspace.openedUrls(),
            std::vector<std::string>{"https://glimmet.app/desktop"});

  // A failed load offers a retry, which loads the page again; "later" does nothing.
  controller->pageLoadFailed();
  controller->pageLoadFailed();
  EXPECT_EQ(desktop.alerts.pending()->buttonTitles, (std::vector<std::string>{"重试", "稍后"}));
  desktop.alerts.answer(0);
  desktop.alerts.answer(1);
  EXPECT_EQ(desktop.webView.loads(), std::vector<std::string>{"plumora://local/index.html"});
}

TEST_F(PlumoraControllerTest, LaunchLoadsTheInstalledPageUnderTheForcedPreviewAppearance) {
  std::filesystem::create_directories(temp / "resources/web");
  testing::writeFile(temp / "resources/web/index.html", "<!doctype html>");
  desktop.defaults.set("plumora-appearance", "light");
  start({"--notification-preview-dark"});
  EXPECT_EQ(desktop.webView.loads(), std::vector<std::string>{"plumora://local/index.html"});
  EXPECT_TRUE(desktop.alerts.presented().empty());
  EXPECT_EQ(desktop.appearance.schemeOverride(), ColorScheme::dark);
  EXPECT_EQ(desktop.defaults.string("plumora-appearance"), "light");
  EXPECT_NE(controller->bridgeScript().find("appearancePreference: \"light\""), std::string::npos);
}

TEST(PlumoraAppearance, ReadsBackOnlyTheExactOptionsAndAppliesTheOverride) {
  testing::TempDir dir;
  DefaultsStore defaults(dir / "defaults.json");
  EXPECT_EQ(PlumoraAppearance::saved(defaults), "system");
  const std::pair<Json, std::string> stored[] = {
      {"light", "light"}, {" dark", "system"}, {1, "system"}};
  for (const auto& [value, expected] : stored) {
    defaults.set(PlumoraAppearance::key, value);
    EXPECT_EQ(PlumoraAppearance::saved(defaults), expected) << value.dump();
  }

  struct Row {
    std::optional<std::string> value;
    std::optional<ColorScheme> override;
    Json answer;
  };
  const Row rows[] = {
      {"dark", ColorScheme::dark, {{"preference", "dark"}, {"theme", "dark"}}},
      {"system", std::nullopt, {{"preference", "system"}, {"theme", "light"}}},
      {"Dark", std::nullopt, {{"preference", "system"}, {"theme", "light"}}},
  };
  for (const Row& row : rows) {
    HeadlessDesktopAppearance desktop;
    desktop.setSystemScheme(ColorScheme::light);
    desktop.setSchemeOverride(ColorScheme::light);  // a previous choice to replace
    EXPECT_EQ(PlumoraAppearance::apply(row.value, true, desktop, defaults), row.answer);
    EXPECT_EQ(desktop.schemeOverride(), row.override);
    EXPECT_EQ(defaults.string(PlumoraAppearance::key), row.answer["preference"]);
  }
}

}  // namespace
}  // namespace glimmet
