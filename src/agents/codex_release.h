#pragma once

// The pinned Codex CLI release the managed installer puts in place, one entry
// per processor architecture, and the installer's user-facing messages.
//
// The publisher ships its Linux builds inside its npm package of the CLI, one
// package version per platform ("0.160.0-linux-x64", "0.160.0-linux-arm64").
// Each is a single tar.gz carrying both executables the program needs, the CLI
// and its runtime component "codex-code-mode-host", among other resources. So
// on Linux one download feeds both publishing steps. The addresses, sizes and
// SHA-256 digests below were read from the registry's metadata and checked
// against the downloaded files (size, digest, member paths, ELF headers, and
// "codex --version" answering "codex-cli 0.160.0" on x86-64).
//
// ELF files carry no code signature; the pinned SHA-256 is the authenticity
// check, and each extracted member must be an ELF executable for this
// machine's architecture.
//
// The byte cap of a download is the pinned archive's exact size: the archive
// is known to the byte, so anything longer can only be a wrong file, and the
// cap bounds the disk space an installation takes before the digest is known.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmet {

struct CodexRelease {
  std::string url;                 // the archive's address (https)
  std::uint64_t archiveBytes = 0;  // its exact size, also the download's byte cap
  std::string archiveDigest;       // SHA-256 of the archive, lower-case hex
  std::string codexMember;         // archive path of the CLI
  std::string runtimeMember;       // archive path of "codex-code-mode-host"
  std::uint16_t elfMachine = 0;    // e_machine the executables must carry
};

namespace codex_release {

// The release every pinned entry belongs to; what "--version" of a current
// managed CLI contains.
inline constexpr std::string_view kVersion = "0.160.0";

// Hosts a download may be redirected to (https only). The registry serves the
// archives itself; a redirect anywhere else is refused.
inline const std::vector<std::string> kRedirectHosts = {"registry.npmjs.org"};

// The pinned release for the architecture this program was built for
// (x86-64 or AArch64); none on any other.
std::optional<CodexRelease> forThisMachine();

}  // namespace codex_release

namespace installer_messages {
inline constexpr const char* kInProgress = "安装正在进行";
inline constexpr const char* kCancelledKept = "安装已取消，原有安装已保留";
inline constexpr const char* kCancelled = "安装已取消";
inline constexpr const char* kDownloadFailed = "官方 CLI 下载失败";
inline constexpr const char* kInvalidSize = "安装包大小无效";
inline constexpr const char* kDigestMismatch = "安装包 SHA-256 不匹配，已停止安装";
inline constexpr const char* kLayout = "安装包内容不符合官方单文件格式";
inline constexpr const char* kNotRegular = "CLI 不是普通可执行文件";
inline constexpr const char* kCheckFailed = "安装校验失败：";
inline constexpr const char* kTargetNotRegular = "现有安装目标不是普通文件，已保留原内容";
inline constexpr const char* kRenameFailed = "无法完成 CLI 原子安装";
inline constexpr const char* kRestoreFailed = "恢复原有安装失败；备份已保留，请勿删除 agents 目录";
}  // namespace installer_messages

}  // namespace glimmet
