#include "platform/linux/freedesktop_trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(FreedesktopTrashTest, HomeTrashRecordsOriginAndKeepsNamesUnique) {
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
}

TEST(FreedesktopTrashTest, RefusalsLeaveEverythingInPlace) {
  TempDir temp;
  const FreedesktopTrash trash(temp / "data" / "Trash");
  EXPECT_EQ(trash.moveToTrash(temp / "missing").failure().message(), "文件或文件夹不存在。");
  EXPECT_FALSE(fs::exists(temp / "data" / "Trash" / "info" / "missing.trashinfo"));
  // Trashing the folder that holds the Trash would move the Trash into itself.
  fs::create_directories(temp / "data");
  EXPECT_EQ(trash.moveToTrash(temp / "data").failure().message(), "不能将废纸篓本身移到废纸篓。");
  EXPECT_TRUE(fs::is_directory(temp / "data" / "Trash"));
}

// An item on another file system goes to that volume's .Trash-$uid with a
// path relative to the volume. /dev/shm is a separate tmpfs in most setups.
TEST(FreedesktopTrashTest, OtherFileSystemUsesTheVolumeTrash) {
  TempDir temp;
  struct stat home {
  }, shm{};
  if (::stat(temp.path().c_str(), &home) != 0 || ::stat("/dev/shm", &shm) != 0 ||
      home.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0) {
    GLIMMET_PEER_MISSING("no writable second file system at /dev/shm");
  }
  const fs::path volumeTrash = "/dev/shm/.Trash-" + std::to_string(::getuid());
  const bool hadVolumeTrash = fs::exists(volumeTrash);
  const fs::path item = "/dev/shm/glimmet-trash-test-" + std::to_string(::getpid());
  writeFile(item, "x");

  const FreedesktopTrash trash(temp / "data" / "Trash");
  const Result<fs::path> landed = trash.moveToTrash(item);
  ASSERT_TRUE(landed) << landed.failure().message();
  EXPECT_EQ(landed.value().parent_path(), volumeTrash / "files");
  EXPECT_EQ(readFile(landed.value()), "x");
  EXPECT_EQ(fs::status(volumeTrash).permissions() & fs::perms::all, fs::perms::owner_all);
  const fs::path info = volumeTrash / "info" / (landed.value().filename().string() + ".trashinfo");
  EXPECT_NE(readFile(info).find("\nPath=" + item.filename().string() + "\n"), std::string::npos);

  std::error_code ignored;
  fs::remove(landed.value(), ignored);
  fs::remove(info, ignored);
  if (!hadVolumeTrash) fs::remove_all(volumeTrash, ignored);
}

}  // namespace
}  // namespace glimmet
