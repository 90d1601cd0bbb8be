#include "core/digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "core/files.h"

namespace glimmet {
namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// Incremental SHA-256; answers none if OpenSSL refuses any step.
class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) {
    ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1;
  }
  void add(const void* data, std::size_t size) {
    ok_ = ok_ && EVP_DigestUpdate(context_.get(), data, size) == 1;
  }
  std::optional<std::string> hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) return std::nullopt;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
      text += kDigits[digest[i] >> 4];
      text += kDigits[digest[i] & 0x0F];
    }
    return text;
  }

 private:
  DigestContext context_;
  bool ok_ = false;
};

}  // namespace

std::string sha256Hex(const std::uint8_t* data, std::size_t size) {
  Sha256 digest;
  digest.add(data, size);
  return digest.hex().value_or(std::string());
}

std::string sha256Hex(std::string_view bytes) {
  return sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<std::string> sha256HexOfFile(const std::filesystem::path& path,
                                           const std::function<bool()>& keepGoing) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return std::nullopt;
  Sha256 digest;
  std::vector<char> block(1 << 20);
  for (;;) {
    if (keepGoing && !keepGoing()) return std::nullopt;
    const ssize_t n = ::read(file.get(), block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    digest.add(block.data(), static_cast<std::size_t>(n));
  }
  return digest.hex();
}

}  // namespace glimmet
