// The history store and its bridge operations on real temporary trees, and the
// freedesktop.org Trash that works are moved into.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>

#include "core/executors.h"
#include "core/files.h"
#include "core/text.h"
#include "core/uuid.h"
#include "history/history_actions.h"
#include "history/history_fixtures.h"
#include "history/plumora_history.h"
#include "imaging/image_gate.h"
#include "platform/headless/headless_clipboard.h"
#include "platform/headless/headless_workspace.h"
#include "platform/linux/freedesktop_trash.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using namespace testing;

std::vector<std::string> namesIn(const fs::path& directory) {
  std::vector<std::string> names;
  if (!fs::exists(directory)) return names;
  for (const auto& item : fs::directory_iterator(directory))
    names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class HistoryStoreTest : public ::testing::Test {
 protected:
  TempDir temp;
  fs::path root = temp / "history";
  PlumoraHistory store{root};
};

TEST_F(HistoryStoreTest, HostileTreesAreRefusedWithoutLeavingTheRoot) {
  const std::string image = testPNG(4, 4);
  fs::create_directories(temp / "outside");
  seedWork(temp / "outside", kWorkA, image);
  fs::create_directories(root);
  fs::create_directory_symlink(temp / "outside" / kWorkA, root / kWorkA);

  seedWork(root, kWorkB, image);
  fs::rename(root / kWorkB / "record.json", temp / "outside" / "record.json");
  fs::create_symlink(temp / "outside" / "record.json", root / kWorkB / "record.json");

  const std::string linkedImage = kWorkC;
  seedWork(root, linkedImage, "");
  fs::create_symlink(temp / "outside" / kWorkA / "image.png", root / linkedImage / "image.png");

  const std::string impostor = kWorkD;
  seedWork(root, impostor, image);
  writeFile(root / impostor / "record.json", Json({{"id", kWorkB}}).dump());

  struct Row {
    std::string id;
    std::function<void(const std::string&)> call;
    std::string message;
  };
  const Row rows[] = {
      {kWorkA, [&](auto& id) { store.entry(id); }, "历史目录越界"},
      {kWorkB, [&](auto& id) { store.readRecord(id); }, "资源记录无效"},
      {linkedImage, [&](auto& id) { store.image(id); }, "资源文件不存在或无法读取"},
      {impostor, [&](auto& id) { store.entry(id); }, "资源记录无效"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(failureOf([&] { row.call(row.id); }), row.message) << row.id;

  EXPECT_FALSE(store.entry(linkedImage)["available"]);
  EXPECT_EQ(store.list().size(), 1u);  // only linkedImage, listed as unavailable
  HeadlessWorkspace workspace(temp / "trash");
  EXPECT_EQ(failureOf([&] { store.trash(kWorkA, workspace); }), "历史目录越界");
  EXPECT_TRUE(fs::exists(temp / "outside" / kWorkA / "record.json"));
}

TEST_F(HistoryStoreTest, SizeCeilingsAreExact) {
  struct Row {
    std::uintmax_t recordBytes, imageBytes;
    bool recordRead, imageAvailable;
  };
  for (const Row& row : {Row{1'048'575, 10'485'760, true, true}, Row{1'048'576, 10, false, false},
                         Row{100, 10'485'761, true, false}}) {
    fs::remove_all(root);
    std::string record = Json({{"id", kWorkA}, {"createdAt", "x"}}).dump();
    record.resize(row.recordBytes, ' ');
    fs::create_directories(root / kWorkA);
    writeFile(root / kWorkA / "record.json", record);
    writeFile(root / kWorkA / "image.png", std::string(row.imageBytes, 'x'));
    if (!row.recordRead) {
      EXPECT_EQ(failureOf([&] { store.readRecord(kWorkA); }), "资源记录无效");
      continue;
    }
    const Json entry = store.entry(kWorkA);
    EXPECT_EQ(entry["available"], row.imageAvailable) << row.imageBytes;
    EXPECT_EQ(entry["fileBytes"], row.imageAvailable ? row.imageBytes : 0) << row.imageBytes;
  }
}

TEST_F(HistoryStoreTest, SaveStoresTheRecordAndEntry) {
  const Json entry = store.save({{"image", pngDataUrl(1024, 1536)},
                                 {"prompt", "一只在月光下奔跑的猫，背景是安静的森林和远处的雪山"},
                                 {"ratio", "16:9 and more"},
                                 {"version", 20000},
                                 {"parentId", kWorkB},
                                 {"extra", true}});
  const std::string id = entry["id"];
  EXPECT_EQ(id, Uuid::parse(id)->string());
  EXPECT_EQ(namesIn(root / id), (std::vector<std::string>{"image.png", "record.json"}));
  EXPECT_EQ(entry["storedBytes"],
            fs::file_size(root / id / "image.png") + fs::file_size(root / id / "record.json"));
  EXPECT_EQ(fs::status(root / id).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(entry["requestedRatio"], "16:9 and m");
  EXPECT_EQ(entry["ratio"], "2:3");
  EXPECT_EQ(entry["version"], 9999);
  EXPECT_EQ(entry["parentId"], kWorkB);
  EXPECT_EQ(entry["title"], "一只在月光下奔跑的猫，背景是安静的森林和远处的雪");
  EXPECT_FALSE(entry.contains("extra"));

  const DecodedImage thumbnail = image_gate::decodeImage(entry["thumbnail"].get<std::string>());
  EXPECT_EQ(std::pair(thumbnail.width, thumbnail.height), std::pair(213, 320));
}

TEST_F(HistoryStoreTest, SaveRequestRows) {
  const std::string image = pngDataUrl(10, 10);
  struct Row {
    Json request;
    std::string failure;  // empty: saved
    Json version;
  };
  const Row rows[] = {
      {{{"image", image}, {"prompt", std::string(10'000, 'a')}, {"version", 0u}}, "", 1},
      {{{"image", image}, {"prompt", ""}, {"version", "3"}}, "", 1},
      {{{"image", image}, {"prompt", std::string(10'001, 'a')}}, "历史记录无效", nullptr},
      {{{"image", image}, {"prompt", "p"}, {"parentId", "abc"}}, "原作品编号无效", nullptr},
      {{{"image", "data:image/png;base64,A"}, {"prompt", "p"}},
       "图片格式无效或超过 10 MB。",
       nullptr},
  };
  for (const Row& row : rows) {
    fs::remove_all(root);
    if (!row.failure.empty()) {
      EXPECT_EQ(failureOf([&] { store.save(row.request); }), row.failure)
          << row.request.dump(0).substr(0, 80);
      EXPECT_TRUE(namesIn(root).empty());
      continue;
    }
    const Json entry = store.save(row.request);
    EXPECT_EQ(entry["version"], row.version);
    EXPECT_EQ(entry["title"], text::graphemePrefix(row.request["prompt"].get<std::string>(), 24));
  }
}

// Each write of a save fails in turn: the error comes back and no work
// directory, half-written record or temporary file is left.
TEST_F(HistoryStoreTest, FailedWritesLeaveNoWork) {
  for (int failing = 1; failing <= 2; ++failing) {
    int writes = 0;
    const PlumoraHistory flaky(root, [&](const fs::path& target, std::string_view bytes) {
      if (++writes == failing) throw LocalAgentFailure("磁盘空间不足。");
      writeFileAtomically(target, bytes);
    });
    EXPECT_EQ(failureOf([&] {
                flaky.save({{"image", pngDataUrl(8, 8)}, {"prompt", "p"}});
              }),
              "磁盘空间不足。");
    EXPECT_TRUE(namesIn(root).empty()) << failing;
  }
}

// What a crash mid-save leaves (media without record, or a stray temporary
// record) is never listed, and broken works never hide the good ones. Ids
// compare as UUIDs, whichever case the id or the directory is written in.
TEST_F(HistoryStoreTest, ListingSkipsBrokenWorksSortsNewestFirstAndComparesIdsAsUuids) {
  const std::string image = testPNG(4, 4);
  std::string lowerA = kWorkA;
  std::transform(lowerA.begin(), lowerA.end(), lowerA.begin(), ::tolower);
  seedWork(root, kWorkA, image, "2026-01-01T00:00:00Z");
  seedWork(root, kWorkB, image, "2026-03-01T00:00:00Z");
  for (const auto& [file, content] :
       {std::pair{".record.json.Ab12Cd", "{\"id\":\"0A1B"}, std::pair{"record.json", "[1]"}}) {
    const std::string id = Uuid::random().string();
    seedWork(root, id, image);
    fs::remove(root / id / "record.json");
    writeFile(root / id / file, content);
  }
  writeFile(root / "notes.txt", "x");

  const Json entries = store.list();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["id"], kWorkB);
  EXPECT_EQ(entries[1]["id"], kWorkA);
  EXPECT_EQ(store.mediaFile(lowerA), root / kWorkA / "image.png");
  fs::rename(root / kWorkA, root / lowerA);
  EXPECT_EQ(store.entry(lowerA)["id"], kWorkA);
}

TEST_F(HistoryStoreTest, RenameRows) {
  seedWork(root, kWorkA, testPNG(4, 4));
  const std::string refused = "名称需为 1–200 个字符，且不能包含控制字符";
  const std::pair<std::string, std::string> rows[] = {
      {"  资源重命名  ", "资源重命名"},
      {std::string(200, 'n'), std::string(200, 'n')},
      {std::string(201, 'n'), refused},
      {"a\tb", refused}};
  for (const auto& [name, outcome] : rows) {
    const std::string failure = failureOf([&, &name = name] { store.rename(kWorkA, name); });
    EXPECT_EQ(failure == refused ? failure : store.readRecord(kWorkA)["title"].get<std::string>(),
              outcome)
        << name;
  }
  EXPECT_EQ(store.readRecord(kWorkA)["prompt"], "p");
}

class HistoryActionsTest : public HistoryStoreTest {
 protected:
  HistoryActionsTest() {
    seedWork(root, kWorkA, testPNG(6, 4), "2026-02-01T00:00:00Z");
    seedWork(root, kWorkB, "mp4", "2026-01-01T00:00:00Z", "video");
  }

  // Sends one request and answers the script that settles it, written for message 0.
  std::string call(void (HistoryActions::*action)(std::int64_t, const Json&), const Json& value) {
    const std::int64_t id = ++nextId;
    (actions.*action)(id, value);
    EXPECT_TRUE(spinMainUntil([&] { return replies.count(id) != 0; }));
    return replies[id];
  }

  HeadlessClipboard clipboard;
  HeadlessWorkspace workspace{temp / "trash"};
  std::map<std::int64_t, std::string> replies;
  std::int64_t nextId = 0;
  SerialQueue queue{HistoryActions::kQueueLabel};
  HistoryActions actions{
      store, queue, clipboard, workspace,
      [this](std::int64_t id, const BridgeReply& reply) { replies[id] = reply.script(0); }};
};

TEST_F(HistoryActionsTest, ArgumentErrorsHaveTheirFixedReplies) {
  const auto action = [&](const Json& value) {
    return call(&HistoryActions::libraryAction, value);
  };
  EXPECT_EQ(call(&HistoryActions::historyImage, 42), "window.__plumoraReject(0,\"历史参数无效\");");
  EXPECT_EQ(action({{"id", kWorkA}, {"action", "delete"}}),
            "window.__plumoraReject(0,'资源操作无效');");
  EXPECT_EQ(action({{"id", kWorkA}, {"action", "rename"}}),
            "window.__plumoraReject(0,\"请输入作品名称\");");

  Json tooMany = Json::array();
  for (int i = 0; i < 501; ++i) tooMany.push_back(std::to_string(i));
  for (const Json& ids : {tooMany, Json{kWorkA, kWorkA}}) {
    EXPECT_EQ(call(&HistoryActions::libraryTrash, {{"ids", ids}}),
              "window.__plumoraReject(0,'清理列表无效');");
  }
  EXPECT_TRUE(fs::exists(root / kWorkA));
}

TEST_F(HistoryActionsTest, ListRenameAndMedia) {
  EXPECT_EQ(
      call(&HistoryActions::libraryAction, {{"id", kWorkA}, {"action", "rename"}, {"name", "新"}}),
      "window.__plumoraResolve(0,{ok:true});");
  EXPECT_NE(call(&HistoryActions::historyList, nullptr).find("\"title\":\"新\""),
            std::string::npos);

  EXPECT_EQ(call(&HistoryActions::libraryPreview, kWorkA),
            "window.__plumoraResolve(0,\"plumora:\\/\\/local\\/history-preview\\/" +
                std::string(kWorkA) + "\\/image.png\");");
  EXPECT_EQ(call(&HistoryActions::libraryMedia, kWorkB),
            "window.__plumoraResolve(0,\"plumora-video:" + std::string(kWorkB) + "\");");
  EXPECT_TRUE(call(&HistoryActions::libraryMedia, kWorkA)
                  .starts_with("window.__plumoraResolve(0,\"data:image\\/png;base64,"));
  EXPECT_EQ(call(&HistoryActions::historyImage, kWorkB),
            "window.__plumoraReject(0,\"视频不能作为图片读取\");");
}

TEST_F(HistoryActionsTest, MediaActionsUseClipboardAndFileManager) {
  const auto media = [&](const std::string& id, const char* action) {
    return call(&HistoryActions::libraryAction, {{"id", id}, {"action", action}});
  };
  const std::string ok = "window.__plumoraResolve(0,{ok:true});";
  EXPECT_EQ(media(kWorkB, "copy"), ok);
  EXPECT_EQ(clipboard.fileUrls(), std::vector<fs::path>{root / kWorkB / "video.mp4"});
  EXPECT_EQ(media(kWorkA, "copy"), ok);
  EXPECT_TRUE(clipboard.image());
  EXPECT_EQ(media(kWorkA, "copyPath"), ok);
  EXPECT_EQ(clipboard.text(), (root / kWorkA / "image.png").string());
  EXPECT_EQ(media(kWorkA, "reveal"), ok);
  EXPECT_EQ(workspace.revealedFiles(), std::vector<fs::path>{root / kWorkA / "image.png"});
  clipboard.setAccepting(false);
  EXPECT_EQ(media(kWorkA, "copyPath"), "window.__plumoraResolve(0,{ok:false});");
  EXPECT_EQ(media("../x", "copy"), "window.__plumoraReject(0,\"作品编号无效\");");
}

TEST_F(HistoryActionsTest, TrashReportsEachWork) {
  const std::string missing = "0A1B2C3D-0000-4000-8000-0000000000FF";
  // Too long to be an id, though it starts with one: refused, and named by no
  // more than an id's length.
  const std::string overlong = kWorkB + std::string(100'000, 'x');
  const auto allocated = store.storage(kWorkA).allocated;
  const std::string reply =
      call(&HistoryActions::libraryTrash, {{"ids", {kWorkA, missing, overlong}}});
  const std::string prefix = "window.__plumoraResolve(0,";
  ASSERT_TRUE(reply.starts_with(prefix)) << reply.substr(0, 200);
  const Json result = Json::parse(reply.substr(prefix.size(), reply.size() - prefix.size() - 2));
  EXPECT_EQ(result["removed"], Json{kWorkA});
  EXPECT_EQ(result["failed"], Json::array({{{"id", missing}, {"message", "文件或文件夹不存在。"}},
                                           {{"id", kWorkB}, {"message", "作品编号无效"}}}));
  EXPECT_TRUE(fs::exists(root / kWorkB));
  EXPECT_EQ(result["removedBytes"], allocated);
  EXPECT_FALSE(fs::exists(root / kWorkA));
  EXPECT_EQ(workspace.trashedItems().size(), 1u);
}

TEST(FreedesktopTrashTest, HomeTrashRecordsOriginKeepsNamesUniqueAndRefusesItself) {
  TempDir temp;
  const FreedesktopTrash trash(temp / "data" / "Trash");
  const fs::path work = temp / "history" / "作品 1";
  fs::create_directories(work);
  writeFile(work / "record.json", "{}");

  const Result<fs::path> first = trash.moveToTrash(work);
  ASSERT_TRUE(first) << first.failure().message();
  EXPECT_EQ(first.value(), temp / "data" / "Trash" / "files" / "作品 1");
  EXPECT_EQ(readFile(first.value() / "record.json"), "{}");
  EXPECT_FALSE(fs::exists(work));
  const std::string info = readFile(temp / "data" / "Trash" / "info" / "作品 1.trashinfo");
  const std::regex expected("\\[Trash Info\\]\nPath=" + (temp / "history").string() +
                            "/%E4%BD%9C%E5%93%81%201\n"
                            "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
  EXPECT_TRUE(std::regex_match(info, expected)) << info;

  fs::create_directories(work);
  const Result<fs::path> second = trash.moveToTrash(work);
  ASSERT_TRUE(second);
  EXPECT_NE(second.value(), first.value());
  EXPECT_TRUE(fs::exists(temp / "data" / "Trash" / "info" /
                         (second.value().filename().string() + ".trashinfo")));

  EXPECT_EQ(trash.moveToTrash(temp / "missing").failure().message(), "文件或文件夹不存在。");
  // Trashing the folder that holds the Trash would move the Trash into itself.
  EXPECT_EQ(trash.moveToTrash(temp / "data").failure().message(), "不能将废纸篓本身移到废纸篓。");
  EXPECT_TRUE(fs::is_directory(temp / "data" / "Trash"));
}

}  // namespace
}  // namespace glimmet
