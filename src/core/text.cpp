#include "core/text.h"

#include <utf8proc.h>

#include <functional>

namespace glimmet::text {
namespace {

constexpr utf8proc_int32_t kReplacement = 0xFFFD;

// Calls `visit(scalar, begin, end)` for every scalar with its byte range; stops
// early when `visit` answers false.
void forEachScalar(std::string_view utf8,
                   const std::function<bool(utf8proc_int32_t, std::size_t, std::size_t)>& visit) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  std::size_t at = 0;
  while (at < utf8.size()) {
    utf8proc_int32_t scalar = 0;
    utf8proc_ssize_t length =
        utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(utf8.size() - at), &scalar);
    if (length <= 0) {
      scalar = kReplacement;
      length = 1;
    }
    const std::size_t end = at + static_cast<std::size_t>(length);
    if (!visit(scalar, at, end)) return;
    at = end;
  }
}

// Calls `visit(firstScalar, begin, end)` for every grapheme cluster; stops early
// when `visit` answers false.
void forEachGrapheme(std::string_view utf8,
                     const std::function<bool(utf8proc_int32_t, std::size_t, std::size_t)>& visit) {
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t first = 0;
  std::size_t clusterStart = 0;
  bool stopped = false;
  forEachScalar(utf8, [&](utf8proc_int32_t scalar, std::size_t begin, std::size_t) {
    if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, scalar, &state)) {
      if (!visit(first, clusterStart, begin)) {
        stopped = true;
        return false;
      }
      clusterStart = begin;
      first = scalar;
    } else if (previous < 0) {
      first = scalar;
    }
    previous = scalar;
    return true;
  });
  if (!stopped && previous >= 0) visit(first, clusterStart, utf8.size());
}

}  // namespace

std::size_t graphemeCount(std::string_view utf8) {
  std::size_t count = 0;
  forEachGrapheme(utf8, [&](utf8proc_int32_t, std::size_t, std::size_t) {
    ++count;
    return true;
  });
  return count;
}

std::string graphemePrefix(std::string_view utf8, std::size_t count) {
  std::size_t end = 0;
  std::size_t taken = 0;
  if (count == 0) return {};
  forEachGrapheme(utf8, [&](utf8proc_int32_t, std::size_t, std::size_t clusterEnd) {
    end = clusterEnd;
    return ++taken < count;
  });
  return std::string(utf8.substr(0, end));
}

bool isWhitespaceOrNewline(char32_t scalar) {
  if ((scalar >= 0x09 && scalar <= 0x0D) || scalar == 0x85) return true;
  const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(scalar));
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

std::string trimmed(std::string_view utf8) {
  std::size_t begin = utf8.size();
  std::size_t end = 0;
  forEachScalar(utf8, [&](utf8proc_int32_t scalar, std::size_t scalarBegin, std::size_t scalarEnd) {
    if (!isWhitespaceOrNewline(static_cast<char32_t>(scalar))) {
      if (begin == utf8.size()) begin = scalarBegin;
      end = scalarEnd;
    }
    return true;
  });
  if (begin >= end) return {};
  return std::string(utf8.substr(begin, end - begin));
}

bool containsWhitespaceOrLineBreak(std::string_view utf8) {
  bool found = false;
  forEachGrapheme(utf8, [&](utf8proc_int32_t first, std::size_t, std::size_t) {
    found = isWhitespaceOrNewline(static_cast<char32_t>(first));
    return !found;
  });
  return found;
}

bool containsControlCharacter(std::string_view utf8) {
  bool found = false;
  forEachScalar(utf8, [&](utf8proc_int32_t scalar, std::size_t, std::size_t) {
    const auto category = utf8proc_category(scalar);
    found = category == UTF8PROC_CATEGORY_CC || category == UTF8PROC_CATEGORY_CF;
    return !found;
  });
  return found;
}

bool isAlphanumeric(std::string_view utf8) {
  bool all = !utf8.empty();
  forEachScalar(utf8, [&](utf8proc_int32_t scalar, std::size_t, std::size_t) {
    const auto category = utf8proc_category(scalar);
    all = category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_NO;
    return all;
  });
  return all;
}

std::string uppercased(std::string_view utf8) {
  std::string upper;
  forEachScalar(utf8, [&](utf8proc_int32_t scalar, std::size_t, std::size_t) {
    utf8proc_uint8_t encoded[4];
    const utf8proc_ssize_t length = utf8proc_encode_char(utf8proc_toupper(scalar), encoded);
    upper.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
    return true;
  });
  return upper;
}

}  // namespace glimmet::text
