#pragma once

// Release archives built in tests: gzip-compressed tar files with files,
// directories, symbolic links and hostile paths.

#include <archive_entry.h>

#include <cstdint>
#include <string>
#include <vector>

namespace glimmet::testing {

struct TarEntry {
  std::string path;
  std::string content;  // file content, or the link target of a link
  unsigned type = AE_IFREG;
};

// The bytes of a tar.gz holding `entries` in order, each of mode 0755.
std::string tarGz(const std::vector<TarEntry>& entries);

// The ELF e_machine of the architecture the tests run on.
std::uint16_t hostElfMachine();

}  // namespace glimmet::testing
