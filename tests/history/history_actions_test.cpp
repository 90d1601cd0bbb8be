#include "history/history_actions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "core/executors.h"
#include "history/history_fixtures.h"
#include "platform/headless/headless_clipboard.h"
#include "platform/headless/headless_workspace.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::pngFileBytes;
using testing::seedWork;
using testing::spinMainUntil;
using testing::TempDir;

constexpr const char* kImageWork = "0A1B2C3D-0000-4000-8000-00000000000A";
constexpr const char* kVideoWork = "0A1B2C3D-0000-4000-8000-00000000000B";

class HistoryActionsTest : public ::testing::Test {
 protected:
  HistoryActionsTest() {
    seedWork(root, kImageWork, pngFileBytes(6, 4), "2026-02-01T00:00:00Z");
    seedWork(root, kVideoWork, "mp4", "2026-01-01T00:00:00Z", "video");
  }

  // Sends one request and answers the script that settles it.
  std::string call(void (HistoryActions::*action)(std::int64_t, const Json&), const Json& value) {
    const std::int64_t id = ++nextId;
    (actions.*action)(id, value);
    EXPECT_TRUE(spinMainUntil([&] { return replies.count(id) != 0; }));
    return replies[id];
  }

  TempDir temp;
  fs::path root = temp / "history";
  PlumoraHistory store{root};
  HeadlessClipboard clipboard;
  HeadlessWorkspace workspace{temp / "trash"};
  std::map<std::int64_t, std::string> replies;
  std::int64_t nextId = 0;
  SerialQueue queue{HistoryActions::kQueueLabel};
  HistoryActions actions{
      store, queue, clipboard, workspace,
      [this](std::int64_t id, const BridgeReply& reply) { replies[id] = reply.script(id); }};
};

TEST_F(HistoryActionsTest, ArgumentErrorsHaveTheirFixedReplies) {
  EXPECT_EQ(call(&HistoryActions::historyImage, 42), "window.__plumoraReject(1,\"历史参数无效\");");
  EXPECT_EQ(call(&HistoryActions::historySave, "x"), "window.__plumoraReject(2,\"历史参数无效\");");
  EXPECT_EQ(call(&HistoryActions::libraryAction, {{"id", kImageWork}, {"action", "delete"}}),
            "window.__plumoraReject(3,'资源操作无效');");
  EXPECT_EQ(call(&HistoryActions::libraryAction, {{"id", kImageWork}, {"action", "rename"}}),
            "window.__plumoraReject(4,\"请输入作品名称\");");
  EXPECT_EQ(call(&HistoryActions::libraryAction,
                 {{"id", kImageWork}, {"action", "rename"}, {"name", "   "}}),
            "window.__plumoraReject(5,\"名称需为 1–200 个字符，且不能包含控制字符\");");
  for (const Json& name : {Json(5), Json(nullptr)}) {
    const std::string reply = call(&HistoryActions::libraryAction,
                                   {{"id", kImageWork}, {"action", "rename"}, {"name", name}});
    EXPECT_EQ(reply, "window.__plumoraReject(" + std::to_string(nextId) + ",'资源操作无效');");
  }

  Json tooMany = Json::array();
  for (int i = 0; i < 501; ++i) tooMany.push_back(std::to_string(i));
  for (const Json& ids : {tooMany, Json::array(), Json{kImageWork, kImageWork}, Json{1}}) {
    const std::string reply = call(&HistoryActions::libraryTrash, {{"ids", ids}});
    EXPECT_EQ(reply, "window.__plumoraReject(" + std::to_string(nextId) + ",'清理列表无效');");
  }
  EXPECT_TRUE(fs::exists(root / kImageWork));
}

