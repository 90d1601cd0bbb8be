#include "app/self_test.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/headless/headless_desktop_appearance.h"

namespace glimmet {
namespace {

// Every check that exists passes on a healthy build, in light and dark desktops.
TEST(SelfTest, PassesWithTheExactLine) {
  for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    HeadlessDesktopAppearance appearance;
    appearance.setSystemScheme(scheme);
    std::ostringstream out, failures;
    EXPECT_EQ(runSelfTest(appearance, out, failures), 0) << failures.str();
    EXPECT_EQ(out.str(),
              "PASS: native origin isolation, shortcuts, custom API contracts and transport, "
              "cancellation, history, local image validation and installer rollback. Legacy "
              "helper checks also passed.\n");
  }
}

}  // namespace
}  // namespace glimmet
