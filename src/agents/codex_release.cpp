#include "agents/codex_release.h"

#include <elf.h>

namespace glimmet::codex_release {

std::optional<CodexRelease> forThisMachine() {
#if defined(__x86_64__)
  return CodexRelease{
      .url = "https://registry.npmjs.org/@openai/codex/-/codex-0.160.0-linux-x64.tgz",
      .archiveBytes = 163'273'896,
      .archiveDigest = "37a41d61c3399182b8c727b77090cc7a1566bd849d0f09070a0bbc6fec4c58dc",
      .codexMember = "package/vendor/x86_64-unknown-linux-musl/bin/codex",
      .runtimeMember = "package/vendor/x86_64-unknown-linux-musl/bin/codex-code-mode-host",
      .elfMachine = EM_X86_64,
  };
#elif defined(__aarch64__)
  return CodexRelease{
      .url = "https://registry.npmjs.org/@openai/codex/-/codex-0.160.0-linux-arm64.tgz",
      .archiveBytes = 155'716'078,
      .archiveDigest = "9286a7e01d500ab224c9e5b4b223b7adf5dd901fba23efd6a438316426798b17",
      .codexMember = "package/vendor/aarch64-unknown-linux-musl/bin/codex",
      .runtimeMember = "package/vendor/aarch64-unknown-linux-musl/bin/codex-code-mode-host",
      .elfMachine = EM_AARCH64,
  };
#else
  return std::nullopt;
#endif
}

}  // namespace glimmet::codex_release
