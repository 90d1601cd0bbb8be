#include "agents/release_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

#include "agents/codex_release.h"
#include "core/files.h"
#include "core/glib_ptr.h"

namespace glimmet::release_archive {
namespace fs = std::filesystem;

namespace {

using ArchiveReader = GPtr<archive, archive_read_free>;

constexpr std::size_t kBlockBytes = 1 << 20;

bool safeRelativePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

void copyEntryData(archive* reader, const fs::path& target,
                   const std::function<bool()>& keepGoing) {
  const FileDescriptor file(
      ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
  if (!file) throw fileFailure(errno);
  std::string block(kBlockBytes, '\0');
  for (;;) {
    if (!keepGoing()) throw LocalAgentFailure(installer_messages::kCancelled);
    const la_ssize_t n = archive_read_data(reader, block.data(), block.size());
    if (n < 0) throw LocalAgentFailure(installer_messages::kLayout);
    if (n == 0) break;
    writeAll(file.get(), std::string_view(block.data(), static_cast<std::size_t>(n)));
  }
  if (::fsync(file.get()) != 0) throw fileFailure(errno);
}

}  // namespace

void extractMembers(const fs::path& archivePath, const std::vector<std::string>& members,
                    const fs::path& directory, const std::function<bool()>& keepGoing) {
  const ArchiveReader reader(archive_read_new());
  if (!reader || archive_read_support_filter_gzip(reader.get()) != ARCHIVE_OK ||
      archive_read_support_format_tar(reader.get()) != ARCHIVE_OK ||
      archive_read_open_filename(reader.get(), archivePath.c_str(), kBlockBytes) != ARCHIVE_OK) {
    throw LocalAgentFailure(installer_messages::kLayout);
  }
  std::set<std::string> found;
  for (;;) {
    if (!keepGoing()) throw LocalAgentFailure(installer_messages::kCancelled);
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK) throw LocalAgentFailure(installer_messages::kLayout);
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr || !safeRelativePath(name)) {
      throw LocalAgentFailure(installer_messages::kLayout);
    }
    const bool link =
        archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
    const auto type = archive_entry_filetype(entry);
    const bool regular = !link && type == AE_IFREG;
    const bool wanted = std::find(members.begin(), members.end(), name) != members.end();
    if (wanted) {
      if (!regular) throw LocalAgentFailure(installer_messages::kNotRegular);
      if (!found.insert(name).second) throw LocalAgentFailure(installer_messages::kLayout);
      copyEntryData(reader.get(), directory / fs::path(name).filename(), keepGoing);
    } else if (!regular && (link || type != AE_IFDIR)) {
      throw LocalAgentFailure(installer_messages::kLayout);
    }
  }
  if (found.size() != members.size()) throw LocalAgentFailure(installer_messages::kLayout);
}

bool isElfExecutableFor(const fs::path& path, std::uint16_t machine) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!file) return false;
  Elf64_Ehdr header{};
  if (::pread(file.get(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    return false;
  }
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
         header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_ident[EI_DATA] == ELFDATA2LSB &&
         header.e_machine == machine &&
         (header.e_type == ET_EXEC || (header.e_type == ET_DYN && header.e_entry != 0));
}

}  // namespace glimmet::release_archive
