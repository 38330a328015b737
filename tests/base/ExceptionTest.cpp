#include "base/Exception.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

int hookCalls = 0;
void CountingHook(RaisePoint& point) {
  ++hookCalls;
  point.stack.push_back(point.address);
}

TEST(Exception, KeepsClassNameMessageAndRaiseAddress) {
  try {
    throw Exception("EFOpenError", "ファイル x は開けません");
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_STREQ(e.what(), "ファイル x は開けません");
    EXPECT_NE(e.Raised().address, 0u);
    EXPECT_TRUE(e.Raised().stack.empty());
  }
}

TEST(Exception, CaptureHookSeesEveryRaise) {
  hookCalls = 0;
  SetRaiseCaptureHook(&CountingHook);
  try {
    throw Exception("ESocketError", "x");
  } catch (const Exception& e) {
    ASSERT_EQ(e.Raised().stack.size(), 1u);
    EXPECT_EQ(e.Raised().stack[0], e.Raised().address);
  }
  SetRaiseCaptureHook(nullptr);
  EXPECT_EQ(hookCalls, 1);
}

}  // namespace
}  // namespace tarnwick
