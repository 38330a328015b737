#include "archive/Archive.h"

#include <exception>

namespace tarnwick::archive {

const char* FateName(Fate fate) {
  switch (fate) {
    case Fate::New:
      return "new";
    case Fate::Changed:
      return "changed";
    case Fate::Unchanged:
      return "unchanged";
    case Fate::Refused:
      return "refused";
    case Fate::Failed:
      break;
  }
  return "failed";
}

std::string Archive::Check(const Candidate& c, TempConfig& temp, const std::function<bool()>& stop,
                           Outcome& outcome) {
  FetchedFacts facts;
  facts.bytes = temp.Bytes();
  facts.announced = c.announced;
  std::string error;
  if (!store_.PreviousSize(c.device, facts.previous, error)) {
    outcome.fate = Fate::Failed;
    return outcome.reason = error;
  }
  // A stop request ends the search of a huge copy at once (the read goes on
  // at disk speed): the copy is then not stored.
  bool stopped = false;
  std::string refusal =
      RefusalReason(facts, c.rules, [&](const std::function<void(std::string_view)>& piece) {
        const bool read = temp.ReadBack([&](std::string_view bytes) {
          if (!stopped && !(stopped = stop())) piece(bytes);
        });
        return read && !stopped;
      });
  if (stopped) {
    outcome.fate = Fate::Failed;
    return outcome.reason = "stopped before the new copy was checked";
  }
  if (!refusal.empty()) {
    outcome.fate = Fate::Refused;
    outcome.previousKept = facts.previous.has_value();
    outcome.reason = refusal;
  }
  return refusal;
}

Outcome Archive::Place(const std::string& device, TempConfig& temp) {
  Outcome outcome;
  try {
    const SaveOutcome saved = store_.Save(temp, device, stamp_);
    if (!saved.ok) {
      outcome.reason = saved.error;
      return outcome;
    }
    outcome.fate = !saved.changed ? Fate::Unchanged : saved.historyFile.empty() ? Fate::New : Fate::Changed;
    outcome.history = saved.historyFile;
  } catch (const std::exception& e) {
    outcome.fate = Fate::Failed;
    outcome.reason = std::string("unexpected failure: ") + e.what();
  }
  return outcome;
}

Outcome Archive::Offer(const Candidate& c, std::unique_ptr<TempConfig> temp,
                       const std::function<bool()>& stop) {
  Outcome outcome;
  if (!Check(c, *temp, stop, outcome).empty()) return outcome;
  if (store_.SameAsSaved(*temp, c.device)) {
    outcome.fate = Fate::Unchanged;
    return outcome;
  }
  return Place(c.device, *temp);  // temp's destructor removes it unless it was put in place
}

bool Archive::Commit(const std::string& message, std::string& commit, std::string& error,
                     std::string& warning) {
  if (!git_) return true;
  if (!git_->CommitStore(message, commit, error, warning)) return false;
  if (pushRemote_.empty()) return true;
  if (git_->PushBranch(pushRemote_, error)) return true;
  error = GitArchive::WithShownRemote("kept here, but " + error, pushRemote_);
  return false;
}

}  // namespace tarnwick::archive
