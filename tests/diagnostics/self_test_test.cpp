#include "diagnostics/self_test.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/gtk/gstreamer_sound.h"
#include "platform/headless/headless_desktop_appearance.h"

namespace glimmet {
namespace {

// Every check passes on a healthy build, in light and dark desktops.
TEST(SelfTest, PassesEveryCheckAndNamesAFailingOne) {
  for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    HeadlessDesktopAppearance appearance;
    appearance.setSystemScheme(scheme);
    std::ostringstream out, failures;
    const auto chimeDecodes = [] { return GStreamerSound::decodes(GLIMMET_CHIME); };
    EXPECT_EQ(runSelfTest(appearance, chimeDecodes, out, failures), 0) << failures.str();
    EXPECT_TRUE(out.str().starts_with("PASS: native origin isolation")) << out.str();
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
