#include "platform/headless/headless_clipboard.h"

namespace glimmet {

namespace {

template <typename T, typename Variant>
std::optional<T> held(const Variant& content) {
  if (const T* value = std::get_if<T>(&content)) return *value;
  return std::nullopt;
}

}  // namespace

bool HeadlessClipboard::writeText(const std::string& text) { return write(text); }

bool HeadlessClipboard::writeImage(const Bytes& png) { return write(png); }

bool HeadlessClipboard::writeFileUrls(const std::vector<std::filesystem::path>& paths) {
  return write(paths);
}

std::optional<std::string> HeadlessClipboard::readText() { return text(); }

std::optional<std::string> HeadlessClipboard::text() const { return held<std::string>(content_); }

std::optional<Bytes> HeadlessClipboard::image() const { return held<Bytes>(content_); }

std::optional<std::vector<std::filesystem::path>> HeadlessClipboard::fileUrls() const {
  return held<std::vector<std::filesystem::path>>(content_);
}

bool HeadlessClipboard::write(Content content) {
  ++writeCount_;
  if (!accepting_) return false;
  content_ = std::move(content);
  return true;
}

}  // namespace glimmet
