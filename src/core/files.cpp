#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace glimmet {
namespace fs = std::filesystem;

void FileDescriptor::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

fs::path xdgDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && fs::path(value).is_absolute()) return value;
  return homeDirectory() / fallback;
}

}  // namespace

fs::path homeDirectory() {
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] != '\0' ? fs::path(home) : fs::path("/");
}

fs::path userDataHome() { return xdgDirectory("XDG_DATA_HOME", ".local/share"); }

fs::path userConfigHome() { return xdgDirectory("XDG_CONFIG_HOME", ".config"); }

std::optional<fs::path> runningProgram() {
  std::error_code error;
  fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return program;
}

LocalAgentFailure fileFailure(int errorNumber) {
  switch (errorNumber) {
    case ENOENT:
      return LocalAgentFailure("文件或文件夹不存在。");
    case EACCES:
    case EPERM:
      return LocalAgentFailure("没有访问该文件的权限。");
    case ENOSPC:
    case EDQUOT:
      return LocalAgentFailure("磁盘空间不足。");
    case EROFS:
      return LocalAgentFailure("文件系统为只读。");
    case EEXIST:
    case ENOTEMPTY:
      return LocalAgentFailure("文件已存在。");
    case ENOTDIR:
      return LocalAgentFailure("路径中的某一项不是文件夹。");
    case EISDIR:
      return LocalAgentFailure("目标是一个文件夹。");
    case ENAMETOOLONG:
      return LocalAgentFailure("文件名过长。");
    case ELOOP:
      return LocalAgentFailure("路径包含过多的符号链接。");
    case EXDEV:
      return LocalAgentFailure("无法跨文件系统移动文件。");
    default:
      return LocalAgentFailure("文件读写失败（错误码 " + std::to_string(errorNumber) + "）。");
  }
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fileFailure(errno);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void syncDirectory(const fs::path& directory) {
  const FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

void writeFileAtomically(const fs::path& target, std::string_view bytes, mode_t mode) {
  const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
  const FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!file) throw fileFailure(errno);
  const fs::path temporary = pattern;
  try {
    if (::fchmod(file.get(), mode) != 0) throw fileFailure(errno);
    writeAll(file.get(), bytes);
    if (::fsync(file.get()) != 0) throw fileFailure(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) throw fileFailure(errno);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  syncDirectory(directory);
}

void createPrivateDirectories(const fs::path& directory) {
  if (directory.empty()) return;
  struct stat info {};
  if (::stat(directory.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) throw fileFailure(ENOTDIR);
    return;
  }
  if (errno != ENOENT) throw fileFailure(errno);
  if (directory.has_parent_path() && directory.parent_path() != directory) {
    createPrivateDirectories(directory.parent_path());
  }
  if (::mkdir(directory.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) {
    throw fileFailure(errno);
  }
}

namespace {

// Reads an open file to its end, expecting about `expected` bytes. Reading stops
// one byte past `maxBytes`, so a file that grows meanwhile is still refused
// rather than read without bound.
std::string readToEnd(int fd, std::size_t expected, std::size_t maxBytes,
                      const std::string& tooLargeMessage) {
  std::string content(expected + 1, '\0');
  std::size_t filled = 0;
  while (filled < content.size()) {
    const ssize_t n = ::read(fd, content.data() + filled, content.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fileFailure(errno);
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
    if (filled > maxBytes) throw LocalAgentFailure(tooLargeMessage);
    if (filled == content.size()) content.resize(content.size() + 4096);
  }
  content.resize(filled);
  return content;
}

}  // namespace

std::string readFileBounded(const fs::path& path, std::size_t maxBytes,
                            const std::string& tooLargeMessage) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) throw fileFailure(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw fileFailure(errno);
  if (!S_ISREG(info.st_mode)) throw fileFailure(EISDIR);
  if (static_cast<std::size_t>(info.st_size) > maxBytes) throw LocalAgentFailure(tooLargeMessage);
  return readToEnd(file.get(), static_cast<std::size_t>(info.st_size), maxBytes, tooLargeMessage);
}

std::string readRegularFileNoFollow(const fs::path& path, std::size_t maxBytes,
                                    const std::string& refusal) {
  // O_NONBLOCK: opening a FIFO planted in place of the file must not hang.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file) {
    if (errno == ELOOP) throw LocalAgentFailure(refusal);
    throw fileFailure(errno);
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw fileFailure(errno);
  if (!S_ISREG(info.st_mode) || static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
    throw LocalAgentFailure(refusal);
  }
  return readToEnd(file.get(), static_cast<std::size_t>(info.st_size), maxBytes, refusal);
}

std::optional<fs::path> resolvedPath(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(path, error);
  if (error) return std::nullopt;
  return resolved;
}

bool liesBelow(const fs::path& outer, const fs::path& inner, bool orSame) {
  auto outerPart = outer.begin();
  auto part = inner.begin();
  for (; outerPart != outer.end(); ++outerPart, ++part) {
    // A trailing separator shows up as an empty last component.
    if (outerPart->empty() && std::next(outerPart) == outer.end()) break;
    if (part == inner.end() || *part != *outerPart) return false;
  }
  const bool same = part == inner.end() || (part->empty() && std::next(part) == inner.end());
  return orSame || !same;
}

std::optional<fs::path> confinedPath(const fs::path& root, const fs::path& candidate) {
  const auto resolvedRoot = resolvedPath(root);
  auto resolved = resolvedPath(candidate);
  if (!resolvedRoot || !resolved || !liesBelow(*resolvedRoot, *resolved, /*orSame=*/true)) {
    return std::nullopt;
  }
  return resolved;
}

TemporaryDirectory::TemporaryDirectory(const std::string& prefix) {
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) base = "/tmp";
  std::string pattern = (base / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw fileFailure(errno);
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace glimmet
