#include "archive/GitArchive.h"

namespace tarnwick::archive {

struct GitArchive::Impl {
  std::string warning;
};

bool GitArchive::Available() { return false; }

bool GitArchive::Loadable(std::string& error) {
  error = "--git is not available in this build";
  return false;
}

std::unique_ptr<GitArchive> GitArchive::Open(const std::string&, std::string& error) {
  error = "--git is not available in this build";
  return nullptr;
}

GitArchive::GitArchive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
GitArchive::~GitArchive() = default;

bool GitArchive::CommitStore(const std::string&, std::string&, std::string& error, std::string&) {
  error = "--git is not available in this build";
  return false;
}

bool GitArchive::PushBranch(const std::string&, std::string& error) {
  error = "--git is not available in this build";
  return false;
}

const std::string& GitArchive::OpenWarning() const { return impl_->warning; }
void GitArchive::UseBranch(const std::string&) {}
std::string GitArchive::CommitBlocker() const { return "--git is not available in this build"; }

}  // namespace tarnwick::archive
