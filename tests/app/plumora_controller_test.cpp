// The controller on the in-memory desktop: the bridge as the page sees it
// (fixed replies, the generation guard, the menu) and the shell duties
// (captures, pinning and window levels, the compact task notice, the
// file-panel slot and the appearance). Which messages are answered at all is
// bridge_test's (and the harness test's, end to end).

#include "app/plumora_controller.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "app/plumora_appearance.h"
#include "platform/headless/headless_desktop_appearance.h"
#include "platform/headless/headless_platform.h"
#include "support/test_support.h"
#include "surfaces/design.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::spinMainUntil;

constexpr const char* kPage = "plumora://local/index.html";
constexpr const char* kTask = "6F1E0C8A-1B2C-4D3E-8F90-0123456789AB";
constexpr const char* kNotice = "window.dispatchEvent(new Event('plumora:task-notice'));";

// Points the user's directories at `home` for the lifetime of the object.
class UserDirectories {
 public:
  explicit UserDirectories(const fs::path& home) {
    for (const auto& [name, value] : {std::pair<const char*, fs::path>{"HOME", home},
                                      {"XDG_DATA_HOME", home / ".local/share"},
                                      {"XDG_CONFIG_HOME", home / ".config"}}) {
      const char* previous = std::getenv(name);
      saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
      setenv(name, value.c_str(), 1);
    }
  }
  ~UserDirectories() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// A controller with the user's directories, the local agents and the Trash
// inside a temporary directory. Requests are posted as the main frame of the
// packaged page; the scripts the controller evaluates in the page are what the
// tests read back.
class PlumoraControllerTest : public ::testing::Test {
 protected:
  PlumoraControllerTest() { desktop.activity.setActive(true); }
  ~PlumoraControllerTest() override {
    if (!controller) return;
    controller->shutdown();
    // Let replies already queued for the main thread arrive while the controller exists.
    spinMainUntil([] { return false; }, std::chrono::milliseconds(50));
  }

  // Creates the controller with `arguments` as the command line.
  void start(const std::vector<std::string>& arguments = {}) {
    ControllerOptions options;
    options.switches = Switches::parse(arguments);
    options.resourceDirectory = temp / "resources";
    options.temporaryDirectory = temp.path();
    LocalAgentPaths paths;
    paths.dataHome = temp / "home/.local/share";
    paths.home = temp / "home";
    paths.sharedToolDirectory = temp / "no-tools";
    paths.codexHome = temp / "home/.codex";
    options.agentPaths = paths;
    controller = std::make_unique<PlumoraController>(desktop.platform(), std::move(options));
    controller->launch();
    fresh();
  }
  // Posts a request and answers its id.
  std::int64_t post(const std::string& action, const Json& value = nullptr) {
    controller->receive(kPage, true, Json{{"action", action}, {"id", ++nextId}, {"value", value}});
    return nextId;
  }
  // The script that settled request `id`, waiting for it on the main queue.
  std::string replyTo(std::int64_t id) {
    const std::string resolve = "window.__plumoraResolve(" + std::to_string(id) + ",";
    const std::string reject = "window.__plumoraReject(" + std::to_string(id) + ",";
    const auto settles = [&](const std::string& script) {
      return script.starts_with(resolve) || script.starts_with(reject);
    };
    const auto& scripts = desktop.webView.scripts();
    EXPECT_TRUE(spinMainUntil([&] { return std::ranges::any_of(scripts, settles); }))
        << "no reply to request " << id;
    const auto found = std::ranges::find_if(scripts, settles);
    return found == scripts.end() ? "" : *found;
  }
  std::string call(const std::string& action, const Json& value = nullptr) {
    return replyTo(post(action, value));
  }
  // The scripts evaluated since the last look.
  std::vector<std::string> fresh() { return desktop.webView.takeScripts(); }
  bool evaluated(const std::string& script) const {
    return std::ranges::count(desktop.webView.scripts(), script) != 0;
  }

