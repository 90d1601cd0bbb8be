#include "platform/linux/xdg_autostart.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;

// The entry runs the program where it lies, quoted as desktop entries quote;
// off removes it; a directory that cannot be made keeps the old state.
TEST(XdgAutostart, WritesHidesAndRemovesTheEntry) {
  testing::TempDir dir;
  const fs::path program = dir / "my apps" / "glim$met%\"x";
  XdgAutostart autostart(dir / "config", program);
  const fs::path entry = dir / "config" / "autostart" / XdgAutostart::kEntryName;
  ASSERT_TRUE(autostart.setEnabled(true));
  EXPECT_TRUE(autostart.enabled());
  const std::string text = testing::readFile(entry);
  EXPECT_NE(text.find("\nExec=\"" + (dir / "my apps").string() + "/glim\\\\$met%%\\\\\"x\"\n"),
            std::string::npos)
      << text;

  ASSERT_TRUE(autostart.setEnabled(false));
  EXPECT_FALSE(fs::exists(entry));

  // A file where the configuration directory should be.
  testing::writeFile(dir / "not-a-directory", "");
  XdgAutostart blocked(dir / "not-a-directory", program);
  EXPECT_FALSE(blocked.setEnabled(true));
  EXPECT_FALSE(blocked.enabled());
}

}  // namespace
}  // namespace glimmet
