// Encodings that cross trust boundaries: JSON to the page, Base64 from the
// page, identifiers from the page, digests of downloads.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/base64.h"
#include "core/digest.h"
#include "core/json.h"
#include "core/uuid.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

TEST(Json, AnyFailureYieldsNull) {
  EXPECT_EQ(json(Json("bad \xff utf8")), "null");
  EXPECT_EQ(json(Json{{"nested", {"ok", "\xc3"}}}), "null");
  EXPECT_EQ(json(std::nan("")), "null");
  EXPECT_EQ(json(Json{{"x", std::numeric_limits<double>::infinity()}}), "null");
}

TEST(Json, HostileStringsStayInsideTheirLiteral) {
  const std::string hostile = "'); alert(1); (\"\\</script>\u2028\u2029\n";
  const std::string text = json(hostile);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find("\u2028"), std::string::npos);
  EXPECT_EQ(text.find("\u2029"), std::string::npos);
  EXPECT_NE(text.find("\\u2028"), std::string::npos);
  EXPECT_EQ(Json::parse(text), hostile);
}

TEST(Json, OutsideTextNestsNoDeeperThanTheLimit) {
  const auto arrays = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  std::string objects;
  for (int i = 0; i < 100'000; ++i) objects += R"({"a":)";
  objects += "1" + std::string(100'000, '}');
  const std::pair<std::string, bool> rows[] = {
      {arrays(kMaxJsonDepth), true},
      {arrays(kMaxJsonDepth + 1), false},
      {arrays(100'000), false},
      {objects, false},
      // Brackets inside a string, after an escaped quote, do not nest.
      {R"(["\")" + std::string(100'000, '[') + R"("])", true},
  };
  for (const auto& [text, accepted] : rows) {
    EXPECT_EQ(!parseJson(text).is_discarded(), accepted) << text.substr(0, 40);
  }
}

TEST(Base64, RoundTripsEveryTailLength) {
  for (std::size_t size = 0; size < 8; ++size) {
    Bytes bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(0xF0 + i * 7));
    const auto decoded = base64Decode(base64Encode(bytes));
    ASSERT_TRUE(decoded) << size;
    EXPECT_EQ(*decoded, bytes);
  }
  EXPECT_EQ(base64Encode(Bytes{'M', 'a'}), "TWE=");
}

TEST(Base64, RefusesNonCanonicalTextAndEnforcesTheDecodedCeiling) {
  for (const char* text :
       {"TWF", "TW E=", "TWE=\n", "TW=u", "T===", "TWF-", "TWE=TWFu", "TWFu=", "TWF=", "TR=="}) {
    EXPECT_FALSE(base64Decode(text)) << text;
  }
  EXPECT_TRUE(base64Decode(""));
  EXPECT_TRUE(base64Decode("TWFu", 3));
  EXPECT_FALSE(base64Decode("TWFu", 2));
  EXPECT_TRUE(base64Decode("TWE=", 2));
}

TEST(Uuid, ParsesEitherCaseWritesUpperCaseAndRefusesOtherShapes) {
  const auto lower = Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->string(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
  for (const char* text :
       {"", "0f8fad5bd9cb469fa16570867728950e", "{0f8fad5b-d9cb-469f-a165-70867728950e}",
        "0f8fad5b-d9cb-469f-a165-70867728950e0", "0f8fad5b-d9cb-469f-a16570867728950e-",
        "0f8fad5b-d9cb-469f-a165-7086772895g0", "../../etc/passwd-aaaa-bbbb-cccccccccc"}) {
    EXPECT_FALSE(Uuid::parse(text)) << text;
  }
}

TEST(Uuid, RandomIsVersionFourAndDistinct) {
  const Uuid a = Uuid::random();
  const Uuid b = Uuid::random();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.bytes()[6] >> 4, 4);
  EXPECT_EQ(a.bytes()[8] & 0xC0, 0x80);
  EXPECT_EQ(Uuid::parse(a.string()), a);
}

TEST(Digest, MatchesKnownVectorsAndFileReadsInBlocks) {
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  testing::TempDir dir;
  // Larger than one block and not a multiple of it.
  std::string content(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  testing::writeFile(dir / "big", content);
  EXPECT_EQ(sha256HexOfFile(dir / "big"), sha256Hex(content));
  EXPECT_FALSE(sha256HexOfFile(dir / "missing"));
}

}  // namespace
}  // namespace glimmet
