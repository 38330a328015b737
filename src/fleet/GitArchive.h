// --git: the destination folder as a git repository, one commit per run
// that changed something. Built on libgit2 where the build has it (the
// native one); elsewhere Available() is false and --git is refused.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarnwick::fleet {

class GitArchive {
 public:
  static bool Available();
  // Opens dir as the top of a repository, or creates one there. Empty with
  // the reason when that fails.
  static std::unique_ptr<GitArchive> Open(const std::string& dir, std::string& error);
  ~GitArchive();
  GitArchive(const GitArchive&) = delete;
  GitArchive& operator=(const GitArchive&) = delete;

  // Stages the files (paths relative to dir, '/'-separated) and commits them
  // on HEAD with message. False with the reason on failure.
  bool Commit(const std::vector<std::string>& files, const std::string& message, std::string& error);

 private:
  struct Impl;
  explicit GitArchive(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick::fleet
