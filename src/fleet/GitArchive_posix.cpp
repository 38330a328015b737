#include "fleet/GitArchive.h"
#include "fleet/GitLibrary.h"

namespace tarnwick::fleet {

namespace {

// One owner per libgit2 object kind, freed by its own function.
template <typename T, void (*GitFunctions::*Free)(T*)>
struct GitDeleter {
  const GitFunctions* git = nullptr;
  void operator()(T* p) const {
    if (p) (git->*Free)(p);
  }
};
template <typename T, void (*GitFunctions::*Free)(T*)>
using GitPtr = std::unique_ptr<T, GitDeleter<T, Free>>;
using Repository = GitPtr<git_repository, &GitFunctions::git_repository_free>;
using Index = GitPtr<git_index, &GitFunctions::git_index_free>;
using Tree = GitPtr<git_tree, &GitFunctions::git_tree_free>;
using CommitPtr = GitPtr<git_commit, &GitFunctions::git_commit_free>;
using Signature = GitPtr<git_signature, &GitFunctions::git_signature_free>;

std::string LastGitError(const GitFunctions& git, const char* what) {
  const git_error* e = git.git_error_last();
  return std::string(what) + ": " + (e && e->message ? e->message : "unknown libgit2 error");
}

// libgit2's global state, held while any archive is open.
class LibraryScope {
 public:
  explicit LibraryScope(const GitFunctions& git) : git_(git) { git_.git_libgit2_init(); }
  ~LibraryScope() { git_.git_libgit2_shutdown(); }
  LibraryScope(const LibraryScope&) = delete;
  LibraryScope& operator=(const LibraryScope&) = delete;

 private:
  const GitFunctions& git_;
};

}  // namespace

struct GitArchive::Impl {
  explicit Impl(const GitFunctions& functions)
      : git(functions), library(functions), repo(nullptr, {&functions}) {}
  const GitFunctions& git;
  LibraryScope library;
  Repository repo;
};

bool GitArchive::Available() { return true; }

GitArchive::GitArchive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
GitArchive::~GitArchive() = default;

std::unique_ptr<GitArchive> GitArchive::Open(const std::string& dir, std::string& error) {
  const GitFunctions* git = LoadGitLibrary(error);
  if (!git) return nullptr;
  auto impl = std::make_unique<Impl>(*git);
  git_repository* raw = nullptr;
  // Only dir itself counts: a backup folder inside some other checkout must
  // not commit into that one.
  int rc = git->git_repository_open_ext(&raw, dir.c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr);
  if (rc == GIT_ENOTFOUND) rc = git->git_repository_init(&raw, dir.c_str(), 0);
  if (rc != 0) {
    error = LastGitError(*git, ("cannot open or create a git repository in " + dir).c_str());
    return nullptr;
  }
  impl->repo.reset(raw);
  if (git->git_repository_is_bare(raw)) {
    error = dir + " is a bare git repository; --git needs a working folder";
    return nullptr;
  }
  return std::unique_ptr<GitArchive>(new GitArchive(std::move(impl)));
}

bool GitArchive::Commit(const std::vector<std::string>& files, const std::string& message,
                        std::string& error) {
  const GitFunctions& git = impl_->git;
  git_repository* repo = impl_->repo.get();
  git_index* rawIndex = nullptr;
  if (git.git_repository_index(&rawIndex, repo) != 0)
    return error = LastGitError(git, "cannot read the git index"), false;
  Index index(rawIndex, {&git});
  for (const std::string& file : files)
    if (git.git_index_add_bypath(index.get(), file.c_str()) != 0)
      return error = LastGitError(git, ("cannot stage " + file).c_str()), false;
  git_oid treeId{}, commitId{}, parentId{};
  if (git.git_index_write(index.get()) != 0 || git.git_index_write_tree(&treeId, index.get()) != 0)
    return error = LastGitError(git, "cannot write the git index"), false;
  git_tree* rawTree = nullptr;
  if (git.git_tree_lookup(&rawTree, repo, &treeId) != 0)
    return error = LastGitError(git, "cannot read the new tree"), false;
  Tree tree(rawTree, {&git});

  CommitPtr parent(nullptr, {&git});
  int head = git.git_reference_name_to_id(&parentId, repo, "HEAD");
  if (head == 0) {
    git_commit* rawParent = nullptr;
    if (git.git_commit_lookup(&rawParent, repo, &parentId) != 0)
      return error = LastGitError(git, "cannot read HEAD"), false;
    parent.reset(rawParent);
  } else if (head != GIT_ENOTFOUND) {
    return error = LastGitError(git, "cannot resolve HEAD"), false;
  }

  // The user's identity when git knows one; a nightly job often has none.
  git_signature* rawSignature = nullptr;
  if (git.git_signature_default(&rawSignature, repo) != 0 &&
      git.git_signature_now(&rawSignature, "tarnwick-cli backup", "tarnwick-backup@localhost") != 0)
    return error = LastGitError(git, "cannot make a commit signature"), false;
  Signature signature(rawSignature, {&git});

  const git_commit* parents[1] = {parent.get()};
  if (git.git_commit_create(&commitId, repo, "HEAD", signature.get(), signature.get(), nullptr,
                            message.c_str(), tree.get(), parent ? 1 : 0, parents) != 0)
    return error = LastGitError(git, "cannot commit"), false;
  return true;
}

}  // namespace tarnwick::fleet
