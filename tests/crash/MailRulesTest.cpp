// Mail rules: list limits and bracketed recipients.
#include <gtest/gtest.h>

#include <vector>

#include "crash/MailRules.h"

namespace tarnwick {
namespace {

TEST(MailRulesTest, ListLimits) {
  EXPECT_EQ(MailListLimitCode(0, 0), 0u);
  EXPECT_EQ(MailListLimitCode(kMailListLimit - 1, kMailListLimit - 1), 0u);
  EXPECT_EQ(MailListLimitCode(kMailListLimit, 0), 10u);
  EXPECT_EQ(MailListLimitCode(0, kMailListLimit), 9u);
  EXPECT_EQ(MailListLimitCode(kMailListLimit, kMailListLimit), 10u);  // recipients are checked first
}

TEST(MailRulesTest, BracketedRecipients) {
  struct Case {
    const char* line;
    const char* resolved;
    const char* sent;  // null: the resolved name is used
  } cases[] = {
      {"Admin [admin@example.invalid]", "Admin", "Admin admin@example.invalid"},
      {"[x]", "x", "x"},
      {"a]b[c", "abc", "abc"},  // first "]" and first "[", whatever their order
      {"Admin [a] [b]", "Admin", "Admin a [b]"},
      {"Admin [admin@example.invalid]", "Admin [resolved]", nullptr},
      {"Admin [admin@example.invalid", "Admin", nullptr},
      {"admin@example.invalid", "Admin", nullptr},
      {"", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto sent = BracketedRecipient(c.line, c.resolved);
    if (c.sent == nullptr) {
      EXPECT_FALSE(sent.has_value());
    } else {
      ASSERT_TRUE(sent.has_value());
      EXPECT_EQ(*sent, c.sent);
    }
  }
}

TEST(MailRulesTest, BodyLinesJoinWithCrLf) {
  const std::vector<std::string> lines = {"one", "", "three"};
  EXPECT_EQ(JoinLines(lines.data(), lines.size()), "one\r\n\r\nthree");
  EXPECT_EQ(JoinLines(lines.data(), 1), "one");
  EXPECT_EQ(JoinLines(nullptr, 0), "");
}

}  // namespace
}  // namespace tarnwick
