// The store: temporary files never stay, unchanged copies write nothing,
// replaced copies go to a unique history name; and what DEST must resist
// (modes, links planted inside it, a second run, a full disk, leftovers).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <fstream>
#include <random>
#include <thread>

#include "archive/Archive.h"
#include "archive/ConfigStore.h"
#include "archive/ReportFile.h"

namespace tarnwick::archive {
namespace {

namespace fs = std::filesystem;

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnwick-store-" + std::to_string(std::random_device()()));
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::owner_all);
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(dir_);
  }
  ConfigStore& Store() {
    if (!store_) {
      DestOpening opening;
      store_ = ConfigStore::Open(dir_.string(), "pid 1, started now\n", opening);
      EXPECT_TRUE(store_) << opening.error;
    }
    return *store_;
  }

  SaveOutcome Save(const std::string& name, const std::string& bytes, const std::string& stamp) {
    std::string error;
    auto temp = Store().NewTemp(name, error);
    EXPECT_TRUE(temp) << error;
    if (!temp) return {};
    // In pieces, as blocks arrive.
    for (std::size_t i = 0; i < bytes.size(); i += 512)
      EXPECT_TRUE(temp->Write(std::string_view(bytes).substr(i, 512)));
    return Store().Save(*temp, name, stamp);
  }
  std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Files() {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir_))
      if (e.is_regular_file() && e.path().filename() != ".tarnwick.lock")
        out.push_back(fs::relative(e.path(), dir_).generic_string());
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path dir_;
  std::unique_ptr<ConfigStore> store_;
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
  std::string error;
  EXPECT_TRUE(Store().SyncFolders(error)) << error;

  // Nine more changes in that second: --keep 2 keeps the two made last,
  // whatever "-10" and "-2" look like beside a plain stamp.
  for (int i = 4; i <= 12; ++i) Save("sw1", v1 + std::to_string(i), "20261208T013200Z");
  EXPECT_EQ(Store().NewestHistory("sw1"), "history/sw1/20261208T013200Z-11.cfg");
  EXPECT_EQ(Store().TrimHistory("sw1", 2), 9u);
  EXPECT_EQ(Files(), (std::vector<std::string>{"history/sw1/20261208T013200Z-10.cfg",
                                               "history/sw1/20261208T013200Z-11.cfg", "sw1.cfg"}));

  // The same through the archive's one call, as an upload arrives: an empty
  // file is refused and the saved copy stays, the copy saved changes
  // nothing, another goes in with the saved one in the history.
  Archive archive(Store(), "20261208T020000Z");
  auto offer = [&](const std::string& bytes) {
    std::unique_ptr<TempConfig> temp = Store().NewTemp("sw1", error);
    EXPECT_TRUE(temp && temp->Write(bytes)) << error;
    Candidate pushed;
    pushed.device = "sw1";
    pushed.origin = Origin::Pushed;
    pushed.from = "192.0.2.10";
    return archive.Offer(pushed, std::move(temp), [] { return false; });
  };
  const std::string saved = Read(dir_ / "sw1.cfg");
  const Outcome empty = offer("");
  EXPECT_EQ(empty.fate, Fate::Refused);
  EXPECT_TRUE(empty.previousKept);
  EXPECT_EQ(offer(saved).fate, Fate::Unchanged);
  const Outcome changed = offer(v2);
  EXPECT_EQ(changed.fate, Fate::Changed) << changed.reason;
  EXPECT_EQ(changed.history, "history/sw1/20261208T020000Z.cfg");
  EXPECT_EQ(Read(dir_ / "sw1.cfg"), v2);
  EXPECT_EQ(Read(dir_ / changed.history), saved);
  EXPECT_EQ(Files().size(), 4u);  // no candidate left behind
}

TEST_F(ConfigStoreTest, SameSizeDifferentBytesIsAChange) {
  Save("r", std::string(4096, 'x'), "20260101T000000Z");
  std::string changed(4096, 'x');
  changed[4095] = 'y';
  EXPECT_TRUE(Save("r", changed, "20260101T000001Z").changed);
}

TEST_F(ConfigStoreTest, DestroyedTemporariesLeaveNothing) {
  std::string error;
  {
    auto temp = Store().NewTemp("a", error);
    ASSERT_TRUE(temp);
    temp->Write("partial");
  }
  EXPECT_TRUE(Files().empty());
}

