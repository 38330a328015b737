// Memory stream: growth, the 32-bit size limit, seeking and whole-file load
// and save.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/MemoryStream.h"

namespace tarnwick {
namespace {

TEST(StreamLimit, FitsInStreamAtTheBoundaries) {
  struct Row {
    std::int64_t position, count;
    bool fits;
  };
  const std::int64_t max = INT32_MAX;
  const Row rows[] = {
      {0, 0, true},
      {0, max, true},
      {1, max, false},
      {max, 0, true},
      {max, 1, false},
      {max - 512, 512, true},
      {max - 511, 512, false},
      {-1, 0, false},
      {0, -1, false},
      {max + 1, 0, false},
      {0, 0xffffffffLL, false},
      {1LL << 30, 1LL << 30, false},
      {(1LL << 30) - 1, 1LL << 30, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "position " << r.position << " count " << r.count);
    EXPECT_EQ(FitsInStream(r.position, r.count, max), r.fits);
  }
}

TEST(StreamLimit, GrownCapacityDoublesAndStopsAtTheLimit) {
  struct Row {
    std::size_t current, needed, expected;
  };
  const std::size_t max = INT32_MAX;
  const Row rows[] = {
      {0, 1, 4096},           {0, 4096, 4096},
      {0, 4097, 8192},        {4096, 4097, 8192},
      {8192, 100, 8192},                                      // already big enough: unchanged
      {8192, 40000, 65536},   {0x40000000, 0x40000001, max},  // doubling would pass 2^31-1
      {0x7ffff000, max, max},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "current " << r.current << " needed " << r.needed);
    EXPECT_EQ(GrownCapacity(r.current, r.needed, max), r.expected);
  }
  // A lowered limit below the first step still leaves room for what is needed.
  EXPECT_EQ(GrownCapacity(0, 100, 1000), 1000u);
}

TEST(MemoryStream, WriteReadAndAmortisedGrowth) {
  TMemoryStream s;
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Capacity(), 0);
  int reallocations = 0;
  std::int32_t lastCapacity = 0;
  for (int i = 0; i < 300000; ++i) {
    char c = static_cast<char>(i * 7);
    ASSERT_EQ(s.Write(&c, 1), 1);
    if (s.Capacity() != lastCapacity) {
      ++reallocations;
      EXPECT_GE(s.Capacity(), 2 * lastCapacity);
      lastCapacity = s.Capacity();
    }
  }
  EXPECT_EQ(s.Size(), 300000);
  EXPECT_LE(reallocations, 8);  // 4 KiB doubled up to 512 KiB
  s.SetPosition(0);
  std::vector<char> back(300000);
  ASSERT_EQ(s.Read(back.data(), 300001), 300000);
  for (int i = 0; i < 300000; i += 997) ASSERT_EQ(back[i], static_cast<char>(i * 7)) << i;
  EXPECT_EQ(s.Read(back.data(), 1), 0);  // at the end
}

TEST(MemoryStream, WritePastTheLimitFailsWithoutTouchingTheStream) {
  TMemoryStream s;
  s.SetPosition(INT32_MAX - 100);
  char block[512] = {};
  EXPECT_EQ(s.Write(block, 512), 0);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Capacity(), 0);  // nothing was allocated
  EXPECT_EQ(s.Position(), INT32_MAX - 100);
  s.SetPosition(INT32_MAX);
  EXPECT_EQ(s.Write(block, 1), 0);
  EXPECT_THROW(s.Seek(1, SeekOrigin::Current), EStreamError);
  EXPECT_THROW(s.SetSize(static_cast<std::int64_t>(INT32_MAX) + 1), EStreamError);
}

TEST(MemoryStream, LoweredLimitRefusesTheFirstByteBeyondIt) {
  TMemoryStream s;
  s.SetSizeLimit(1000);
  std::string data(1000, 'x');
  EXPECT_EQ(s.Write(data.data(), 999), 999);
  EXPECT_EQ(s.Write(data.data(), 2), 0);
  EXPECT_EQ(s.Write(data.data(), 1), 1);
  EXPECT_EQ(s.Size(), 1000);
  EXPECT_EQ(s.Write(data.data(), 1), 0);
  EXPECT_THROW(s.SetSize(1001), EStreamError);
}

TEST(MemoryStream, SeekSetSizeAndGaps) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Seek(-2, SeekOrigin::End), 4);
  EXPECT_EQ(s.Seek(-1, SeekOrigin::Current), 3);
  EXPECT_THROW(s.Seek(-1, SeekOrigin::Beginning), EStreamError);
  EXPECT_THROW(s.Seek(-7, SeekOrigin::End), EStreamError);
  EXPECT_EQ(s.Position(), 3);  // a refused seek leaves the position alone

  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);  // pulled back to the new end
  s.SetSize(5);                // grows with zeros
  EXPECT_EQ(std::string(s.Memory(), 5), std::string("ab\0\0\0", 5));

  s.SetPosition(8);  // past the end: the gap reads back as zeros
  s.WriteBuffer("z", 1);
  EXPECT_EQ(s.Size(), 9);
  EXPECT_EQ(std::string(s.Memory(), 9), std::string("ab\0\0\0\0\0\0z", 9));

  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TEST(MemoryStream, ReadBufferRaisesOnShortData) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char out[4];
  EXPECT_THROW(s.ReadBuffer(out, 3), EReadError);
  s.SetPosition(0);
  s.ReadBuffer(out, 3);
  EXPECT_EQ(std::string(out, 3), "abc");
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

#if SIZE_MAX == UINT32_MAX
// A 32-bit process cannot hold 2^31-1 bytes in one block: the stream reports
// that as its own error and stays usable.
TEST(MemoryStream, GrowthBeyondAvailableMemoryRaisesEOutOfMemory) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  EXPECT_THROW(s.Reserve(INT32_MAX), EOutOfMemory);
  EXPECT_EQ(s.Size(), 3);
  EXPECT_EQ(std::string(s.Memory(), 3), "abc");
}
#endif

}  // namespace
}  // namespace tarnwick
