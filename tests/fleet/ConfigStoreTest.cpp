// Saved configurations: temporary files never stay, unchanged copies write
// nothing, replaced copies go to a unique history name.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "fleet/ConfigStore.h"

namespace tarnwick::fleet {
namespace {

namespace fs = std::filesystem;

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnwick-store-" + std::to_string(std::random_device()()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  SaveOutcome Save(const std::string& name, const std::string& bytes, const std::string& stamp) {
    std::string error;
    auto temp = TempConfig::Create(dir_, name, error);
    EXPECT_TRUE(temp) << error;
    if (!temp) return {};
    // In pieces, as blocks arrive.
    for (std::size_t i = 0; i < bytes.size(); i += 512)
      EXPECT_TRUE(temp->Write(std::string_view(bytes).substr(i, 512)));
    return SaveConfig(*temp, dir_, name, stamp);
  }
  std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Files() {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir_))
      if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir_).generic_string());
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path dir_;
};

TEST_F(ConfigStoreTest, FirstChangedUnchangedAndSameSecond) {
  const std::string v1(1536, 'a'), v2 = v1 + "b", v3 = "short";
  SaveOutcome first = Save("sw1", v1, "20261208T013000Z");
  EXPECT_TRUE(first.ok && first.changed);
  EXPECT_EQ(first.historyFile, "");

  SaveOutcome same = Save("sw1", v1, "20261208T013100Z");
  EXPECT_TRUE(same.ok);
  EXPECT_FALSE(same.changed);

  SaveOutcome second = Save("sw1", v2, "20261208T013200Z");
  EXPECT_TRUE(second.ok && second.changed);
  EXPECT_EQ(second.historyFile, "history/sw1/20261208T013200Z.cfg");
  SaveOutcome third = Save("sw1", v3, "20261208T013200Z");  // two runs in one second
  EXPECT_EQ(third.historyFile, "history/sw1/20261208T013200Z-2.cfg");

  EXPECT_EQ(Read(dir_ / "sw1.cfg"), v3);
  EXPECT_EQ(Read(dir_ / "history/sw1/20261208T013200Z.cfg"), v1);
  EXPECT_EQ(Read(dir_ / "history/sw1/20261208T013200Z-2.cfg"), v2);
  EXPECT_EQ(Files(), (std::vector<std::string>{"history/sw1/20261208T013200Z-2.cfg",
                                               "history/sw1/20261208T013200Z.cfg", "sw1.cfg"}));
}

TEST_F(ConfigStoreTest, SameSizeDifferentBytesIsAChange) {
  Save("r", std::string(4096, 'x'), "20260101T000000Z");
  std::string changed(4096, 'x');
  changed[4095] = 'y';
  EXPECT_TRUE(Save("r", changed, "20260101T000001Z").changed);
  EXPECT_TRUE(Save("e", "", "20260101T000001Z").changed);  // an empty file is a file
  EXPECT_FALSE(Save("e", "", "20260101T000002Z").changed);
}

TEST_F(ConfigStoreTest, DiscardedAndDestroyedTemporariesLeaveNothing) {
  std::string error;
  {
    auto temp = TempConfig::Create(dir_, "a", error);
    ASSERT_TRUE(temp);
    temp->Write("partial");
  }
  auto temp = TempConfig::Create(dir_, "b", error);
  ASSERT_TRUE(temp);
  temp->Write("partial");
  temp->Discard();
  EXPECT_TRUE(Files().empty());
}

TEST_F(ConfigStoreTest, UnwritableFolderIsAnError) {
  std::string error;
  EXPECT_FALSE(TempConfig::Create(dir_ / "missing", "a", error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
}

TEST(HistoryStamp, UtcWithoutColons) {
  EXPECT_EQ(HistoryStamp(0), "19700101T000000Z");
  EXPECT_EQ(HistoryStamp(1796693400), "20261208T013000Z");
}

}  // namespace
}  // namespace tarnwick::fleet
