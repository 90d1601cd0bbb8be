#include "history/plumora_history.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/base64.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/text.h"
#include "core/uuid.h"
#include "history/history_fixtures.h"
#include "platform/headless/headless_workspace.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::failureOf;

namespace fs = std::filesystem;
using testing::pngDataUrl;
using testing::pngFileBytes;
using testing::seedWork;
using testing::TempDir;
using testing::writeFile;

constexpr const char* kA = "0A1B2C3D-0000-4000-8000-00000000000A";
constexpr const char* kB = "0A1B2C3D-0000-4000-8000-00000000000B";

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
  const std::string image = pngFileBytes(4, 4);
  fs::create_directories(temp / "outside");
  seedWork(temp / "outside", kA, image);
  fs::create_directories(root);
  fs::create_directory_symlink(temp / "outside" / kA, root / kA);

  seedWork(root, kB, image);
  fs::rename(root / kB / "record.json", temp / "outside" / "record.json");
  fs::create_symlink(temp / "outside" / "record.json", root / kB / "record.json");

  const std::string linkedImage = "0A1B2C3D-0000-4000-8000-00000000000C";
  seedWork(root, linkedImage, "");
  fs::create_symlink(temp / "outside" / kA / "image.png", root / linkedImage / "image.png");

  const std::string impostor = "0A1B2C3D-0000-4000-8000-00000000000D";
  seedWork(root, impostor, image);
  writeFile(root / impostor / "record.json", Json({{"id", kB}}).dump());

  struct Row {
    std::string id;
    std::function<void(const std::string&)> call;
    std::string message;
  };
  const Row rows[] = {
      {"../outside", [&](auto& id) { store.directory(id); }, "作品编号无效"},
      {"not-a-uuid", [&](auto& id) { store.list(), store.entry(id); }, "作品编号无效"},
      {kA, [&](auto& id) { store.entry(id); }, "历史目录越界"},
      {kB, [&](auto& id) { store.readRecord(id); }, "资源记录无效"},
      {linkedImage, [&](auto& id) { store.image(id); }, "资源文件不存在或无法读取"},
      {impostor, [&](auto& id) { store.entry(id); }, "资源记录无效"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(failureOf([&] { row.call(row.id); }), row.message) << row.id;

  EXPECT_FALSE(store.entry(linkedImage)["available"]);
  EXPECT_EQ(store.list().size(), 1u);  // only linkedImage, listed as unavailable
  HeadlessWorkspace workspace(temp / "trash");
  EXPECT_EQ(failureOf([&] { store.trash(kA, workspace); }), "历史目录越界");
  EXPECT_TRUE(workspace.trashedItems().empty());
  EXPECT_TRUE(fs::exists(temp / "outside" / kA / "record.json"));
}

TEST_F(HistoryStoreTest, SizeCeilingsAreExact) {
  struct Row {
    std::uintmax_t recordBytes, imageBytes;
    bool recordRead, imageAvailable;
  };
  for (const Row& row : {Row{1'048'575, 10'485'760, true, true}, Row{1'048'576, 10, false, false},
                         Row{100, 10'485'761, true, false}}) {
    fs::remove_all(root);
    std::string record = Json({{"id", kA}, {"createdAt", "x"}}).dump();
    record.resize(row.recordBytes, ' ');
    fs::create_directories(root / kA);
    writeFile(root / kA / "record.json", record);
    writeFile(root / kA / "image.png", std::string(row.imageBytes, 'x'));
    if (!row.recordRead) {
      EXPECT_EQ(failureOf([&] { store.readRecord(kA); }), "资源记录无效");
      EXPECT_TRUE(store.list().empty());
      continue;
    }
    const Json entry = store.entry(kA);
    EXPECT_EQ(entry["available"], row.imageAvailable) << row.imageBytes;
    EXPECT_EQ(entry["fileBytes"], row.imageAvailable ? row.imageBytes : 0) << row.imageBytes;
    if (!row.imageAvailable) {
      EXPECT_EQ(failureOf([&] { store.image(kA); }), "资源文件不存在或无法读取");
    }
  }
}

TEST_F(HistoryStoreTest, SaveStoresTheRecordAndEntry) {
  const Json entry = store.save({{"image", pngDataUrl(1024, 1536)},
                                 {"prompt", "一只在月光下奔跑的猫，背景是安静的森林和远处的雪山"},
                                 {"ratio", "16:9 and more"},
                                 {"version", 20000},
                                 {"parentId", kB},
                                 {"model", std::string(300, 'm')},
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
  EXPECT_EQ(entry["parentId"], kB);
  EXPECT_EQ(entry["title"], "一只在月光下奔跑的猫，背景是安静的森林和远处的雪");
  EXPECT_FALSE(entry.contains("extra"));

  const std::string thumbnail = entry["thumbnail"];
  const Bytes png = *base64Decode(thumbnail.substr(thumbnail.find(',') + 1));
  VipsImage* small = vips_image_new_from_buffer(png.data(), png.size(), "", nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(vips_image_get_height(small), 320);
  EXPECT_EQ(vips_image_get_width(small), 213);
  g_object_unref(small);

  EXPECT_EQ(store.image(id).rfind("data:image/png;base64,", 0), 0u);
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
      {{{"image", image}, {"prompt", "p"}, {"version", 7}}, "", 7},
      {{{"image", image}, {"prompt", std::string(10'001, 'a')}}, "历史记录无效", nullptr},
      {{{"image", image}}, "历史记录无效", nullptr},
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
    EXPECT_EQ(entry["ratio"], "1:1");
    EXPECT_EQ(entry["requestedRatio"], "1:1");
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
// record) is never listed, and broken works never hide the good ones.
TEST_F(HistoryStoreTest, ListingSkipsBrokenWorksAndSortsNewestFirst) {
  EXPECT_TRUE(store.list().empty());
  const std::string image = pngFileBytes(4, 4);
  seedWork(root, kA, image, "2026-01-01T00:00:00Z");
  seedWork(root, kB, image, "2026-03-01T00:00:00Z");
  const std::pair<std::string, std::string> broken[] = {
      {".record.json.Ab12Cd", "{\"id\":\"0A1B"},  // a save cut short before its record
      {"record.json", "{\"id\":"},
      {"record.json", "[1]"}};
  for (const auto& [file, content] : broken) {
    const std::string id = Uuid::random().string();
    seedWork(root, id, image);
    fs::remove(root / id / "record.json");
    writeFile(root / id / file, content);
  }
  writeFile(root / "notes.txt", "x");
  fs::create_directories(root / "not-a-uuid");

  const Json entries = store.list();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["id"], kB);
  EXPECT_EQ(entries[1]["id"], kA);
}

TEST_F(HistoryStoreTest, RenameRows) {
  seedWork(root, kA, pngFileBytes(4, 4));
  const std::string refused = "名称需为 1–200 个字符，且不能包含控制字符";
  const std::pair<std::string, std::string> rows[] = {
      {"  资源重命名  ", "资源重命名"},
      {std::string(200, 'n'), std::string(200, 'n')},
      {"   ", refused},
      {std::string(201, 'n'), refused},
      {"a\tb", refused}};
  for (const auto& [name, outcome] : rows) {
    const std::string failure = failureOf([&, &name = name] { store.rename(kA, name); });
    EXPECT_EQ(failure == refused ? failure : store.readRecord(kA)["title"].get<std::string>(),
              outcome)
        << name;
  }
  EXPECT_EQ(store.readRecord(kA)["prompt"], "p");
}

// Identifiers compare as UUIDs: a lower-case directory name finds a record
// whose "id" is written in upper case, and a lower-case id finds a work the
// store saved under its upper-case name.
TEST_F(HistoryStoreTest, IdentifiersCompareAsUuids) {
  const auto lowered = [](std::string id) {
    std::transform(id.begin(), id.end(), id.begin(), ::tolower);
    return id;
  };
  const std::string lower = lowered(kA);
  seedWork(root, lower, "x");
  writeFile(root / lower / "record.json", Json({{"id", kA}}).dump());
  EXPECT_EQ(store.entry(lower)["id"], kA);

  const std::string saved =
      store.save({{"image", pngDataUrl(8, 8)}, {"prompt", "p"}})["id"].get<std::string>();
  EXPECT_EQ(store.mediaFile(lowered(saved)), root / saved / "image.png");
}

}  // namespace
}  // namespace glimmet
