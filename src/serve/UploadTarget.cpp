#include "serve/UploadTarget.h"

#include <atomic>
#include <random>

#include "serve/RequestName.h"

namespace tarnwick::serve {

namespace {

// Temporary names differ per upload of this process. Each process starts at
// its own random point, so the names a crashed earlier run left behind do
// not stand in the way of the next run's first uploads; a name that is
// taken anyway is skipped by the exclusive create.
std::atomic<std::uint32_t> g_uploadCounter{std::random_device{}()};

Refusal StoreRefusal(const cli::FileError& error, const char* what) {
  return Refuse(error.diskFull ? kErrorDiskFull : kErrorAccess, std::string(what) + ": " + error.text);
}

}  // namespace

UploadTarget::UploadTarget(std::unique_ptr<RootFolder> folder, std::string name, std::string temp,
                           cli::FileHandle file, const UploadPolicy& policy)
    : folder_(std::move(folder)),
      name_(std::move(name)),
      temp_(std::move(temp)),
      file_(std::move(file)),
      policy_(policy) {}

UploadTarget::~UploadTarget() { Abandon(); }

void UploadTarget::Abandon() noexcept {
  if (done_) return;
  done_ = true;
  file_ = cli::FileHandle();
  folder_->Remove(temp_);
}

std::unique_ptr<UploadTarget> UploadTarget::Begin(const RootFolder& tree, std::string_view wireName,
                                                  const UploadPolicy& policy,
                                                  std::optional<std::uint64_t> tsize, Refusal& refusal) {
  if (!policy.enabled) {
    refusal = Refuse(kErrorAccess, "uploads are not enabled");
    return nullptr;
  }
  RequestName name = SplitRequestName(wireName, NativeNameRules());
  if (name.refusal.Refused()) {
    refusal = std::move(name.refusal);
    return nullptr;
  }
  if (tsize && *tsize > policy.maxBytes) {
    refusal = Refuse(kErrorDiskFull, "announced size " + std::to_string(*tsize) +
                                         " is over the upload limit " + std::to_string(policy.maxBytes));
    return nullptr;
  }
  std::string leaf = std::move(name.parts.back());
  name.parts.pop_back();
  auto folder = tree.Descend(name.parts, refusal);
  if (!folder) return nullptr;
  switch (folder->Look(leaf)) {
    case EntryKind::None:
      break;
    case EntryKind::Regular:
      if (policy.overwrite) break;
      refusal = Refuse(kErrorExists, "file exists and overwriting is not enabled");
      return nullptr;
    case EntryKind::Other:
      refusal = Refuse(kErrorAccess, "name is taken by a folder, link or special file");
      return nullptr;
  }
  cli::FileError error;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temp = std::string(kServeTempPrefix) + "up-" + std::to_string(g_uploadCounter++);
    cli::FileHandle file = folder->CreatePrivate(temp, error);
    if (file.Valid())
      return std::make_unique<UploadTarget>(std::move(folder), std::move(leaf), std::move(temp),
                                            std::move(file), policy);
  }
  refusal = StoreRefusal(error, "cannot create the temporary file");
  return nullptr;
}

bool UploadTarget::Write(std::string_view bytes, Refusal& refusal) {
  if (done_) {
    refusal = Refuse(kErrorNotDefined, "upload already ended");
    return false;
  }
  if (bytes.size() > policy_.maxBytes - bytes_) {
    refusal =
        Refuse(kErrorDiskFull, "upload is over the limit of " + std::to_string(policy_.maxBytes) + " bytes");
    Abandon();
    return false;
  }
  if (!file_.WriteAll(bytes.data(), bytes.size())) {
    refusal = StoreRefusal(cli::FileError::Last(), "cannot write the upload");
    Abandon();
    return false;
  }
  bytes_ += bytes.size();
  return true;
}

bool UploadTarget::Finish(Refusal& refusal) {
  if (done_) {
    refusal = Refuse(kErrorNotDefined, "upload already ended");
    return false;
  }
  cli::FileError error;
  folder_->SetPublishedMode(file_, name_);
  if (!file_.Sync() || !file_.Close()) {
    refusal = StoreRefusal(cli::FileError::Last(), "cannot flush the upload");
    Abandon();
    return false;
  }
  bool exists = false;
  if (!folder_->Publish(temp_, name_, policy_.overwrite, exists, error)) {
    refusal = exists ? Refuse(kErrorExists, "file appeared while the upload ran")
                     : StoreRefusal(error, "cannot rename the upload into place");
    Abandon();
    return false;
  }
  done_ = true;
  // The file is in place and complete; only the rename's durability across
  // a power loss is in doubt, which the log says without failing the client.
  if (!folder_->Sync(error)) warning_ = "folder flush failed: " + error.text;
  return true;
}

}  // namespace tarnwick::serve
