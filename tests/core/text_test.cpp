// User-perceived text: what the page sends is counted, cut and trimmed the way
// a person sees it, whatever bytes arrive.
#include "core/text.h"

#include <gtest/gtest.h>

namespace glimmet::text {
namespace {

struct CountRow {
  const char* text;
  std::size_t graphemes;
};

TEST(Text, CountsUserPerceivedCharacters) {
  const CountRow rows[] = {
      {"", 0},
      {"e\u0301", 1},                                     // combining accent
      {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},  // family emoji (ZWJ sequence)
      {"\U0001F1E8\U0001F1F3\U0001F1EF\U0001F1F5", 2},    // two flags
      {"\U0001F44D\U0001F3FD", 1},                        // skin tone modifier
      {"a\r\nb", 3},                                      // CR LF is one character
      {"\xff\xfe", 2},                                    // invalid bytes count one each
  };
  for (const auto& row : rows) EXPECT_EQ(graphemeCount(row.text), row.graphemes) << row.text;
}

TEST(Text, PrefixNeverSplitsACharacter) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  EXPECT_EQ(graphemePrefix("ab" + family + "cd", 3), "ab" + family);
  EXPECT_EQ(graphemePrefix("e\u0301x", 1), "e\u0301");
  EXPECT_EQ(graphemePrefix("短", 10), "短");
  EXPECT_EQ(graphemePrefix("abc", 0), "");
}

TEST(Text, TrimsWhitespaceAndLineBreaksAtBothEnds) {
  EXPECT_EQ(trimmed(" \t\r\n雨天 城市\u3000\u00A0\u2028\u0085"), "雨天 城市");
  EXPECT_EQ(trimmed("\u200Bx\u200B"), "\u200Bx\u200B");  // zero-width space is not white space
  EXPECT_EQ(trimmed(" \n\u3000 "), "");
}

TEST(Text, FindsWhitespaceOrLineBreakCharacters) {
  for (const char* text : {"a b", "a\r\nb", "\u00A0", "a\u3000", "x\u2029", "\u0085", "a\u2009b"}) {
    EXPECT_TRUE(containsWhitespaceOrLineBreak(text)) << text;
  }
  for (const char* text : {"", "gpt-image-1", "模型\u200B", "e\u0301"}) {
    EXPECT_FALSE(containsWhitespaceOrLineBreak(text)) << text;
  }
}

TEST(Text, FindsControlAndFormatCharacters) {
  for (const char* text : {"a\x01", "\x7f", "a\u200Bb", "\uFEFF", "x\u202Ey", "\u0085", "\t"}) {
    EXPECT_TRUE(containsControlCharacter(text)) << text;
  }
  for (const char* text : {"", "我的作品 2", "e\u0301", "\U0001F600"}) {
    EXPECT_FALSE(containsControlCharacter(text)) << text;
  }
}

}  // namespace
}  // namespace glimmet::text
