#pragma once

// An in-memory clipboard for tests: remembers the last accepted write and can be
// told to refuse writes.

#include <variant>

#include "platform/clipboard.h"

namespace glimmet {

class HeadlessClipboard final : public Clipboard {
 public:
  bool writeText(const std::string& text) override;
  bool writeImage(const Bytes& png) override;
  bool writeFileUrls(const std::vector<std::filesystem::path>& paths) override;
  std::optional<std::string> readText() override;

  // While refusing, every write answers false and leaves the content as it was.
  void setAccepting(bool accepting) { accepting_ = accepting; }

  // The current content, by kind; none when the clipboard holds another kind.
  std::optional<std::string> text() const;
  std::optional<Bytes> image() const;
  std::optional<std::vector<std::filesystem::path>> fileUrls() const;
  // Writes attempted so far, accepted or not.
  int writeCount() const { return writeCount_; }

 private:
  using Content =
      std::variant<std::monostate, std::string, Bytes, std::vector<std::filesystem::path>>;

  bool write(Content content);

  Content content_;
  bool accepting_ = true;
  int writeCount_ = 0;
};

}  // namespace glimmet
