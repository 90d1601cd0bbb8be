#include "support/archive/tar_gz.h"

#include <archive.h>
#include <elf.h>

#include "core/glib_ptr.h"
#include "support/test_support.h"

namespace glimmet::testing {

std::string tarGz(const std::vector<TarEntry>& entries) {
  TempDir dir;
  const std::filesystem::path file = dir / "release.tgz";
  GPtr<archive, archive_write_free> writer(archive_write_new());
  archive_write_add_filter_gzip(writer.get());
  archive_write_set_format_pax_restricted(writer.get());
  EXPECT_EQ(archive_write_open_filename(writer.get(), file.c_str()), ARCHIVE_OK);
  for (const auto& item : entries) {
    GPtr<archive_entry, archive_entry_free> entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), item.path.c_str());
    archive_entry_set_perm(entry.get(), 0755);
    archive_entry_set_filetype(entry.get(), item.type);
    if (item.type == AE_IFLNK) archive_entry_set_symlink(entry.get(), item.content.c_str());
    if (item.type == AE_IFREG) archive_entry_set_size(entry.get(), item.content.size());
    archive_write_header(writer.get(), entry.get());
    if (item.type == AE_IFREG) {
      archive_write_data(writer.get(), item.content.data(), item.content.size());
    }
  }
  archive_write_close(writer.get());
  return readFile(file);
}

std::uint16_t hostElfMachine() {
#if defined(__aarch64__)
  return EM_AARCH64;
#else
  return EM_X86_64;
#endif
}

}  // namespace glimmet::testing
