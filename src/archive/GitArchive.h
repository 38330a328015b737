// The archive stage (--git): the destination folder as a git repository,
// one commit per run that holds the state of the store -- every *.cfg at
// the top and everything under history/ that differs from HEAD -- so a run
// after a failed commit heals the archive. The commit is staged in an index
// of our own in memory, never the repository's shared one, and goes onto
// the current branch. Built on libgit2 where the build has it (the native
// one); elsewhere Available() is false and --git is refused.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarnwick::archive {

class GitArchive {
 public:
  static bool Available();
  // Whether libgit2 can be loaded; false with the reason (a usage error:
  // nothing is fetched).
  static bool Loadable(std::string& error);
  // Opens dir as the top of a repository, or creates one there. Empty with
  // the reason when that fails.
  static std::unique_ptr<GitArchive> Open(const std::string& dir, std::string& error);
  ~GitArchive();
  GitArchive(const GitArchive&) = delete;
  GitArchive& operator=(const GitArchive&) = delete;

  // Commits the store's files onto the current branch with message. commit
  // is the new commit's id, empty when nothing differed from HEAD. False
  // with the reason on failure (a detached HEAD is one). warning says what
  // went wrong after the commit was made (the shared index left stale).
  bool CommitStore(const std::string& message, std::string& commit, std::string& error, std::string& warning);

  // --git-branch: commits go onto refs/heads/NAME (made from HEAD's commit
  // when missing), whatever is checked out; by default onto the branch
  // checked out. ValidBranchName: a conservative subset of git's rules
  // (letters, digits, - _ . /; no "..", "//", leading '-' or '/', trailing
  // '/', '.' or ".lock").
  static bool ValidBranchName(const std::string& name);
  // The usage error of a --git-branch or --git-push value (backup's and
  // serve's), empty when it may be used.
  static std::string OptionFault(const std::string& option, const std::string& value);
  void UseBranch(const std::string& name);
  // --git-push: sends the branch the commits go onto to remote (a path or
  // any URL libgit2 takes) under the same name, fast-forward only: a remote
  // branch that moved elsewhere is refused, never overwritten. Every commit
  // not on the remote yet goes, so a push after one that failed sends what
  // that one left. False with the reason; nothing local changes either way.
  bool PushBranch(const std::string& remote, std::string& error);
  // The remote as shown, a URL's password replaced by "***"; text with
  // every mention of remote shown so.
  static std::string ShownRemote(const std::string& remote);
  static std::string WithShownRemote(std::string text, const std::string& remote);

  // Empty when CommitStore can commit, else what it would fail on (a
  // detached HEAD and no branch named): --check asks before any transfer.
  std::string CommitBlocker() const;

  // What Open found wrong without failing: a repository that other users
  // can read, with the command that fixes it. Empty when all is well.
  const std::string& OpenWarning() const;

 private:
  struct Impl;
  explicit GitArchive(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Whether rel (relative to DEST, '/'-separated) is part of the archive:
// a top-level *.cfg or anything under history/, never our temporary files.
bool ArchivedPath(const std::string& rel);

}  // namespace tarnwick::archive
