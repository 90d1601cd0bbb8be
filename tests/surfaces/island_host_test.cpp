#include "surfaces/island_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/headless/headless_island.h"
#include "platform/headless/headless_status_button.h"

namespace glimmet {
namespace {

const std::string kEnter =
    "window.dispatchEvent(new CustomEvent('plumora:pointer',{detail:true}));";

std::string anchorScript(const std::string& detail) {
  return "window.dispatchEvent(new CustomEvent('plumora:anchor',{detail:" + detail + "}));";
}

struct Host {
  explicit Host(std::vector<HeadlessScreenLayout::Monitor> monitors = {},
                const Rect& panelFrame = {100, 30, 748, 780})
      : screens(std::move(monitors)),
        panel(std::make_shared<HeadlessIslandPanel>(panelFrame)),
        host(clock, pointer, screens, [this](std::string script) { scripts.push_back(script); }) {
    host.attach(panel);
  }

  void tick() { clock.advance(std::chrono::milliseconds(35)); }
  // Points in panel coordinates, for readability.
  void pointAt(double x, double y) {
    const Rect frame = panel->frame();
    pointer.moveTo({frame.x + x, frame.y + y});
  }

  ManualClock clock;
  HeadlessPointerSource pointer;
  HeadlessScreenLayout screens;
  std::shared_ptr<HeadlessIslandPanel> panel;
  std::vector<std::string> scripts;
  PlumoraIslandHost host;
};

TEST(IslandHostPosition, HangsThePanelUnderTheStatusButtonInsideTheWorkArea) {
  using Monitor = HeadlessScreenLayout::Monitor;
  const Monitor laptop{{0, 0, 1440, 900}, {0, 25, 1440, 875}};
  struct Row {
    std::vector<Monitor> monitors;
    std::optional<Rect> button;
    Rect frame;
    std::string anchor;
  };
  const std::vector<Row> rows = {
      // Capped at the right edge: 1440 - 748 - 8.
      {{laptop}, Rect{1188, 0, 24, 22}, {684, 25, 748, 780}, "516"},
      // Narrow: 700 - 16 wide, placed at the left inset.
      {{{{0, 0, 700, 900}, {0, 0, 700, 875}}}, Rect{340, 0, 20, 20}, {8, 0, 684, 780}, "342"},
      // Short: 8 points left below the panel.
      {{{{0, 0, 1440, 600}, {0, 0, 1440, 600}}}, Rect{700, 0, 20, 20}, {336, 0, 748, 592}, "374"},
      // No button: centred on the primary work area.
      {{laptop}, std::nullopt, {346, 25, 748, 780}, "374"},
      // The button's own monitor, not the primary one.
      {{laptop, {{1440, 0, 1920, 1080}, {1440, 0, 1920, 1050}}},
       Rect{2000, 0, 23, 22},
       {1637.5, 0, 748, 780},
       "374"},
  };
  for (const Row& row : rows) {
    Host fixture(row.monitors);
    HeadlessStatusButton button;
    button.setFrame(row.button);
    fixture.host.position(&button);
    EXPECT_EQ(fixture.panel->frame(), row.frame) << row.anchor;
    EXPECT_EQ(fixture.scripts.back(), anchorScript(row.anchor));
  }
}

TEST(IslandHostGeometry, AppliesOnlyRectanglesInsideThePanel) {
  struct Row {
    Json value;
    bool applied;
  };
  const std::vector<Row> rows = {
      {{{"x", 263}, {"y", 0}, {"width", 222}, {"height", 38}}, true},
      {{{"x", 0}, {"y", 0}, {"width", 749}, {"height", 781}}, true},  // one point of tolerance
      {{{"x", 0.5}, {"y", 0}, {"width", 748.6}, {"height", 38}}, false},
      {{{"x", 0}, {"y", 0}, {"width", 0.5}, {"height", 38}}, false},
      {{{"x", -1}, {"y", 0}, {"width", 222}, {"height", 38}}, false},
      {{{"x", NAN}, {"y", 0}, {"width", 222}, {"height", 38}}, false},
      {{{"x", 0}, {"y", 0}, {"width", 222}}, false},
  };
  for (const Row& row : rows) {
    Host fixture;
    EXPECT_EQ(fixture.host.geometry(row.value), row.applied) << row.value.dump();
    EXPECT_EQ(fixture.panel->glasses().size(), row.applied ? 1u : 0u) << row.value.dump();
  }
}

// The pointer's entry, a drag and the page's menu are followed on the X
// display (desktop_test); here the edges and the other overlays.
TEST(IslandHostTracking, TellsThePageOfThePointerAndGivesOverlaysTheWholePanel) {
  Host f;
  f.host.geometry({{"x", 263}, {"y", 0}, {"width", 222}, {"height", 38}});
  EXPECT_EQ(f.panel->inputRegions().back(), InputRegion::only({263, 0, 222, 38}));
  // The island's right edge belongs to what lies beside it.
  f.pointAt(485, 10);
  f.tick();
  EXPECT_TRUE(f.scripts.empty());
  f.pointAt(484, 10);
  f.tick();
  EXPECT_EQ(f.scripts, std::vector<std::string>{kEnter});
  EXPECT_EQ(f.panel->inputRegions().back(), InputRegion::wholePanel());
  f.pointAt(600, 300);
  f.tick();
  EXPECT_EQ(f.panel->inputRegions().back(), InputRegion::only({263, 0, 222, 38}));

  for (auto open : {&PlumoraIslandHost::setFilePanelOpen, &PlumoraIslandHost::setModalOpen}) {
    (f.host.*open)(true);
    EXPECT_EQ(f.panel->inputRegions().back(), InputRegion::wholePanel());
    (f.host.*open)(false);
    EXPECT_EQ(f.panel->inputRegions().back(), InputRegion::only({263, 0, 222, 38}));
  }
}

TEST(IslandHostTracking, RestsWhileThePanelIsHiddenOrGoneAndStopsWithTheHost) {
  Host f;
  f.host.geometry({{"x", 263}, {"y", 0}, {"width", 222}, {"height", 38}});
  f.panel->setVisible(false);
  f.pointAt(300, 10);
  f.tick();
  EXPECT_TRUE(f.scripts.empty());
  f.panel->setVisible(true);
  f.tick();
  EXPECT_EQ(f.scripts, std::vector<std::string>{kEnter});

  f.panel.reset();
  f.tick();
  EXPECT_EQ(f.clock.pendingCount(), 1u);
  f.host.stop();
  EXPECT_EQ(f.clock.pendingCount(), 0u);
}

}  // namespace
}  // namespace glimmet