TEST_F(HistoryActionsTest, ListRenameAndMedia) {
  EXPECT_EQ(call(&HistoryActions::libraryAction,
                 {{"id", kImageWork}, {"action", "rename"}, {"name", " 新名字 "}}),
            "window.__plumoraResolve(1,{ok:true});");
  EXPECT_EQ(store.list().size(), 2u);
  const std::string listing = call(&HistoryActions::historyList, nullptr);
  EXPECT_NE(listing.find("\"title\":\"新名字\""), std::string::npos);
  EXPECT_LT(listing.find(kImageWork), listing.find(kVideoWork));
  EXPECT_NE(listing.find("\"kind\":\"video\""), std::string::npos);

  EXPECT_EQ(call(&HistoryActions::libraryPreview, kImageWork),
            "window.__plumoraResolve(3,\"plumora:\\/\\/local\\/history-preview\\/" +
                std::string(kImageWork) + "\\/image.png\");");
  EXPECT_EQ(call(&HistoryActions::libraryMedia, kVideoWork),
            "window.__plumoraResolve(4,\"plumora-video:" + std::string(kVideoWork) + "\");");
  EXPECT_EQ(call(&HistoryActions::libraryMedia, kImageWork)
                .rfind("window.__plumoraResolve(5,\"data:image\\/png;base64,", 0),
            0u);
  EXPECT_EQ(call(&HistoryActions::historyImage, kVideoWork),
            "window.__plumoraReject(6,\"视频不能作为图片读取\");");
}

TEST_F(HistoryActionsTest, MediaActionsUseClipboardAndFileManager) {
  const auto media = [&](const char* id, const char* action) {
    return call(&HistoryActions::libraryAction, {{"id", id}, {"action", action}});
  };
  EXPECT_EQ(media(kVideoWork, "copy"), "window.__plumoraResolve(1,{ok:true});");
  EXPECT_EQ(clipboard.fileUrls(), std::vector<fs::path>{root / kVideoWork / "video.mp4"});
  EXPECT_EQ(media(kImageWork, "copy"), "window.__plumoraResolve(2,{ok:true});");
  EXPECT_TRUE(clipboard.image());
  EXPECT_EQ(media(kImageWork, "copyPath"), "window.__plumoraResolve(3,{ok:true});");
  EXPECT_EQ(clipboard.text(), (root / kImageWork / "image.png").string());
  EXPECT_EQ(media(kImageWork, "reveal"), "window.__plumoraResolve(4,{ok:true});");
  EXPECT_EQ(workspace.revealedFiles(), std::vector<fs::path>{root / kImageWork / "image.png"});
  clipboard.setAccepting(false);
  EXPECT_EQ(media(kImageWork, "copyPath"), "window.__plumoraResolve(5,{ok:false});");
  EXPECT_EQ(media("../x", "copy"), "window.__plumoraReject(6,\"作品编号无效\");");
}

TEST_F(HistoryActionsTest, TrashReportsEachWork) {
  const std::string missing = "0A1B2C3D-0000-4000-8000-0000000000FF";
  // Too long to be an id, though it starts with one: refused, and named by no
  // more than an id's length.
  const std::string overlong = kVideoWork + std::string(100'000, 'x');
  const auto allocated = store.storage(kImageWork).allocated;
  const std::string reply =
      call(&HistoryActions::libraryTrash, {{"ids", {kImageWork, missing, overlong}}});
  const std::string prefix = "window.__plumoraResolve(1,";
  ASSERT_EQ(reply.rfind(prefix, 0), 0u) << reply.substr(0, 200);
  const Json result = Json::parse(reply.substr(prefix.size(), reply.size() - prefix.size() - 2));
  EXPECT_EQ(result["removed"], Json{kImageWork});
  EXPECT_EQ(result["failed"], Json::array({{{"id", missing}, {"message", "文件或文件夹不存在。"}},
                                           {{"id", kVideoWork}, {"message", "作品编号无效"}}}));
  EXPECT_TRUE(fs::exists(root / kVideoWork));
  EXPECT_EQ(result["removedBytes"], allocated);
  EXPECT_FALSE(fs::exists(root / kImageWork));
  EXPECT_EQ(workspace.trashedItems().size(), 1u);
}

}  // namespace
}  // namespace glimmet
