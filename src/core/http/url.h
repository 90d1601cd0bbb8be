#pragma once

// Absolute URLs split into their components exactly as written. Nothing is
// lower-cased, decoded or normalised, so callers can apply exact rules (a
// scheme of exactly "https", an empty query that still counts as present) to
// the text the user typed, and the text sent on the wire is that same text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glimmet {

struct URLComponents {
  std::string scheme;
  // Present whenever the URL has an authority ("//"); may then be empty.
  std::optional<std::string> host;
  std::optional<std::string> user;
  std::optional<std::string> password;
  // Absent when not written or written empty ("host:").
  std::optional<std::uint16_t> port;
  std::string path;
  // Present, possibly empty, whenever a "?" or "#" was written.
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

class URL {
 public:
  // An absolute URL (scheme, then the rest) whose every character is allowed
  // by RFC 3986 in its component; none otherwise. IP literals in brackets are
  // accepted as hosts.
  static std::optional<URL> parse(std::string_view text);

  const std::string& absoluteString() const { return text_; }
  const URLComponents& components() const { return components_; }

  // This URL with `component` appended to its path after exactly one "/";
  // the query and fragment, if any, stay after it.
  URL appendingPathComponent(std::string_view component) const;

 private:
  URL(std::string text, URLComponents components, std::size_t pathEnd)
      : text_(std::move(text)), components_(std::move(components)), pathEnd_(pathEnd) {}

  std::string text_;
  URLComponents components_;
  std::size_t pathEnd_ = 0;  // offset in text_ just after the path
};

}  // namespace glimmet
