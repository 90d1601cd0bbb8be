// Which pages may use the bridge and which posted bodies become requests.
#include "bridge/bridge_message.h"

#include <gtest/gtest.h>

namespace glimmet {
namespace {

TEST(BridgeTrust, OnlyThePackagedOriginAsWritten) {
  const struct {
    const char* url;
    bool trusted;
  } rows[] = {
      {"plumora://local/index.html", true},
      {"plumora://local", true},
      {"plumora://local/index.html?x#y", true},
      {"plumora://local?x", true},
      {"plumora://local#y", true},
      {"plumora://local/history-preview/%41/image.png", true},
      {"plumora://local:8080/index.html", false},
      {"plumora://local:/index.html", false},
      {"plumora://user@local/", false},
      {"plumora://local@evil/", false},
      {"plumora://local\\evil/", false},
      {"plumora://localhost/", false},
      {"plumora://%6Cocal/", false},
      {"plumora://LOCAL/", false},
      {"PLUMORA://local/", false},
      {"plumora:/local/", false},
      {" plumora://local/", false},
      {"plumora://local/\nx", false},
      {"plumora://local/\xe9", false},
      {"file:///tmp/index.html", false},
      {"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(trusted(std::string_view(row.url)), row.trusted) << row.url;
  EXPECT_FALSE(trusted(std::nullopt));
}

TEST(BridgeEnvelope, AcceptsWellFormedRequestsOnly) {
  constexpr const char* kPage = "plumora://local/index.html";
  const struct {
    const char* frame;
    bool main;
    const char* body;
    bool accepted;
  } rows[] = {
      {kPage, true, R"({"id":3,"action":"pin","value":{"enabled":false}})", true},
      {kPage, true, R"({"id":-4,"action":"hide","extra":1})", true},
      {kPage, true, R"({"id":9223372036854775807,"action":"hide"})", true},
      {kPage, false, R"({"id":1,"action":"hide"})", false},
      {"plumora://local:1/index.html", true, R"({"id":1,"action":"hide"})", false},
      {kPage, true, R"([1,"hide"])", false},
      {kPage, true, R"({"id":"1","action":"hide"})", false},
      {kPage, true, R"({"id":1.0,"action":"hide"})", false},
      {kPage, true, R"({"id":1.5,"action":"hide"})", false},
      {kPage, true, R"({"id":9223372036854775808,"action":"hide"})", false},
      {kPage, true, R"({"action":"hide"})", false},
      {kPage, true, R"({"id":1})", false},
      {kPage, true, R"({"id":1,"action":["hide"]})", false},
      {kPage, true, R"({"id":1,"action":"readClipboard"})", false},
  };
  for (const auto& row : rows) {
    const auto message =
        acceptedMessage(std::string_view(row.frame), row.main, Json::parse(row.body));
    EXPECT_EQ(message.has_value(), row.accepted) << row.frame << " " << row.main << " " << row.body;
  }
  EXPECT_FALSE(acceptedMessage(std::nullopt, true, Json::parse(R"({"id":1,"action":"hide"})")));
}

TEST(BridgeEnvelope, CarriesIdActionAndValue) {
  const auto pin =
      acceptedMessage("plumora://local/index.html", true,
                      Json::parse(R"({"id":3,"action":"pin","value":{"enabled":false}})"));
  ASSERT_TRUE(pin);
  EXPECT_EQ(pin->id, 3);
  EXPECT_EQ(pin->action, "pin");
  EXPECT_EQ(pin->value, Json({{"enabled", false}}));
}

}  // namespace
}  // namespace glimmet
