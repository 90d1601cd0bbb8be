#include "core/http/url.h"

#include <charconv>

namespace glimmet {
namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isUnreserved(char c) {
  return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelimiter(char c) {
  return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Every character is unreserved, a sub-delimiter, one of `extra`, or part of a
// well-formed percent escape.
bool allowed(std::string_view text, std::string_view extra) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
      i += 2;
    } else if (!isUnreserved(c) && !isSubDelimiter(c) && extra.find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool validScheme(std::string_view scheme) {
  if (scheme.empty() || !isAlpha(scheme.front())) return false;
  for (char c : scheme) {
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool parseAuthority(std::string_view authority, URLComponents& out) {
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    if (!allowed(userInfo, ":")) return false;
    const auto colon = userInfo.find(':');
    out.user = std::string(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) out.password = std::string(userInfo.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    if (!allowed(host.substr(1, host.size() - 2), ":")) return false;
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
    }
  } else {
    if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
    }
    if (!allowed(host, "")) return false;
  }
  out.host = std::string(host);
  if (!port.empty()) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc() || end != port.data() + port.size() || value > 65535) return false;
    out.port = static_cast<std::uint16_t>(value);
  }
  return true;
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
  URLComponents parts;
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || !validScheme(text.substr(0, colon))) return std::nullopt;
  parts.scheme = std::string(text.substr(0, colon));
  std::string_view rest = text.substr(colon + 1);

  if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
    const std::string_view fragment = rest.substr(hash + 1);
    if (!allowed(fragment, ":@/?")) return std::nullopt;
    parts.fragment = std::string(fragment);
    rest = rest.substr(0, hash);
  }
  if (const auto question = rest.find('?'); question != std::string_view::npos) {
    const std::string_view query = rest.substr(question + 1);
    if (!allowed(query, ":@/?")) return std::nullopt;
    parts.query = std::string(query);
    rest = rest.substr(0, question);
  }
  std::size_t pathStart = colon + 1;
  if (rest.substr(0, 2) == "//") {
    const auto slash = rest.find('/', 2);
    const std::string_view authority =
        rest.substr(2, slash == std::string_view::npos ? rest.npos : slash - 2);
    if (!parseAuthority(authority, parts)) return std::nullopt;
    pathStart += 2 + authority.size();
    rest.remove_prefix(2 + authority.size());
  }
  if (!allowed(rest, ":@/")) return std::nullopt;
  parts.path = std::string(rest);
  return URL(std::string(text), std::move(parts), pathStart + rest.size());
}

URL URL::appendingPathComponent(std::string_view component) const {
  std::string text = text_.substr(0, pathEnd_);
  if (text.empty() || text.back() != '/') text += '/';
  text += component;
  text += text_.substr(pathEnd_);
  URLComponents parts = components_;
  parts.path = components_.path +
               (components_.path.empty() || components_.path.back() != '/' ? "/" : "") +
               std::string(component);
  const std::size_t pathEnd = text.size() - (text_.size() - pathEnd_);
  return URL(std::move(text), std::move(parts), pathEnd);
}

}  // namespace glimmet
