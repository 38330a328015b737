// The shared rule for tests whose peer is missing: only
// TARNWICK_REQUIRE_PEERS=1 turns the skip into a failure.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../support/RequiredPeer.h"

namespace tarnwick::test {
namespace {

TEST(RequiredPeer, OnlyTheValueOneDemandsPeers) {
  EXPECT_FALSE(PeersRequiredBy(nullptr));
  for (const char* value : {"", "0", "yes", "true", "11", " 1"}) {
    SCOPED_TRACE(value);
    EXPECT_FALSE(PeersRequiredBy(value));
  }
  EXPECT_TRUE(PeersRequiredBy("1"));
}

// Sets the variable for the scope and puts the old value back.
class RequirePeersScope {
 public:
  explicit RequirePeersScope(const char* value) {
    const char* old = std::getenv(kName);
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(value);
  }
  ~RequirePeersScope() { Set(had_ ? old_.c_str() : ""); }
  RequirePeersScope(const RequirePeersScope&) = delete;
  RequirePeersScope& operator=(const RequirePeersScope&) = delete;

 private:
  static constexpr const char* kName = "TARNWICK_REQUIRE_PEERS";
  static void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(kName, value);
#else
    setenv(kName, value, 1);
#endif
  }
  bool had_ = false;
  std::string old_;
};

void MissingDanted() { TARNWICK_MISSING_PEER("danted is not installed"); }

// What the helper reported, caught before it reaches this test's result.
void CatchOutcome(const char* required, ::testing::TestPartResultArray& results) {
  RequirePeersScope scope(required);
  ::testing::ScopedFakeTestPartResultReporter catcher(
      ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
  MissingDanted();
}

TEST(RequiredPeer, MissingPeerSkipsUnlessRequired) {
  struct Row {
    const char* required;
    bool fails;
  } rows[] = {{"1", true}, {"0", false}, {"", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.required);
    ::testing::TestPartResultArray results;
    CatchOutcome(row.required, results);
    ASSERT_EQ(results.size(), 1);
    const ::testing::TestPartResult& result = results.GetTestPartResult(0);
    EXPECT_EQ(result.fatally_failed(), row.fails);
    EXPECT_EQ(result.skipped(), !row.fails);
    EXPECT_NE(std::string(result.message()).find("danted is not installed"), std::string::npos);
  }
}

}  // namespace
}  // namespace tarnwick::test