  testing::TempDir temp;
  UserDirectories directories{temp / "home"};
  HeadlessPlatform desktop{temp / "defaults.json", temp / "Trash"};
  std::unique_ptr<PlumoraController> controller;
  std::int64_t nextId = 0;
};

TEST_F(PlumoraControllerTest, AnswersFixedRepliesAndRejections) {
  start();
  desktop.accessibility.setGrantsOnRequest(true);
  // The menu's option count is tested at its limit plus one.
  struct Row {
    std::string action;
    Json value;
    std::string expected;  // after "window.__plumoraX(<id>,"
  };
  const std::vector<Row> rows = {
      {"previewTrace", {{"step", 1}}, "'预览诊断未启用');"},
      {"appearance", "Dark", "'外观选项无效');"},
      {"localGenerate", "draw", "'当前任务尚未完成或参数无效');"},
      {"apiConfigure", "x", "\"当前任务尚未完成\");"},
      {"selectMenu",
       {{"options", std::vector<std::string>(101, "a")}, {"x", 1}, {"y", 1}},
       "'菜单参数无效');"},
      {"cloudOpen", 5, "\"云端请求无效\");"},
      {"cloudOpen", "http://glimmet.app/", "false);"},
      {"fit", {{"height", 1}}, "null);"},
      {"setupAgent", "codex", "{opened:true});"},
      {"settings", nullptr, "true);"},
      {"accessibility", nullptr, "false);"},
      {"requestAccessibility", nullptr, "true);"},
      {"accessibility", nullptr, "true);"},
      {"taskState", {{"state", "done"}, {"taskId", "not-a-uuid"}}, "false);"},
      {"present", "elsewhere", "true);"},
  };
  for (const Row& row : rows) {
    const std::int64_t id = post(row.action, row.value);
    const std::string reply = replyTo(id);
    const std::string head = reply.substr(0, reply.find(',') + 1);
    EXPECT_EQ(reply.substr(head.size()), row.expected) << row.action << " " << row.value.dump();
  }
  EXPECT_EQ(desktop.settingsWindow.presentations(), 1);
  EXPECT_EQ(desktop.agentSetupWindow.presentations(), 1);
  EXPECT_TRUE(desktop.workspace.openedUrls().empty());
}

TEST_F(PlumoraControllerTest, OneGenerationRunsAtATimeAcrossTheServiceAndTheLocalAgent) {
  start();
  controller->imageAPI().configure(
      {{"baseURL", "https://images.invalid/v1"}, {"model", "m"}, {"key", "sk-1"}});
  const Json before = controller->imageAPI().status();

  // The connection check is in flight until its failure arrives from the network.
  const std::int64_t check = post("apiCheck");
  EXPECT_EQ(call("apiGenerate", {{"kind", "image"}, {"prompt", "猫"}}),
            "window.__plumoraReject(2,'当前请求尚未完成');");
  EXPECT_EQ(call("localGenerate", {{"prompt", "猫"}}),
            "window.__plumoraReject(3,'当前任务尚未完成或参数无效');");
  EXPECT_EQ(call("apiConfigure", {{"baseURL", "https://other.invalid/v1"}, {"model", "n"}}),
            "window.__plumoraReject(4,\"当前任务尚未完成\");");
  EXPECT_EQ(controller->imageAPI().status(), before);
  EXPECT_TRUE(replyTo(check).starts_with("window.__plumoraReject(1,\""));

  // A local generation (no agent is installed here) blocks the service likewise.
  const std::int64_t local = post("localGenerate", {{"prompt", "猫"}, {"kind", "image"}});
  EXPECT_EQ(call("apiGenerate", {{"kind", "image"}, {"prompt", "猫"}}),
            "window.__plumoraReject(6,'当前请求尚未完成');");
  EXPECT_EQ(call("apiCheck"), "window.__plumoraReject(7,'当前请求尚未完成');");
  EXPECT_TRUE(replyTo(local).starts_with("window.__plumoraReject(5,\""));

  // Free again: an input refusal answers at once and leaves the service idle.
  EXPECT_TRUE(call("apiGenerate", "not a dictionary").starts_with("window.__plumoraReject(8,\""));
  EXPECT_TRUE(call("apiConfigure",
                   {{"baseURL", "https://other.invalid/v1"}, {"model", "n"}, {"key", "sk-2"}})
                  .starts_with("window.__plumoraResolve(9,{"));
}

TEST_F(PlumoraControllerTest, SelectMenuAnswersTheChosenRowOrNullAndClampsItsPlace) {
  start();
  fs::create_directories(temp / "resources");
  testing::writeFile(temp / "resources/provider-api.png", "png");
  const std::int64_t first = post("selectMenu", {{"options", {"Codex", "API", "Glimmet"}},
                                                 {"icons", {"codex", "api", "unknown"}},
                                                 {"selected", 1},
                                                 {"x", -20},
                                                 {"y", 5000}});
  const std::optional<PopUpMenuRequest> menu = desktop.menu.open();
  ASSERT_TRUE(menu.has_value());
  EXPECT_EQ(menu->items.size(), 3u);
  EXPECT_EQ(menu->items[0].icon, std::nullopt);  // no such resource
  EXPECT_EQ(menu->items[1].icon, temp / "resources/provider-api.png");
  EXPECT_EQ(menu->items[2].icon, std::nullopt);
  EXPECT_EQ(menu->checked, 1u);
  EXPECT_EQ(menu->location, (Point{0, desktop.webView.size().height}));
  EXPECT_TRUE(desktop.menu.choose(2));
  EXPECT_EQ(replyTo(first), "window.__plumoraResolve(1,2);");

  const std::int64_t second = post("selectMenu", {{"options", {"a"}}, {"x", 3}, {"y", 4}});
  EXPECT_EQ(desktop.menu.open()->checked, std::nullopt);
  EXPECT_TRUE(desktop.menu.dismiss());
  EXPECT_EQ(replyTo(second), "window.__plumoraResolve(2,null);");
}

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
  ASSERT_TRUE(spinMainUntil([&] { return desktop.radial.isVisible(); }));
  // At the pointer, 8 points inside the work area below the top bar.
  EXPECT_EQ(desktop.radial.frame(), (Rect{1280 - 320 - 8, 32 + 8, 320, 320}));
  EXPECT_FALSE(desktop.panel->isVisible());
  desktop.radial.events()->keyPressed(RadialKey::other, "2");
  EXPECT_FALSE(desktop.radial.isVisible());

