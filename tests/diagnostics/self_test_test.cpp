#include "diagnostics/self_test.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/gtk/gstreamer_sound.h"
#include "platform/headless/headless_desktop_appearance.h"

namespace glimmet {
namespace {

// Every check that exists passes on a healthy build, in light and dark
// desktops, and the checks of subsystems not built yet are named, not passed.
TEST(SelfTest, PassesEveryCheckThatExistsAndNamesTheOthers) {
  for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    HeadlessDesktopAppearance appearance;
    appearance.setSystemScheme(scheme);
    std::ostringstream out, failures;
    const auto chimeDecodes = [] { return GStreamerSound::decodes(GLIMMET_CHIME); };
    EXPECT_EQ(runSelfTest(appearance, chimeDecodes, out, failures), 0) << failures.str();
    EXPECT_EQ(out.str(),
              "INCOMPLETE: 25 of 26 checks ran and passed; not run yet: "
              "installer rollback and stale attempt rejection\n");
  }

  // A chime that does not decode fails the run with its label.
  HeadlessDesktopAppearance appearance;
  std::ostringstream out, failures;
  EXPECT_EQ(runSelfTest(
                appearance, [] { return false; }, out, failures),
            1);
  EXPECT_EQ(failures.str(), "FAIL: bundled completion chime decodes\n");
}

}  // namespace
}  // namespace glimmet