#ifndef _WIN32  // links, modes and file-size limits as POSIX has them
// What DEST must resist, one row per way it goes wrong: the save of device
// "sw" fails with its reason (or the store refuses to open), and nothing
// outside DEST is touched.
TEST_F(ConfigStoreTest, HostileFolder) {
  const fs::path outside = dir_.string() + "-outside";
  fs::create_directories(outside);
  std::ofstream(outside / "secret") << "outside";
  struct Row {
    const char* what;
    std::function<void(const fs::path&)> plant;
    std::string saveError;  // empty: the save works
    std::string openError;  // empty: the store opens
  } rows[] = {
      {"link in place of the configuration",
       [&](const fs::path& d) { fs::create_symlink(outside / "secret", d / "sw.cfg"); },
       "sw.cfg: it is a symbolic link", ""},
      {"link in place of the history folder",
       [&](const fs::path& d) {
         std::ofstream(d / "sw.cfg") << "old";
         fs::create_symlink(outside, d / "history");
       },
       "history/sw: it is a symbolic link", ""},
      {"file in place of the device's history folder",
       [&](const fs::path& d) {
         std::ofstream(d / "sw.cfg") << "old";
         fs::create_directories(d / "history");
         std::ofstream(d / "history" / "sw") << "x";
       },
       "history/sw: it is not a folder", ""},
      {"leftovers of a dead run are swept",
       [&](const fs::path& d) {
         std::ofstream(d / ".tarnwick-99-0-sw.tmp") << "partial";
         fs::create_directories(d / "history" / "sw");
         std::ofstream(d / "history" / "sw" / ".tarnwick-99-1.tmp") << "partial";
       },
       "", ""},
      {"a full disk (file-size limit) fails the write with the system's words", [&](const fs::path&) {},
       "File too large", ""},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    store_.reset();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::owner_all);
    row.plant(dir_);
    DestOpening opening;
    store_ = ConfigStore::Open(dir_.string(), "pid 1\n", opening);
    ASSERT_TRUE(store_) << opening.error;
    std::string error;
    auto temp = store_->NewTemp("sw", error);
    ASSERT_TRUE(temp) << error;
    const bool full = std::string(row.what).find("full disk") != std::string::npos;
    rlimit old{};
    if (full) {
      ::signal(SIGXFSZ, SIG_IGN);
      ::getrlimit(RLIMIT_FSIZE, &old);
      rlimit small = old;
      small.rlim_cur = 1000;
      ::setrlimit(RLIMIT_FSIZE, &small);
    }
    std::string syncError;  // writes are buffered: the limit may only show when the file is flushed
    const bool written = temp->Write(std::string(2000, 'n')) && temp->Sync(syncError);
    if (full) ::setrlimit(RLIMIT_FSIZE, &old);
    if (full) {
      EXPECT_FALSE(written);
      EXPECT_TRUE(temp->DiskFull());
      EXPECT_NE(syncError.find(row.saveError), std::string::npos) << syncError;
      temp.reset();
      EXPECT_TRUE(Files().empty());
      continue;
    }
    SaveOutcome saved = store_->Save(*temp, "sw", "20261208T013000Z");
    if (row.saveError.empty()) {
      EXPECT_TRUE(saved.ok) << saved.error;
      EXPECT_EQ(Files(), std::vector<std::string>{"sw.cfg"});
      EXPECT_EQ(store_->Swept(), 2u);
    } else {
      EXPECT_FALSE(saved.ok);
      EXPECT_NE(saved.error.find(row.saveError), std::string::npos) << saved.error;
    }
    EXPECT_EQ(Read(outside / "secret"), "outside");
    std::size_t outsideFiles = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(outside)) ++outsideFiles;
    EXPECT_EQ(outsideFiles, 1u);
  }
  fs::remove_all(outside);
}

// New folders are the owner's alone; a team's folder lets its group read;
// others never read what we write; a second run on the same DEST is refused
// and told who holds it.
TEST_F(ConfigStoreTest, ModesAndTheLock) {
  struct Row {
    bool existing;
    mode_t folder;
    mode_t file;
    bool warned;
  } rows[] = {
      {false, 0, 0600, false},
      {true, 0700, 0600, false},
      {true, 0750, 0640, false},
      {true, 0755, 0640, true},
  };
  const mode_t oldMask = ::umask(0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.folder);
    store_.reset();
    fs::remove_all(dir_);
    if (row.existing) {
      fs::create_directories(dir_);
      ::chmod(dir_.c_str(), row.folder);
    }
    DestOpening opening;
    store_ = ConfigStore::Open(dir_.string(), "pid 4242, started 2026-12-08T01:30:00Z\n", opening);
    ASSERT_TRUE(store_) << opening.error;
    EXPECT_EQ(opening.created, !row.existing);
    EXPECT_EQ(!opening.warnings.empty(), row.warned);
    struct stat st {};
    ::stat(dir_.c_str(), &st);
    if (!row.existing) {
      EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    EXPECT_TRUE(Save("m", "config", "20261208T013000Z").ok);
    ::stat((dir_ / "m.cfg").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, row.file);
    // A report quotes diffs: it takes the configurations' mode, wherever it goes.
    const fs::path report = dir_.parent_path() / "report.json";
    std::string error;
    ASSERT_TRUE(WriteReportFile(report.string(), "{}",
                                opening.groupReadable ? ReportReaders::Group : ReportReaders::Owner, error))
        << error;
    ::stat(report.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, row.file);

    DestOpening second;
    EXPECT_FALSE(ConfigStore::Open(dir_.string(), "pid 1\n", second));
    EXPECT_TRUE(second.busy);
    EXPECT_NE(second.error.find("pid 4242, started 2026-12-08T01:30:00Z"), std::string::npos) << second.error;
    // One that waits its turn is still told when the wait runs out, and gets
    // the store once the holder lets go.
    DestOpening bounded;
    EXPECT_FALSE(ConfigStore::Open(dir_.string(), "pid 1\n", bounded, std::chrono::milliseconds(60)));
    EXPECT_TRUE(bounded.busy);
    std::thread holder([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // while the next one waits
      store_.reset();
    });
    DestOpening waited;
    std::unique_ptr<ConfigStore> next =
        ConfigStore::Open(dir_.string(), "pid 1\n", waited, std::chrono::minutes(5));
    holder.join();
    EXPECT_TRUE(next) << waited.error;
  }
  ::umask(oldMask);
}

#endif

TEST(HistoryStamp, UtcWithoutColons) {
  EXPECT_EQ(HistoryStamp(0), "19700101T000000Z");
  EXPECT_EQ(HistoryStamp(1796693400), "20261208T013000Z");
}

}  // namespace
}  // namespace tarnwick::archive
