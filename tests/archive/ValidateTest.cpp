// The validate stage: what may replace a saved configuration, by size
// against the announced and the previous one, and by pattern, line by line.
#include <gtest/gtest.h>

#include "archive/Validate.h"

namespace tarnwick::archive {
namespace {

TEST(Validate, SizesRatiosAndPatterns) {
  const std::string config = "!\r\nhostname core-sw01\r\ninterface Gi0/1\r\n";
  const std::string page = "<html><body>404 Not Found</body></html>";
  struct Row {
    std::uint64_t bytes;
    std::optional<std::uint64_t> announced, previous;
    double minRatio;
    const char* expect;  // nullptr: no pattern
    std::string content;
    std::string refusal;
  } rows[] = {
      {0, std::nullopt, std::nullopt, 0.5, nullptr, "", "refused: 0 bytes"},
      {0, 0, 100, 0, nullptr, "", "refused: 0 bytes"},
      {1, std::nullopt, std::nullopt, 0.5, nullptr, "x", ""},
      {38, std::nullopt, 100, 0.5, nullptr, "", "refused: 38% of the previous size"},
      {49, std::nullopt, 100, 0.5, nullptr, "", "refused: 49% of the previous size"},
      {50, std::nullopt, 100, 0.5, nullptr, "", ""},
      {1, std::nullopt, 100000, 0, nullptr, "x", ""},
      {10, std::nullopt, 0, 0.5, nullptr, "", ""},
      {512, 1024, std::nullopt, 0.5, nullptr, "",
       "refused: 512 bytes arrived, the device announced 1024 (tsize)"},
      {1024, 1024, std::nullopt, 0.5, nullptr, "", ""},
      {config.size(), std::nullopt, std::nullopt, 0.5, "^hostname \\S+$", config, ""},
      {page.size(), std::nullopt, std::nullopt, 0.5, "^hostname \\S+$", page,
       "refused: does not match the expected pattern"},
      // A match across a line break is no match: lines are searched one by one.
      {config.size(), std::nullopt, std::nullopt, 0.5, "core-sw01\\s+interface", config,
       "refused: does not match the expected pattern"},
      // A long line through a pattern that recursed once per byte (stack overflow).
      {40009, std::nullopt, std::nullopt, 0.5, ".*hostname", std::string(40000, 'a') + "hostname\n", ""},
      // Past 64 KiB of one line the rest is not searched.
      {70001, std::nullopt, std::nullopt, 0.5, "tail$", std::string(70000, 'a') + "tail",
       "refused: does not match the expected pattern"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.refusal + " " + std::to_string(row.bytes));
    ValidationRules rules;
    rules.minRatio = row.minRatio;
    if (row.expect) {
      std::string error;
      ASSERT_TRUE(Pattern::Compile(row.expect, rules.expect.emplace(), error)) << error;
    }
    // The content arrives in pieces that cut lines anywhere.
    auto read = [&](const std::function<void(std::string_view)>& piece) {
      for (std::size_t at = 0; at < row.content.size(); at += 7)
        piece(std::string_view(row.content).substr(at, 7));
      return true;
    };
    EXPECT_EQ(RefusalReason({row.bytes, row.announced, row.previous}, rules, read), row.refusal);
  }
}

}  // namespace
}  // namespace tarnwick::archive
