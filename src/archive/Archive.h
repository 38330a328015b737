// What becomes of a configuration once it has arrived for a device, fetched
// by backup or received by serve: validate -> store -> git. "Offer this
// candidate for device D; say what became of it." The candidate is a
// TempConfig in DEST (ConfigStore::NewTemp) holding the complete file.
//
// Backup drives the same steps apart (Check, then a flush on a worker
// thread, then Place) so that one disk's fsyncs never hold up its
// transfers; Offer is the whole of it at once, for one file at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "archive/ConfigStore.h"
#include "archive/GitArchive.h"
#include "archive/Validate.h"

namespace tarnwick::archive {

enum class Origin { Pulled, Pushed };

struct Candidate {
  std::string device;  // the inventory's name: it becomes DEST/<device>.cfg
  Origin origin = Origin::Pulled;
  std::string from;  // the address it came from, for the log and the commit
  ValidationRules rules;
  std::optional<std::uint64_t> announced;  // the size the sender announced, when it is to be trusted
};

enum class Fate { New, Changed, Unchanged, Refused, Failed };

// "new", "changed", "unchanged", "refused", "failed".
const char* FateName(Fate fate);

struct Outcome {
  Fate fate = Fate::Failed;
  std::string reason;         // Refused, Failed: why
  std::string history;        // Changed: the copy it replaced, relative to DEST
  bool previousKept = false;  // Refused: a saved copy stands and stays
};

class Archive {
 public:
  // stamp names the history copies this archive makes (HistoryStamp).
  Archive(ConfigStore& store, std::string stamp) : store_(store), stamp_(std::move(stamp)) {}
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  // The validate step: empty when the candidate may be stored, else why not
  // (outcome.fate Refused, or Failed when DEST itself is at fault). stop is
  // asked while a large file is searched.
  std::string Check(const Candidate& c, TempConfig& temp, const std::function<bool()>& stop,
                    Outcome& outcome);
  // The store step: the candidate (flushed or not) becomes <device>.cfg,
  // the saved copy going to the history first. temp is gone afterwards.
  Outcome Place(const std::string& device, TempConfig& temp);
  // Both, and nothing written when the candidate is the copy saved.
  Outcome Offer(const Candidate& c, std::unique_ptr<TempConfig> temp, const std::function<bool()>& stop);

  // The git step (--git, --git-push): commits the store as it stands and
  // pushes the branch. False with the reason; a failed push keeps the
  // commit, and the next Commit's push sends it.
  void UseGit(GitArchive* git, std::string pushRemote) {
    git_ = git;
    pushRemote_ = std::move(pushRemote);
  }
  bool Commit(const std::string& message, std::string& commit, std::string& error, std::string& warning);

 private:
  ConfigStore& store_;
  std::string stamp_;
  GitArchive* git_ = nullptr;
  std::string pushRemote_;
};

}  // namespace tarnwick::archive
