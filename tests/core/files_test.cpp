// Atomic replacement, private modes, bounded reads and confinement of paths
// that come from outside input.
#include "core/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_support.h"

namespace glimmet {
namespace {
namespace fs = std::filesystem;
using testing::TempDir;

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

std::size_t entryCount(const fs::path& dir) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(AtomicWrite, ReplacesContentPrivatelyAndLeavesNothingElse) {
  TempDir dir;
  testing::writeFile(dir / "record.json", "old");
  writeFileAtomically(dir / "record.json", "new content");
  EXPECT_EQ(testing::readFile(dir / "record.json"), "new content");
  EXPECT_EQ(modeOf(dir / "record.json"), 0600u);
  EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST(AtomicWrite, FailureKeepsTheTargetAndRemovesTheTemporaryFile) {
  TempDir dir;
  fs::create_directory(dir / "taken");  // a directory cannot be replaced by a file
  testing::writeFile(dir / "taken" / "inside", "keep");
  EXPECT_THROW(writeFileAtomically(dir / "taken", "x"), LocalAgentFailure);
  EXPECT_EQ(testing::readFile(dir / "taken" / "inside"), "keep");
  EXPECT_EQ(entryCount(dir.path()), 1u);

  EXPECT_THROW(writeFileAtomically(dir / "missing" / "file", "x"), LocalAgentFailure);
}

TEST(PrivateDirectories, CreatesMissingLevelsPrivatelyAndKeepsExistingOnes) {
  TempDir dir;
  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms(0755));
  const mode_t previous = ::umask(0);
  createPrivateDirectories(dir / "shared" / "a" / "b");
  ::umask(previous);
  EXPECT_EQ(modeOf(dir / "shared"), 0755u);
  EXPECT_EQ(modeOf(dir / "shared" / "a"), 0700u);
  EXPECT_EQ(modeOf(dir / "shared" / "a" / "b"), 0700u);
  createPrivateDirectories(dir / "shared" / "a" / "b");  // already there: fine

  testing::writeFile(dir / "file", "x");
  EXPECT_THROW(createPrivateDirectories(dir / "file" / "sub"), LocalAgentFailure);
}

TEST(BoundedRead, RefusesFilesOverTheCeilingAndNonFiles) {
  TempDir dir;
  testing::writeFile(dir / "ten", std::string(10, 'x'));
  EXPECT_EQ(readFileBounded(dir / "ten", 10, "too big"), std::string(10, 'x'));
  try {
    readFileBounded(dir / "ten", 9, "too big");
    FAIL() << "no failure";
  } catch (const LocalAgentFailure& failure) {
    EXPECT_EQ(failure.message(), "too big");
  }
  EXPECT_THROW(readFileBounded(dir.path(), 100, "too big"), LocalAgentFailure);
  EXPECT_THROW(readFileBounded(dir / "missing", 100, "too big"), LocalAgentFailure);
}

TEST(ConfinedPath, KeepsPathsInsideTheirRootAfterResolvingLinks) {
  TempDir dir;
  const fs::path root = dir / "root";
  fs::create_directories(root / "work");
  fs::create_directory(dir / "root2");
  fs::create_directory(dir / "outside");
  fs::create_directory_symlink(dir / "outside", root / "escape");
  fs::create_directory_symlink(root / "work", root / "alias");
  const fs::path canonicalRoot = fs::canonical(root);

  EXPECT_EQ(confinedPath(root, root / "work" / "image.png"), canonicalRoot / "work" / "image.png");
  EXPECT_EQ(confinedPath(root, root / "alias" / "x"), canonicalRoot / "work" / "x");
  EXPECT_EQ(confinedPath(root, root), canonicalRoot);
  EXPECT_FALSE(confinedPath(root, root / "escape" / "x"));
  EXPECT_FALSE(confinedPath(root, root / ".." / "outside"));
  EXPECT_FALSE(confinedPath(root, root / "work" / ".." / ".." / "root2"));
  EXPECT_FALSE(confinedPath(root, dir / "root2" / "x"));  // a sibling sharing the name prefix

  // A root reached through a link is judged by where it really is.
  fs::create_directory_symlink(root, dir / "link-to-root");
  EXPECT_EQ(confinedPath(dir / "link-to-root", root / "work"), canonicalRoot / "work");
}

}  // namespace
}  // namespace glimmet
