// The capture payload from what the selection holds: neutral over the
// program's own windows, text cut to its limit, password fields never read, a
// selected file read as an image within the limits, and one message for each
// way nothing could be read.

#include "surfaces/selection_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "diagnostics/seed_image.h"
#include "platform/headless/headless_input.h"
#include "platform/headless/headless_shell.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::TempDir;

const RunningApplication kEditor{4242, "gedit", "文本编辑器", 7};

class SelectionCaptureTest : public ::testing::Test {
 protected:
  SelectionCaptureTest() { accessibility.setTrusted(true); }

  Json capture(std::optional<RunningApplication> front = kEditor) {
    std::optional<Json> payload;
    capturer.capture(front, false, [&](Json answer) { payload = std::move(answer); });
    EXPECT_TRUE(testing::spinMainUntil([&] { return payload.has_value(); }));
    return payload.value_or(Json());
  }
  Json selecting(const std::string& text) {
    reader.setContent({text, false});
    return capture();
  }

  TempDir temp;
  HeadlessAccessibility accessibility;
  HeadlessSelectionReader reader;
  SelectionCapture capturer{accessibility, reader, getpid()};
};

TEST_F(SelectionCaptureTest, OwnWindowsAndNoApplicationGiveTheNeutralPayloadWithoutReading) {
  reader.setContent({"不该读取", false});
  EXPECT_EQ(capture(std::nullopt), (Json{{"text", ""}, {"voice", false}, {"source", ""}}));
  EXPECT_EQ(capture(RunningApplication{getpid(), "Glimmet", "Glimmet", 1}),
            (Json{{"text", ""}, {"voice", false}, {"source", "Glimmet"}}));
  EXPECT_EQ(reader.reads(), 0);
}

TEST_F(SelectionCaptureTest, TextIsCutToItsLimitAndPasswordFieldsAreNeverRead) {
  std::string long_text;
  for (int i = 0; i < 12'000; ++i) long_text += "字";
  const Json payload = selecting(long_text);
  EXPECT_EQ(payload["text"].get<std::string>().size(), 10'000u * 3);
  EXPECT_EQ(payload["source"], "文本编辑器");
  EXPECT_FALSE(payload.contains("error"));

  reader.setContent({"hunter2", true});
  EXPECT_EQ(capture(), (Json{{"text", ""},
                             {"voice", false},
                             {"source", "文本编辑器"},
                             {"error", SelectionCapture::kNothingSelected}}));
  EXPECT_EQ(selecting("")["error"], SelectionCapture::kNothingSelected);
  accessibility.setTrusted(false);
  EXPECT_EQ(selecting("文字")["error"], SelectionCapture::kNeedsPermission);
}

TEST_F(SelectionCaptureTest, ASelectedFileIsReadAsAnImageWithinTheLimits) {
  const std::filesystem::path png = temp / "照片.png";
  testing::writeFile(png, seedImagePNG());
  const std::filesystem::path text = temp / "notes.txt";
  testing::writeFile(text, "/not/an/image");
  const std::filesystem::path huge = temp / "huge.png";
  testing::writeFile(huge, seedImagePNG() + std::string(SelectionCapture::kMaxFileBytes, '\0'));

  const Json image = selecting(png.string() + "\n");
  EXPECT_EQ(image["image"].get<std::string>().rfind("data:image/png;base64,iVBOR", 0), 0u);
  EXPECT_EQ(image["text"], "");
  EXPECT_FALSE(image.contains("error"));
  EXPECT_TRUE(selecting("file://" + png.parent_path().string() + "/%E7%85%A7%E7%89%87.png")
                  .contains("image"));
  for (const std::string& refused : {text.string(), huge.string()}) {
    const Json payload = selecting(refused);
    EXPECT_EQ(payload["error"], SelectionCapture::kUnreadableImage) << refused;
    EXPECT_FALSE(payload.contains("image"));
  }
  // Text that only looks like a path stays text.
  for (const std::string& kept : {(temp / "missing.png").string(), "see " + png.string()}) {
    EXPECT_EQ(selecting(kept)["text"], kept);
  }
}

}  // namespace
}  // namespace glimmet
