// The bridge as the page sees it through the controller: the fixed replies,
// the generation guard, the menu and the diagnostic switches. Which messages
// are answered at all is bridge_test's (and the harness test's, end to end).

#include <limits>

#include "controller_fixture.h"

namespace glimmet {
namespace {

using testing::ControllerTest;

class BridgeDispatchTest : public ControllerTest {};

TEST_F(BridgeDispatchTest, AnswersFixedRepliesAndRejections) {
  start();
  desktop.accessibility.setGrantsOnRequest(true);
  const Json inf = std::numeric_limits<double>::infinity();
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
      {"selectMenu",
       {{"options", {std::string(201, 'a')}}, {"x", 1}, {"y", 1}},
       "'菜单参数无效');"},
      {"selectMenu", {{"options", {"a"}}, {"x", inf}, {"y", 1}}, "'菜单参数无效');"},
      {"selectMenu",
       {{"options", {"a"}}, {"x", 1}, {"y", 1}, {"selected", 0.5}},
       "'菜单参数无效');"},
      {"selectMenu",
       {{"options", {"a"}}, {"x", 1}, {"y", 1}, {"icons", "api"}},
       "'菜单参数无效');"},
      {"cloudOpen", 5, "\"云端请求无效\");"},
      {"cloudOpen", "http://glimmet.app/", "false);"},
      {"prepareHistory", nullptr, "null);"},
      {"fit", {{"height", 1}}, "null);"},
      {"setupAgent", "codex", "{opened:true});"},
      {"settings", nullptr, "true);"},
      {"accessibility", nullptr, "false);"},
      {"requestAccessibility", nullptr, "true);"},
      {"accessibility", nullptr, "true);"},
      {"islandAnchor", nullptr, json(controller->islandHost().anchorX()) + ");"},
      {"apiCancel", nullptr, "false);"},
      {"previewSound", nullptr, "false);"},
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

TEST_F(BridgeDispatchTest, OneGenerationRunsAtATimeAcrossTheServiceAndTheLocalAgent) {
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

TEST_F(BridgeDispatchTest, SelectMenuAnswersTheChosenRowOrNullAndClampsItsPlace) {
  start();
  std::filesystem::create_directories(temp / "resources");
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

// The choices themselves are PlumoraAppearance's; the library smoke test
// applies them without keeping them.
TEST_F(BridgeDispatchTest, TheLibrarySmokeTestAppliesTheAppearanceWithoutPersistingIt) {
  start({"--library-smoke-test"}, false);
  EXPECT_EQ(call("appearance", "light"),
            R"(window.__plumoraResolve(1,{"preference":"light","theme":"light"});)");
  EXPECT_EQ(desktop.appearance.schemeOverride(), ColorScheme::light);
  EXPECT_FALSE(desktop.defaults.value("plumora-appearance"));
}

TEST_F(BridgeDispatchTest, SmokeTestSwitchesPrintTheirDiagnosticLines) {
  start({"--preview-smoke-test", "--notification-smoke-test"});
  EXPECT_EQ(call("previewTrace", {{"step", "open"}}), "window.__plumoraResolve(1,true);");
  EXPECT_EQ(call("previewTrace", "open"), "window.__plumoraReject(2,'预览诊断未启用');");
  const std::string task = "6F1E0C8A-1B2C-4D3E-8F90-0123456789AB";
  EXPECT_EQ(call("taskState", {{"state", "working"}, {"taskId", task}}),
            "window.__plumoraResolve(3,true);");
  EXPECT_EQ(call("taskState", {{"state", "done"}, {"taskId", task}}),
            "window.__plumoraResolve(4,true);");
  EXPECT_EQ(call("taskState", {{"state", "done"}, {"taskId", "not-a-uuid"}}),
            "window.__plumoraResolve(5,false);");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], R"(PREVIEW_TRACE {"step":"open"})");
  desktop.clock.advance(std::chrono::milliseconds(999));
  EXPECT_EQ(lines.size(), 1u);
  desktop.clock.advance(std::chrono::milliseconds(1));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[1].starts_with("NOTIFICATION_SMOKE state=done pinned=false level=floating "))
      << lines[1];
  EXPECT_NE(lines[1].find(" frontPreserved=true geometry="), std::string::npos) << lines[1];
}

}  // namespace
}  // namespace glimmet
