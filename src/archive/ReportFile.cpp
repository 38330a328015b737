#include "archive/ReportFile.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "archive/ConfigStore.h"
#include "archive/DestFolder.h"
#include "cliutil/FileHandle.h"

namespace tarnwick::archive {

namespace fs = std::filesystem;

bool WriteReportFile(const std::string& path, const std::string& content, ReportReaders readers,
                     std::string& error) {
  const fs::path target = PathFromUtf8(path);
  std::random_device random;
  cli::FileHandle file;
  std::string temp;
  // A name taken by chance is tried again under another; any other failure
  // is the answer.
  for (int attempt = 0; attempt < 8 && !file.Valid(); ++attempt) {
    char tag[20];
    std::snprintf(tag, sizeof tag, "%08x%08x", random(), random());
    // Our temporary prefix: a report kept inside DEST that a killed run left
    // half-written is swept by the next run like the configurations.
    temp = PathToUtf8(target.parent_path() / PathFromUtf8(std::string(kTempPrefix) + tag + "-" +
                                                          PathToUtf8(target.filename()) + ".tmp"));
    // The owner's alone while written (the group's once whole), or, for
    // everyone's file, what the umask gives any new file.
    file = readers == ReportReaders::All ? cli::FileHandle::CreateExclusive(temp)
                                         : cli::FileHandle::CreatePrivate(temp);
    if (!file.Valid() && !fs::exists(fs::symlink_status(PathFromUtf8(temp)))) break;
  }
  if (!file.Valid())
    return error = FileErrorText("cannot write report " + path, cli::FileError::Last()), false;
  bool written = file.WriteAll(content.data(), content.size()) && file.Sync();
  cli::FileError failure;
  if (!written) failure = cli::FileError::Last();
  if (!file.Close() && written) {
    written = false;
    failure = cli::FileError::Last();
  }
  std::error_code ec;
  if (written && readers == ReportReaders::Group)
    fs::permissions(PathFromUtf8(temp),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read, ec);
  if (written && !ec) fs::rename(PathFromUtf8(temp), target, ec);
  if (!written || ec) {
    fs::remove(PathFromUtf8(temp), ec);
    if (written) failure.text = ec.message();
    return error = FileErrorText("cannot write report " + path, failure), false;
  }
  return true;
}

}  // namespace tarnwick::archive
