#include "bridge/media_actions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "history/history_fixtures.h"
#include "history/plumora_history.h"
#include "imaging/image_gate.h"
#include "platform/headless/headless_clipboard.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_video_player.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::pngDataUrl;
using testing::readFile;
using testing::seedWork;
using testing::TempDir;

constexpr const char* kVideoWork = "0A1B2C3D-0000-4000-8000-00000000000B";
constexpr const char* kOtherVideo = "0A1B2C3D-0000-4000-8000-00000000000C";

std::string repeated(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

class MediaActionsTest : public ::testing::Test {
 protected:
  MediaActionsTest() {
    seedWork(root, kVideoWork, "mp4", "2026-01-01T00:00:00Z", "video");
    seedWork(root, kOtherVideo, "mp4", "2026-01-02T00:00:00Z", "video");
    imageWork = store.save({{"image", pngDataUrl(4, 4)}, {"prompt", "p"}})["id"];
  }

  // Sends one request and answers the script that settled it, written for
  // message 0; "" when nothing settled it yet.
  std::string call(void (MediaActions::*action)(std::int64_t, const Json&), const Json& value) {
    (actions.*action)(++nextId, value);
    return settled(nextId);
  }
  std::string settled(std::int64_t id) const {
    const auto found = replies.find(id);
    return found == replies.end() ? "" : found->second.script(0);
  }
  static std::string resolved(const std::string& text) {
    return "window.__plumoraResolve(0," + text + ");";
  }
  static std::string rejected(const std::string& message) {
    return "window.__plumoraReject(0,\"" + message + "\");";
  }
  Json video(const std::string& id, double x, double y, double width, double height) const {
    return {{"id", id}, {"x", x}, {"y", y}, {"width", width}, {"height", height}};
  }

  MediaActions::Host host() {
    MediaActions::Host host;
    host.webViewSize = [] { return MediaActions::WebViewSize{748, 740}; };
    host.beginFilePanel = [this] { return !std::exchange(panelOpen, true); };
    host.endFilePanel = [this] { panelOpen = false; };
    host.librarySmokeTest = true;
    host.printLine = [this](const std::string& line) { lines.push_back(line); };
    return host;
  }

  TempDir temp;
  fs::path root = temp / "history";
  PlumoraHistory store{root};
  std::string imageWork;
  HeadlessClipboard clipboard;
  HeadlessFilePanels panels;
  HeadlessVideoPlayer player;
  bool panelOpen = false;
  std::vector<std::string> lines;
  std::map<std::int64_t, BridgeReply> replies;
  std::int64_t nextId = 0;
  MediaActions actions{store,
                       clipboard,
                       panels,
                       player,
                       host(),
                       [this](std::int64_t id, const BridgeReply& reply) {
                         replies.insert_or_assign(id, reply); }};
};

TEST_F(MediaActionsTest, LibraryVideoRefusesBadFramesAndWorks) {
  const struct {
    Json value;
    std::string message;
  } rows[] = {
      {video(kVideoWork, 0, 0, 1, 100), "视频预览位置无效"},
      {video(kVideoWork, 700, 0, 49.5, 100), "视频预览位置无效"},
      {video(kVideoWork, 0, 641, 100, 100.5), "视频预览位置无效"},
      {video(kVideoWork, -0.5, 0, 100, 100), "视频预览位置无效"},
      {{{"id", 7}, {"x", 0}, {"y", 0}, {"width", 10}, {"height", 10}}, "视频预览位置无效"},
      {{{"id", kVideoWork}, {"x", "0"}, {"y", 0}, {"width", 10}, {"height", 10}},
       "视频预览位置无效"},
      {video(imageWork, 0, 0, 100, 100), "不是视频资源"},
      {video("../x", 0, 0, 100, 100), "作品编号无效"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(call(&MediaActions::libraryVideo, row.value), rejected(row.message)) << row.value;
  }
  EXPECT_EQ(player.showCount(), 0);

  // The far edges have one point of slack.
  EXPECT_EQ(call(&MediaActions::libraryVideo, video(kVideoWork, 700, 640, 49, 101)),
            resolved("true"));
  ASSERT_TRUE(player.current());
  EXPECT_EQ(player.current()->file, root / kVideoWork / "video.mp4");
  EXPECT_EQ(player.current()->accessibleName, "资源视频播放器");
  EXPECT_FALSE(player.isPlaying());

  // A refused request leaves the player as it was.
  EXPECT_EQ(call(&MediaActions::libraryVideo, video(imageWork, 0, 0, 100, 100)),
            rejected("不是视频资源"));
  EXPECT_EQ(actions.libraryVideoId(), kVideoWork);
}

TEST_F(MediaActionsTest, OnePlayerMovedReplacedPausedAndCleared) {
  call(&MediaActions::libraryVideo, video(kVideoWork, 10, 20, 300, 200));
  EXPECT_EQ(call(&MediaActions::libraryVideo, video(kVideoWork, 40, 50, 320, 180)),
            resolved("true"));
  EXPECT_EQ(player.showCount(), 1);
  EXPECT_EQ(player.moveCount(), 1);
  EXPECT_EQ(player.current()->frame, (PageRect{40, 50, 320, 180}));

  // The smoke test hears each rate change, pausing included.
  player.setRate(1, 0.5);
  actions.pauseLibraryVideo();
  EXPECT_EQ(lines, (std::vector<std::string>{"LIBRARY_VIDEO rate=1.0 time=0.5",
                                             "LIBRARY_VIDEO rate=0.0 time=0.5"}));
  EXPECT_TRUE(player.current());

  call(&MediaActions::libraryVideo, video(kOtherVideo, 0, 0, 100, 100));
  EXPECT_EQ(player.showCount(), 2);
  EXPECT_EQ(player.current()->file, root / kOtherVideo / "video.mp4");

  for (const Json& stop : {Json(nullptr), Json("x")}) {
    call(&MediaActions::libraryVideo, video(kVideoWork, 0, 0, 100, 100));
    EXPECT_EQ(call(&MediaActions::libraryVideo, stop), resolved("true"));
    EXPECT_FALSE(player.current());
    EXPECT_FALSE(actions.libraryVideoId());
  }
}

TEST_F(MediaActionsTest, SaveImageHoldsTheFilePanelSlot) {
  const std::string image = pngDataUrl(5, 3);

  EXPECT_EQ(call(&MediaActions::saveImage, 42), rejected("图片格式无效或超过 10 MB。"));
  panelOpen = true;
  EXPECT_EQ(call(&MediaActions::saveImage, image), rejected("请先完成当前文件选择"));
  EXPECT_EQ(panels.pendingCount(), 0u);
  panelOpen = false;

  EXPECT_EQ(call(&MediaActions::saveImage, image), "");
  ASSERT_TRUE(panels.pendingSave());
  EXPECT_EQ(panels.pendingSave()->suggestedFileName, "Glimmet.png");
  EXPECT_TRUE(panelOpen);
  panels.cancel();
  EXPECT_EQ(settled(nextId), resolved("false"));
  EXPECT_FALSE(panelOpen);

  const fs::path target = temp / "out" / "saved.png";
  fs::create_directories(target.parent_path());
  testing::writeFile(target, "old");
  call(&MediaActions::saveImage, image);
  panels.answerSave(target);
  EXPECT_EQ(settled(nextId), resolved("true"));
  const Bytes png = image_gate::decodeImage(image).data;
  EXPECT_EQ(readFile(target), std::string(png.begin(), png.end()));
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), {}), 1);

  call(&MediaActions::saveImage, image);
  panels.answerSave(temp / "missing" / "saved.png");
  EXPECT_EQ(settled(nextId).rfind("window.__plumoraReject(0,", 0), 0u) << settled(nextId);
  EXPECT_FALSE(panelOpen);
}

