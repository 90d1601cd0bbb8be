#pragma once

// User-perceived text. Lengths of prompts, titles and names count grapheme
// clusters (extended, as Unicode defines them), not bytes. Invalid UTF-8 is read
// as one U+FFFD per bad byte, so no input makes these helpers fail.

#include <cstddef>
#include <string>
#include <string_view>

namespace glimmet::text {

// Number of grapheme clusters.
std::size_t graphemeCount(std::string_view utf8);

// The first `count` grapheme clusters (the whole text when it has fewer).
std::string graphemePrefix(std::string_view utf8, std::size_t count);

// True for white space and line breaks: Unicode space separators (Zs), line
// and paragraph separators, U+0009 to U+000D and U+0085.
bool isWhitespaceOrNewline(char32_t scalar);

// The text without white space and line breaks at either end.
std::string trimmed(std::string_view utf8);

// True when some character (grapheme cluster) is white space or starts with a
// line-break scalar, judged by the cluster's first scalar.
bool containsWhitespaceOrLineBreak(std::string_view utf8);

// True when some scalar is a control or format character (categories Cc, Cf).
bool containsControlCharacter(std::string_view utf8);

// True when the text is not empty and every scalar is a letter, a combining
// mark or a number of any script (categories L*, M* and N*).
bool isAlphanumeric(std::string_view utf8);

// The text with every scalar in its simple upper-case form.
std::string uppercased(std::string_view utf8);

}  // namespace glimmet::text
