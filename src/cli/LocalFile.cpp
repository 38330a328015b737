#include "cli/LocalFile.h"

#include <random>

#include "base/FileStream.h"

namespace tarnwick::cli {

std::string TemporaryNameFor(const std::string& target) {
  std::random_device seed;
  std::mt19937 random(seed());
  static const char kHex[] = "0123456789abcdef";
  std::string name = target + ".tarnwick-";
  for (int i = 0; i < 8; ++i) name += kHex[random() % 16];
  return name + ".part";
}

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  for (int attempt = 0; attempt < 4 && temporary_.empty(); ++attempt) {
    std::string candidate = TemporaryNameFor(target_);
    if (FileExists(candidate)) continue;
    try {
      TFileStream probe(candidate, FileMode::Create);
      probe.Close();
      temporary_ = candidate;
    } catch (const EStreamError&) {
      break;
    }
  }
  // The user named the target, so the error names it too.
  if (temporary_.empty()) throw EFCreateError(target_);
}

PendingFile::~PendingFile() {
  if (!committed_) RemoveFileQuietly(temporary_);
}

void PendingFile::Commit(TMemoryStream& content) {
  content.SaveToFile(temporary_);
  if (!ReplaceFileWith(temporary_, target_)) throw EFCreateError(target_);
  committed_ = true;
}

}  // namespace tarnwick::cli
