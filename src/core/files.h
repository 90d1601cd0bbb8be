#pragma once

// File-system building blocks shared by every store: owned descriptors, atomic
// replacement, private directories, bounded reads, and the check that a path
// derived from outside input stays inside its root after symbolic links are
// resolved. Failures throw LocalAgentFailure with a user-facing message.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/failure.h"

namespace glimmet {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset();

 private:
  int fd_ = -1;
};

// The user-facing failure for a failed system call, by its errno value.
LocalAgentFailure fileFailure(int errorNumber);

// A private directory of its own under the system's temporary directory,
// removed with its contents when the object goes away.
class TemporaryDirectory {
 public:
  // `prefix` starts the directory's name. Throws LocalAgentFailure.
  explicit TemporaryDirectory(const std::string& prefix);
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The user's directories by the XDG base-directory rules, read from the
// environment at each call: an absolute $XDG_DATA_HOME / $XDG_CONFIG_HOME, else
// ~/.local/share / ~/.config.
std::filesystem::path homeDirectory();
std::filesystem::path userDataHome();
std::filesystem::path userConfigHome();

// Where this process's program file lies (/proc/self/exe); none when the
// kernel does not say.
std::optional<std::filesystem::path> runningProgram();

inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPrivateDirectoryMode = 0700;

// Replaces `target` with `bytes` so that readers see either the old or the new
// content, never a mix: a temporary file in the same directory is written,
// flushed to disk and renamed over the target. Nothing is left behind on failure.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         mode_t mode = kPrivateFileMode);

// Makes renames in `directory` durable: the directory itself is flushed.
void syncDirectory(const std::filesystem::path& directory);

// Creates `directory` and any missing parents with mode 0700. Existing
// directories keep their mode.
void createPrivateDirectories(const std::filesystem::path& directory);

// Reads a whole regular file whose size is at most `maxBytes`, checked before
// reading. A larger file fails with `tooLargeMessage`.
std::string readFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                            const std::string& tooLargeMessage);

// Like readFileBounded, for files whose place outside input may have tampered
// with: a final symbolic link, another kind of file or a larger file fails with
// `refusal`; other system errors pass on.
std::string readRegularFileNoFollow(const std::filesystem::path& path, std::size_t maxBytes,
                                    const std::string& refusal);

// Writes all of `bytes` to `fd`, resuming after interruptions and short writes.
void writeAll(int fd, std::string_view bytes);

// `path` with every symbolic link resolved (missing trailing components are
// kept as written); none when it cannot be resolved.
std::optional<std::filesystem::path> resolvedPath(const std::filesystem::path& path);

// True when the resolved path `inner` lies below the resolved path `outer`, or
// is `outer` itself when `orSame` is set. Compares whole components, so
// "/a/bc" is not below "/a/b".
bool liesBelow(const std::filesystem::path& outer, const std::filesystem::path& inner,
               bool orSame = false);

// `candidate` with every symbolic link resolved (missing trailing components are
// kept as written), provided the result is `root` itself or lies below the
// resolved `root`; none otherwise.
std::optional<std::filesystem::path> confinedPath(const std::filesystem::path& root,
                                                  const std::filesystem::path& candidate);

}  // namespace glimmet
