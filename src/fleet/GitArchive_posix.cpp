#include <git2.h>

#include "fleet/GitArchive.h"

namespace tarnwick::fleet {

namespace {

// One owner per libgit2 object kind, freed by its own function.
template <typename T, void (*Free)(T*)>
struct GitDeleter {
  void operator()(T* p) const {
    if (p) Free(p);
  }
};
template <typename T, void (*Free)(T*)>
using GitPtr = std::unique_ptr<T, GitDeleter<T, Free>>;
using Repository = GitPtr<git_repository, git_repository_free>;
using Index = GitPtr<git_index, git_index_free>;
using Tree = GitPtr<git_tree, git_tree_free>;
using CommitPtr = GitPtr<git_commit, git_commit_free>;
using Signature = GitPtr<git_signature, git_signature_free>;

std::string LastGitError(const char* what) {
  const git_error* e = git_error_last();
  return std::string(what) + ": " + (e && e->message ? e->message : "unknown libgit2 error");
}

// libgit2's global state, held while any archive is open.
struct LibraryScope {
  LibraryScope() { git_libgit2_init(); }
  ~LibraryScope() { git_libgit2_shutdown(); }
};

}  // namespace

struct GitArchive::Impl {
  LibraryScope library;
  Repository repo;
};

bool GitArchive::Available() { return true; }

GitArchive::GitArchive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
GitArchive::~GitArchive() = default;

std::unique_ptr<GitArchive> GitArchive::Open(const std::string& dir, std::string& error) {
  auto impl = std::make_unique<Impl>();
  git_repository* raw = nullptr;
  // Only dir itself counts: a backup folder inside some other checkout must
  // not commit into that one.
  int rc = git_repository_open_ext(&raw, dir.c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr);
  if (rc == GIT_ENOTFOUND) rc = git_repository_init(&raw, dir.c_str(), 0);
  if (rc != 0) {
    error = LastGitError(("cannot open or create a git repository in " + dir).c_str());
    return nullptr;
  }
  impl->repo.reset(raw);
  if (git_repository_is_bare(raw)) {
    error = dir + " is a bare git repository; --git needs a working folder";
    return nullptr;
  }
  return std::unique_ptr<GitArchive>(new GitArchive(std::move(impl)));
}

bool GitArchive::Commit(const std::vector<std::string>& files, const std::string& message,
                        std::string& error) {
  git_repository* repo = impl_->repo.get();
  git_index* rawIndex = nullptr;
  if (git_repository_index(&rawIndex, repo) != 0)
    return error = LastGitError("cannot read the git index"), false;
  Index index(rawIndex);
  for (const std::string& file : files)
    if (git_index_add_bypath(index.get(), file.c_str()) != 0)
      return error = LastGitError(("cannot stage " + file).c_str()), false;
  git_oid treeId{}, commitId{}, parentId{};
  if (git_index_write(index.get()) != 0 || git_index_write_tree(&treeId, index.get()) != 0)
    return error = LastGitError("cannot write the git index"), false;
  git_tree* rawTree = nullptr;
  if (git_tree_lookup(&rawTree, repo, &treeId) != 0)
    return error = LastGitError("cannot read the new tree"), false;
  Tree tree(rawTree);

  CommitPtr parent;
  int head = git_reference_name_to_id(&parentId, repo, "HEAD");
  if (head == 0) {
    git_commit* rawParent = nullptr;
    if (git_commit_lookup(&rawParent, repo, &parentId) != 0)
      return error = LastGitError("cannot read HEAD"), false;
    parent.reset(rawParent);
  } else if (head != GIT_ENOTFOUND) {
    return error = LastGitError("cannot resolve HEAD"), false;
  }

  // The user's identity when git knows one; a nightly job often has none.
  git_signature* rawSignature = nullptr;
  if (git_signature_default(&rawSignature, repo) != 0 &&
      git_signature_now(&rawSignature, "tarnwick-cli backup", "tarnwick-backup@localhost") != 0)
    return error = LastGitError("cannot make a commit signature"), false;
  Signature signature(rawSignature);

  const git_commit* parents[1] = {parent.get()};
  if (git_commit_create(&commitId, repo, "HEAD", signature.get(), signature.get(), nullptr, message.c_str(),
                        tree.get(), parent ? 1 : 0, parents) != 0)
    return error = LastGitError("cannot commit"), false;
  return true;
}

}  // namespace tarnwick::fleet
