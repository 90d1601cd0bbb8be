#pragma once

// Reading the Codex release archive (a gzip-compressed tar) and checking the
// executables taken from it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace glimmet::release_archive {

// Extracts each of `members` (archive paths) from `archive` into `directory`,
// under the member's last path component, as a new file of mode 0700. Every
// entry of the archive is checked while it is read, also those not extracted:
// it must be a regular file or a directory, under a relative path without a
// ".." component. Throws LocalAgentFailure:
// - the not-a-regular-file message when a wanted member is a link or another
//   kind of file;
// - the layout message for any other link or special entry, an absolute or
//   ".." path, a wanted member missing or present twice, or a damaged archive;
// - the cancel message when `keepGoing` (asked before each block) answers false;
// - a file error when writing fails.
// On failure the files extracted so far stay for the caller, who owns `directory`.
void extractMembers(const std::filesystem::path& archive, const std::vector<std::string>& members,
                    const std::filesystem::path& directory, const std::function<bool()>& keepGoing);

// True when `path` is a 64-bit little-endian ELF executable (ET_EXEC, or
// position-independent ET_DYN with an entry point) built for `machine`
// (an ELF e_machine value).
bool isElfExecutableFor(const std::filesystem::path& path, std::uint16_t machine);

}  // namespace glimmet::release_archive