TEST_F(MediaActionsTest, CopyAnswersWhetherTheClipboardTookIt) {
  const std::string image = pngDataUrl(2, 2);
  const std::string base64 = image.substr(image.find(',') + 1);
  for (const Json& value : {Json("data:image/png;base64" + base64), Json(image + ",AAAA"),
                            Json("data:text/plain;base64," + base64),
                            Json("data:image/png;base64,bm90IGFuIGltYWdl"), Json(7)}) {
    EXPECT_EQ(call(&MediaActions::copyImage, value), resolved("false")) << value;
  }
  EXPECT_EQ(call(&MediaActions::copyText, repeated("字", 50'001)), resolved("false"));
  EXPECT_EQ(call(&MediaActions::copyText, nullptr), resolved("false"));
  EXPECT_EQ(clipboard.writeCount(), 0);

  EXPECT_EQ(call(&MediaActions::copyImage, image), resolved("true"));
  EXPECT_TRUE(clipboard.image());
  EXPECT_EQ(call(&MediaActions::copyText, repeated("字", 50'000)), resolved("true"));
  clipboard.setAccepting(false);
  EXPECT_EQ(call(&MediaActions::copyText, "x"), resolved("false"));
  EXPECT_EQ(call(&MediaActions::copyImage, image), resolved("false"));
}

TEST_F(MediaActionsTest, ClipboardAnswersAtMostItsFirstCharacters) {
  EXPECT_EQ(call(&MediaActions::clipboard, nullptr), resolved("\"\""));
  // "é" written as e and a combining accent is one character of three bytes.
  clipboard.writeText(repeated("e\xCC\x81", 5'000));
  EXPECT_EQ(call(&MediaActions::clipboard, nullptr),
            resolved("\"" + repeated("e\xCC\x81", 3'000) + "\""));
}

}  // namespace
}  // namespace glimmet