  // Nothing selected: the message goes to the page without the menu.
  desktop.panel->hide();
  desktop.selection.setContent({std::nullopt, false});
  controller->captureText();
  ASSERT_TRUE(spinMainUntil([&] { return desktop.panel->isVisible(); }));
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
}

TEST_F(PlumoraControllerTest, CompactNoticeWaitsForTheCompactIslandAndForOverlaysToClose) {
  start();
  controller->hideCreator();
  const int shown = desktop.panel->frontOrders();

  // A running task asks for the notice; the panel comes forward only once the
  // page has shrunk the island to the notice's size.
  call("taskState", {{"state", "working"}, {"taskId", kTask}, {"present", true}});
  EXPECT_TRUE(evaluated(kNotice));
  spinMainUntil([] { return false; }, std::chrono::milliseconds(20));
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
  EXPECT_TRUE(spinMainUntil([&] { return desktop.panel->frontOrders() == shown + 2; }));

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
  // No web resources are installed here, and the user is told.
  EXPECT_EQ(desktop.alerts.pending()->messageText, "本地创作资源缺失");
  desktop.alerts.answer(0);

  // A failed load offers a retry, which loads the page again; "later" does nothing.
  controller->pageLoadFailed();
  controller->pageLoadFailed();
  EXPECT_EQ(desktop.alerts.pending()->buttonTitles, (std::vector<std::string>{"重试", "稍后"}));
  desktop.alerts.answer(0);
  desktop.alerts.answer(1);
  EXPECT_EQ(desktop.webView.loads(), std::vector<std::string>{"plumora://local/index.html"});
}

TEST_F(PlumoraControllerTest, LaunchLoadsTheInstalledPageUnderTheForcedPreviewAppearance) {
  fs::create_directories(temp / "resources/web");
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
  const std::pair<Json, std::string> stored[] = {{"light", "light"}, {" dark", "system"}};
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
