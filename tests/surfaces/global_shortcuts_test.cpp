// The global shortcut: its persisted form and what a key press makes of it,
// the recorder, and the registration rules as the user meets them through the
// settings window, the pause switch and the disabled applications.

#include "surfaces/global_shortcuts.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/headless/headless_alerts.h"
#include "platform/headless/headless_input.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_workspace.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::TempDir;

constexpr std::uint32_t kCmd = KeyCombination::kCommand;
constexpr std::uint32_t kShift = KeyCombination::kShift;
constexpr std::uint32_t kKeyK = 45;
constexpr std::uint32_t kKey7 = 16;

TEST(ShortcutTest, StoredValuesOutsideThePersistedFormFallBackToTheDefault) {
  TempDir temp;
  DefaultsStore defaults(temp / "defaults.json");
  const Shortcut creation = Shortcut::creationDefault();
  const std::string title30(30, 'x');
  const struct {
    Json stored;
    bool valid;
  } rows[] = {
      {{{"code", 45}, {"modifiers", 768}, {"title", "⇧⌘K"}}, true},
      {{{"code", 65535}, {"modifiers", 0}, {"title", title30}}, true},
      {{{"code", 45}, {"modifiers", 256}, {"title", title30 + "x"}}, false},
      {{{"code", -1}, {"modifiers", 256}, {"title", "⌘P"}}, false},
      {{{"code", 45}, {"modifiers", 65536}, {"title", "⌘P"}}, false},
      {{{"code", 45.0}, {"modifiers", 256}, {"title", "⌘P"}}, false},
      {{{"code", 45}, {"modifiers", 256}}, false},
  };
  for (const auto& row : rows) {
    defaults.set("shortcut.normal", row.stored);
    const Shortcut loaded = Shortcut::load(defaults, "shortcut.normal", false);
    if (row.valid) {
      EXPECT_EQ(loaded.dictionary(), row.stored) << row.stored;
    } else {
      EXPECT_EQ(loaded, creation) << row.stored;
    }
  }
}

TEST(ShortcutTest, AKeyPressMakesAShortcutOnlyWithACommandModifierAndOneLetterOrDigit) {
  const struct {
    KeyStroke key;
    std::optional<Shortcut> made;
  } rows[] = {
      {{Shortcut::kKeyP, 0, "p"}, std::nullopt},
      {{Shortcut::kKeyP, kCmd | kShift, "P"}, Shortcut{Shortcut::kKeyP, 768, "⇧⌘P"}},
      {{kKeyK, 0x1B00, "K"}, Shortcut{kKeyK, 6912, "⌃⌥⇧⌘K"}},
      {{kKey7, kCmd, "7"}, Shortcut{kKey7, kCmd, "⌘7"}},
      {{kKey7, kCmd | kShift, "&"}, std::nullopt},
      {{113, kCmd, ""}, std::nullopt},
      {{44, KeyCombination::kControl, "ж"}, Shortcut{44, 0x1000, "⌃Ж"}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Shortcut::from(row.key), row.made) << row.key.characters;
  }
}

class GlobalShortcutsTest : public ::testing::Test {
 protected:
  GlobalShortcuts& start() {
    shortcuts = std::make_unique<GlobalShortcuts>(
        GlobalShortcuts::Services{hotKeys, defaults, alerts, workspace, window, accessibility,
                                  autostart},
        [] {});
    shortcuts->install();
    workspace.observeActivation([this] { shortcuts->updateSuspension(); });
    return *shortcuts;
  }
  // The user records `key` in the open settings window.
  void record(const KeyStroke& key) {
    window.events()->recorderClicked();
    window.events()->keyPressed(key);
  }
  std::vector<std::string> alertTitles() const {
    std::vector<std::string> titles;
    for (const AlertRequest& alert : alerts.presented()) titles.push_back(alert.messageText);
    return titles;
  }

  TempDir temp;
  DefaultsStore defaults{temp / "defaults.json"};
  HeadlessHotKeys hotKeys;
  HeadlessAlerts alerts;
  HeadlessWorkspace workspace;
  HeadlessSettingsWindow window;
  HeadlessAccessibility accessibility;
  HeadlessAutostart autostart;
  std::unique_ptr<GlobalShortcuts> shortcuts;
};

const KeyCombination kCtrlP = Shortcut::creationDefault().combination();
const KeyCombination kCtrlShiftK{kKeyK, kCmd | kShift};

TEST_F(GlobalShortcutsTest, ATakenShortcutAtLaunchIsReportedAndTheMenuStillWorks) {
  hotKeys.holdElsewhere(kCtrlP);
  start();
  EXPECT_EQ(alertTitles(), std::vector<std::string>{GlobalShortcuts::kTaken});
  EXPECT_FALSE(shortcuts->registered());
}

