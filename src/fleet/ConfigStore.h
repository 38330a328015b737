// The saved configurations in the destination folder: DIR/<name>.cfg is the
// last complete copy, DIR/history/<name>/<UTC time>.cfg the copies it
// replaced. A transfer streams into a temporary file next to them, which
// becomes <name>.cfg only when the transfer completed and the content
// differs; every other ending removes it.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "tftp/ClientTransfer.h"

namespace tarnwick::fleet {

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// "20261208T013000Z": sorts by time, has no ':' (Windows file names).
std::string HistoryStamp(std::time_t utc);

class TempConfig : public tftp::FileSink {
 public:
  // Opens a new temporary file in dir; empty with the reason in error when
  // it cannot be created.
  static std::unique_ptr<TempConfig> Create(const std::filesystem::path& dir, const std::string& name,
                                            std::string& error);
  ~TempConfig() override;  // removes the file unless it was kept
  TempConfig(const TempConfig&) = delete;
  TempConfig& operator=(const TempConfig&) = delete;

  bool Write(std::string_view bytes) override;
  // Flushes and closes; false (with the reason) when the data did not reach
  // the disk.
  bool Close(std::string& error);
  // Removes the file now (failed or abandoned transfer).
  void Discard();
  const std::filesystem::path& Path() const { return path_; }
  void Kept() { kept_ = true; }

 private:
  TempConfig(std::filesystem::path path, std::ofstream stream);
  std::filesystem::path path_;
  std::ofstream stream_;
  bool kept_ = false;
};

struct SaveOutcome {
  bool ok = false;
  bool changed = false;
  std::string historyFile;  // relative to dir ("history/<name>/<stamp>.cfg"), empty when none
  std::string error;
};

// Moves a closed temporary file into place: nothing new when it equals
// DIR/<name>.cfg, else the old file goes to the history under stamp (made
// unique with -2, -3, ... when that name is taken) and the new one replaces
// it.
SaveOutcome SaveConfig(TempConfig& temp, const std::filesystem::path& dir, const std::string& name,
                       const std::string& stamp);

bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tarnwick::fleet
