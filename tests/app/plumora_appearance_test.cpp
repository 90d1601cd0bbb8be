#include "app/plumora_appearance.h"

#include <gtest/gtest.h>

#include "platform/headless/headless_desktop_appearance.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

TEST(PlumoraAppearance, ReadsOnlyTheExactOptionsBackAndEverythingElseAsSystem) {
  testing::TempDir dir;
  DefaultsStore defaults(dir / "defaults.json");
  EXPECT_EQ(PlumoraAppearance::saved(defaults), "system");
  const std::vector<std::pair<Json, std::string>> rows = {
      {"dark", "dark"}, {"light", "light"}, {" dark", "system"}, {"", "system"}, {1, "system"},
  };
  for (const auto& [stored, expected] : rows) {
    defaults.set(PlumoraAppearance::key, stored);
    EXPECT_EQ(PlumoraAppearance::saved(defaults), expected) << stored.dump();
  }
  EXPECT_EQ(PlumoraAppearance::normalized(std::nullopt), "system");
}

TEST(PlumoraAppearance, AppliesTheOverrideAndAnswersTheSchemeInEffect) {
  struct Row {
    ColorScheme system;
    std::optional<std::string> value;
    std::optional<ColorScheme> override;
    Json answer;
  };
  const std::vector<Row> rows = {
      {ColorScheme::dark,
       "light",
       ColorScheme::light,
       {{"preference", "light"}, {"theme", "light"}}},
      {ColorScheme::light, "dark", ColorScheme::dark, {{"preference", "dark"}, {"theme", "dark"}}},
      {ColorScheme::dark, "system", std::nullopt, {{"preference", "system"}, {"theme", "dark"}}},
      {ColorScheme::light, "Dark", std::nullopt, {{"preference", "system"}, {"theme", "light"}}},
      {ColorScheme::dark,
       std::nullopt,
       std::nullopt,
       {{"preference", "system"}, {"theme", "dark"}}},
  };
  testing::TempDir dir;
  DefaultsStore defaults(dir / "defaults.json");
  for (const Row& row : rows) {
    HeadlessDesktopAppearance desktop;
    desktop.setSystemScheme(row.system);
    desktop.setSchemeOverride(ColorScheme::light);  // a previous choice to replace
    EXPECT_EQ(PlumoraAppearance::apply(row.value, true, desktop, defaults), row.answer);
    EXPECT_EQ(desktop.schemeOverride(), row.override);
    EXPECT_EQ(defaults.string(PlumoraAppearance::key), row.answer["preference"]);
  }
}

}  // namespace
}  // namespace glimmet