TEST_F(GlobalShortcutsTest, SavingAChangedShortcutSwapsTheGrabOrKeepsTheOldOneWhenTaken) {
  start();
  shortcuts->openSettings();
  record({kKeyK, kCmd | kShift, "K"});
  hotKeys.holdElsewhere(kCtrlShiftK);
  window.events()->saveClicked("", false, false);
  EXPECT_EQ(alertTitles(), std::vector<std::string>{GlobalShortcuts::kChangeFailed});
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(hotKeys.isRegistered(kCtrlP));
  EXPECT_FALSE(defaults.value(GlobalShortcuts::kNormalKey));

  // The grab's move on success is followed on the X display (selection_shortcut_test).
  record({kKeyK, kCmd | KeyCombination::kOption, "k"});
  window.events()->saveClicked("", false, false);
  EXPECT_EQ(hotKeys.registeredCount(), 1u);
  EXPECT_EQ(*defaults.value(GlobalShortcuts::kNormalKey),
            (Json{{"code", kKeyK}, {"modifiers", 2304}, {"title", "⌥⌘K"}}));
}

TEST_F(GlobalShortcutsTest, TheRecorderCancelsOnEscapeAndKeepsWaitingOnKeysThatMakeNoShortcut) {
  start();
  shortcuts->openSettings();
  window.events()->recorderClicked();
  EXPECT_EQ(window.content().recorderTitle, ShortcutRecorder::kRecordingTitle);
  EXPECT_TRUE(window.events()->keyPressed({65, KeyCombination::kOption, " "}));
  EXPECT_TRUE(window.recording());
  EXPECT_TRUE(window.events()->keyPressed({Shortcut::kKeyEscape, 0, "\x1b"}));
  EXPECT_FALSE(window.recording());
  EXPECT_EQ(window.content().recorderTitle, "⌘P");
  EXPECT_FALSE(window.events()->keyPressed({kKeyK, kCmd, "k"}));

  // Closing without saving stores nothing.
  record({kKeyK, kCmd, "k"});
  window.events()->closeRequested();
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(defaults.value(GlobalShortcuts::kNormalKey));
}

TEST_F(GlobalShortcutsTest, DisabledApplicationsAndThePauseWithdrawAndRestoreTheHotKey) {
  defaults.set(GlobalShortcuts::kDisabledAppsKey, "Evince ,  firefox,");
  start();
  workspace.setFrontmostApplication(RunningApplication{201, "Evince", "文档查看器", 8});
  EXPECT_TRUE(shortcuts->suspended());
  EXPECT_EQ(hotKeys.registeredCount(), 0u);
  workspace.setFrontmostApplication(RunningApplication{202, "evince", "", 9});
  EXPECT_FALSE(shortcuts->suspended());
  EXPECT_TRUE(hotKeys.isRegistered(kCtrlP));
  // The list's empty part does not stand for "no application in front".
  workspace.setFrontmostApplication(std::nullopt);
  EXPECT_FALSE(shortcuts->suspended());

  // Saved while paused: stored, registered only when the pause ends; a taken
  // combination then says so.
  shortcuts->openSettings();
  record({kKeyK, kCmd | kShift, "K"});
  window.events()->saveClicked("firefox", true, false);
  EXPECT_TRUE(shortcuts->suspended());
  EXPECT_EQ(hotKeys.registeredCount(), 0u);
  EXPECT_EQ(shortcuts->normalShortcut().combination(), kCtrlShiftK);
  hotKeys.holdElsewhere(kCtrlShiftK);
  defaults.set(GlobalShortcuts::kPausedKey, false);
  shortcuts->updateSuspension();
  EXPECT_EQ(alertTitles(), std::vector<std::string>{GlobalShortcuts::kNotRestored});
  EXPECT_EQ(hotKeys.registeredCount(), 0u);

  // Starting at login is saved with the rest; a refused change says so and
  // the old state holds.
  shortcuts->openSettings();
  window.events()->saveClicked("firefox", true, true);
  EXPECT_TRUE(autostart.enabled());
  autostart.refuses = true;
  window.events()->saveClicked("firefox", true, false);
  EXPECT_TRUE(autostart.enabled());
  const std::vector<std::string> titles = alertTitles();
  EXPECT_NE(std::find(titles.begin(), titles.end(), GlobalShortcuts::kLaunchAtLoginFailed),
            titles.end());
}

}  // namespace
}  // namespace glimmet
