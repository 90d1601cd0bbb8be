#include "platform/linux/freedesktop_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "core/files.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

constexpr const char* kNoVolumeTrash = "该文件所在的磁盘没有可用的废纸篓，文件未被删除。";
constexpr const char* kCannotTrashTrash = "不能将废纸篓本身移到废纸篓。";
constexpr int kMaxNameAttempts = 10'000;

fs::path defaultHomeTrash() { return userDataHome() / "Trash"; }

// Percent-encodes everything but unreserved characters and "/", as file URLs do.
std::string percentEncoded(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return encoded;
}

std::string localDeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// The mount point holding `item`: the highest ancestor on the same device.
fs::path topDirectory(const fs::path& item, dev_t device) {
  fs::path top = item;
  while (top.has_parent_path() && top.parent_path() != top) {
    struct stat info {};
    if (::stat(top.parent_path().c_str(), &info) != 0 || info.st_dev != device) break;
    top = top.parent_path();
  }
  return top;
}

// $topdir/.Trash-$uid, created private when missing. An existing one must be
// a real directory of ours, so another user cannot receive our files.
fs::path volumeTrash(const fs::path& top) {
  fs::path trash = top / (".Trash-" + std::to_string(::getuid()));
  if (::mkdir(trash.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) {
    throw LocalAgentFailure(kNoVolumeTrash);
  }
  struct stat info {};
  if (::lstat(trash.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
    throw LocalAgentFailure(kNoVolumeTrash);
  }
  return trash;
}

struct Destination {
  fs::path trash;
  // The Path= value: absolute in the home trash, relative to the volume's top
  // directory in a volume trash, as the freedesktop.org Trash rules recommend.
  std::string originalPath;
};

fs::path moveInto(const Destination& destination, const fs::path& item) {
  const fs::path files = destination.trash / "files";
  const fs::path info = destination.trash / "info";
  createPrivateDirectories(files);
  createPrivateDirectories(info);

  const std::string name = item.filename().string();
  const std::string content = "[Trash Info]\nPath=" + percentEncoded(destination.originalPath) +
                              "\nDeletionDate=" + localDeletionDate() + "\n";
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string candidate = attempt == 1 ? name : name + "." + std::to_string(attempt);
    const fs::path infoFile = info / (candidate + ".trashinfo");
    // Claiming the info file first with O_EXCL reserves the name against other
    // programs trashing at the same moment.
    const FileDescriptor claim(
        ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
    if (!claim) {
      if (errno == EEXIST) continue;
      throw fileFailure(errno);
    }
    fs::path landed = files / candidate;
    try {
      struct stat existing {};
      if (::lstat(landed.c_str(), &existing) == 0) {
        ::unlink(infoFile.c_str());
        continue;
      }
      writeAll(claim.get(), content);
      if (::fsync(claim.get()) != 0) throw fileFailure(errno);
      if (::rename(item.c_str(), landed.c_str()) != 0) throw fileFailure(errno);
    } catch (const LocalAgentFailure&) {
      ::unlink(infoFile.c_str());
      throw;
    }
    return landed;
  }
  throw fileFailure(EEXIST);
}

}  // namespace

FreedesktopTrash::FreedesktopTrash(std::optional<fs::path> homeTrash)
    : homeTrash_(homeTrash ? std::move(*homeTrash) : defaultHomeTrash()) {}

Result<fs::path> FreedesktopTrash::moveToTrash(const fs::path& item) const {
  return resultOf([&] {
    // The folder holding the item, with links resolved, so that the mount
    // search below walks the real ancestors; the item itself is not followed.
    std::error_code error;
    fs::path named = fs::absolute(item, error).lexically_normal();
    if (!named.has_filename()) named = named.parent_path();
    const fs::path folder = fs::canonical(named.parent_path(), error);
    if (error || !named.has_filename()) throw fileFailure(ENOENT);
    const fs::path absolute = folder / named.filename();
    struct stat itemInfo {};
    if (::lstat(absolute.c_str(), &itemInfo) != 0) throw fileFailure(errno);

    createPrivateDirectories(homeTrash_);
    struct stat trashInfo {};
    if (::stat(homeTrash_.c_str(), &trashInfo) != 0) throw fileFailure(errno);
    const std::optional<fs::path> resolvedTrash = confinedPath(homeTrash_, homeTrash_);
    if (resolvedTrash && confinedPath(absolute, *resolvedTrash)) {
      throw LocalAgentFailure(kCannotTrashTrash);
    }
    if (itemInfo.st_dev == trashInfo.st_dev) {
      return moveInto({homeTrash_, absolute.string()}, absolute);
    }
    const fs::path top = topDirectory(absolute, itemInfo.st_dev);
    if (top == absolute) throw LocalAgentFailure(kNoVolumeTrash);
    return moveInto({volumeTrash(top), absolute.lexically_relative(top).string()}, absolute);
  });
}

}  // namespace glimmet
