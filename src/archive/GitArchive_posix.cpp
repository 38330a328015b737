#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "archive/GitArchive.h"
#include "archive/GitLibrary.h"
#include "cliutil/Console.h"
#include "cliutil/FileHandle.h"

namespace tarnwick::archive {

namespace fs = std::filesystem;

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
using Config = GitPtr<git_config, &GitFunctions::git_config_free>;
using Remote = GitPtr<git_remote, &GitFunctions::git_remote_free>;

// libgit2 creates its objects 0444 and its folders 0777, less the umask:
// while it writes, the umask is the store's (others never; the group only
// in a team's folder), so the repository follows the configurations' rule.
class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : old_(::umask(mask)) {}
  ~UmaskScope() { ::umask(old_); }
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;

 private:
  mode_t old_;
};

// `git status` is not to list the lock, the state and our temporary files:
// the repository's own exclude file says so (nothing to commit, nothing
// new in DEST). Best effort: a failure only leaves them listed.
void IgnoreOurFiles(const std::string& dir) {
  const std::string line = ".tarnwick*";
  const fs::path exclude = fs::path(dir) / ".git" / "info" / "exclude";
  std::error_code ec;
  fs::create_directories(exclude.parent_path(), ec);
  // Never through a link: DEST's tree is ours, whatever was planted in it.
  const int fd = ::open(exclude.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return;
  cli::FileHandle file = cli::FileHandle::Adopt(fd);
  std::string text(64 * 1024, '\0');
  const long long n = file.ReadAt(0, text.data(), text.size());
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (("\n" + text).find("\n" + line + "\n") != std::string::npos) return;
  const std::string add =
      "\n# tarnwick-cli backup's own files (lock, state, temporary files)\n" + line + "\n";
  file.WriteAll(add.data(), add.size());
}

bool ReachableByOthers(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXOTH);
}

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
  std::string dir;
  mode_t umask = 077;
  std::string warning;
  std::string branch;  // --git-branch; empty: the branch checked out

  // The branch HEAD names ("main"), empty when HEAD is detached or unreadable.
  std::string CheckedOut() const {
    std::ifstream head(dir + "/.git/HEAD");
    std::string line;
    std::getline(head, line);
    const std::string prefix = "ref: refs/heads/";
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
  }
};

bool GitArchive::Available() { return true; }

const std::string& GitArchive::OpenWarning() const { return impl_->warning; }

void GitArchive::UseBranch(const std::string& name) { impl_->branch = name; }

std::string GitArchive::CommitBlocker() const {
  // Below 0 (an unborn or unreadable HEAD) is sorted out by resolving it.
  if (impl_->branch.empty() && impl_->git.git_repository_head_detached(impl_->repo.get()) == 1)
    return "HEAD is detached in " + impl_->dir +
           ": check out a branch for the backups to go on, or name one with --git-branch";
  return {};
}

bool GitArchive::Loadable(std::string& error) { return LoadGitLibrary(error) != nullptr; }

GitArchive::GitArchive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
GitArchive::~GitArchive() = default;

std::unique_ptr<GitArchive> GitArchive::Open(const std::string& dir, std::string& error) {
  const GitFunctions* git = LoadGitLibrary(error);
  if (!git) return nullptr;
  auto impl = std::make_unique<Impl>(*git);
  impl->dir = dir;
  // A commit that a power cut can take back is no archive.
  git->git_libgit2_opts(GIT_OPT_ENABLE_FSYNC_GITDIR, 1);
  // A team's folder (group-readable, as DestFolder decides) lets the group
  // read the repository too; others never.
  struct stat st {};
  const bool team = ::stat(dir.c_str(), &st) == 0 && (st.st_mode & S_IRGRP);
  impl->umask = team ? 027 : 077;
  UmaskScope umask(impl->umask);
  git_repository* raw = nullptr;
  // Only dir itself counts: a backup folder inside some other checkout must
  // not commit into that one.
  int rc = git->git_repository_open_ext(&raw, dir.c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr);
  const bool created = rc == GIT_ENOTFOUND;
  if (created) rc = git->git_repository_init(&raw, dir.c_str(), 0);
  if (rc != 0) {
    error = LastGitError(*git, ("cannot open or create a git repository in " + dir).c_str());
    return nullptr;
  }
  impl->repo.reset(raw);
  const char* shared = team ? "0640" : "0600";
  if (created) {
    // So does git itself when a person commits, repacks or gcs there.
    git_config* rawConfig = nullptr;
    if (git->git_repository_config(&rawConfig, raw) != 0) {
      error = LastGitError(*git, ("cannot read the configuration of the repository in " + dir).c_str());
      return nullptr;
    }
    Config config(rawConfig, {git});
    if (git->git_config_set_string(rawConfig, "core.sharedRepository", shared) != 0) {
      error = LastGitError(*git, ("cannot configure the repository in " + dir).c_str());
      return nullptr;
    }
  }
  IgnoreOurFiles(dir);
  if (!created && ReachableByOthers(dir + "/.git") && ReachableByOthers(dir + "/.git/objects")) {
    impl->warning = dir +
                    "/.git can be read by other users, and every configuration through it: chmod -R o-rwx " +
                    dir + "/.git && git -C " + dir + " config core.sharedRepository " + shared;
  }
  if (git->git_repository_is_bare(raw)) {
    error = dir + " is a bare git repository; --git needs a working folder";
    return nullptr;
  }
  return std::unique_ptr<GitArchive>(new GitArchive(std::move(impl)));
}

namespace {

// The archived files of the store, read without following links (a link
// is not a configuration). Paths relative to dir, '/'-separated, sorted.
bool ReadFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  cli::FileHandle file = cli::FileHandle::Adopt(fd);
  const std::optional<cli::FileFacts> facts = file.Facts();
  if (!facts || !facts->regular) return false;
  bytes.assign(facts->size, '\0');
  return file.ReadAt(0, bytes.data(), bytes.size()) == static_cast<long long>(bytes.size());
}

std::vector<std::string> StoreFiles(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  const fs::path root(dir);
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (ArchivedPath(name) && it->symlink_status(ec).type() == fs::file_type::regular) files.push_back(name);
  }
  ec.clear();
  // An entry that cannot be read is left out, never the end of the walk.
  const auto options = fs::directory_options::skip_permission_denied;
  for (fs::recursive_directory_iterator it(root / "history", options, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code kind;
    if (it->symlink_status(kind).type() != fs::file_type::regular) continue;
    const std::string rel = fs::relative(it->path(), root, kind).generic_string();
    if (!kind && ArchivedPath(rel)) files.push_back(rel);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string OidText(const GitFunctions& git, const git_oid& id) {
  char text[GIT_OID_HEXSZ + 1] = {};
  git.git_oid_tostr(text, sizeof text, &id);
  return text;
}

}  // namespace

bool GitArchive::CommitStore(const std::string& message, std::string& commit, std::string& error,
                             std::string& warning) {
  const GitFunctions& git = impl_->git;
  git_repository* repo = impl_->repo.get();
  commit.clear();
  UmaskScope umask(impl_->umask);
  if (std::string blocker = CommitBlocker(); !blocker.empty()) return error = blocker, false;
  // The ref the commit moves: the branch named, or HEAD (the branch checked
  // out). A branch named but missing starts at HEAD's commit.
  const std::string target = impl_->branch.empty() ? "HEAD" : "refs/heads/" + impl_->branch;
  const bool checkedOut = impl_->branch.empty() || impl_->branch == impl_->CheckedOut();
  CommitPtr parent(nullptr, {&git});
  Tree parentTree(nullptr, {&git});
  git_oid parentId{};
  int head = git.git_reference_name_to_id(&parentId, repo, target.c_str());
  if (head == GIT_ENOTFOUND && target != "HEAD") head = git.git_reference_name_to_id(&parentId, repo, "HEAD");
  if (head == 0) {
    git_commit* rawParent = nullptr;
    git_tree* rawTree = nullptr;
    if (git.git_commit_lookup(&rawParent, repo, &parentId) != 0)
      return error = LastGitError(git, "cannot read HEAD"), false;
    parent.reset(rawParent);
    if (git.git_commit_tree(&rawTree, rawParent) != 0)
      return error = LastGitError(git, "cannot read HEAD's tree"), false;
    parentTree.reset(rawTree);
  } else if (head != GIT_ENOTFOUND) {
    return error = LastGitError(git, "cannot resolve HEAD"), false;
  }

  // Our own index, in memory: HEAD's tree with the store's part replaced
  // by what is on disk. Whatever else the repository holds stays as it is.
  git_index* rawIndex = nullptr;
  if (git.git_index_new(&rawIndex) != 0) return error = LastGitError(git, "cannot make an index"), false;
  Index index(rawIndex, {&git});
  if (parentTree && git.git_index_read_tree(index.get(), parentTree.get()) != 0)
    return error = LastGitError(git, "cannot read HEAD's tree"), false;
  std::vector<std::string> gone;
  for (std::size_t i = 0; i < git.git_index_entrycount(index.get()); ++i)
    if (const git_index_entry* e = git.git_index_get_byindex(index.get(), i); e && ArchivedPath(e->path))
      gone.push_back(e->path);
  for (const std::string& path : gone) git.git_index_remove(index.get(), path.c_str(), 0);
  const std::vector<std::string> files = StoreFiles(impl_->dir);
  std::string bytes;
  // Hashing a large store takes seconds: a stop request that arrives
  // meanwhile ends the commit (the store is complete; the next run commits
  // it). A run already stopping still commits what it stored.
  const bool stopping = cli::StopRequested();
  for (const std::string& rel : files) {
    if (!stopping && cli::StopRequested())
      return error = "stopped before the commit was made: the next run commits what is stored", false;
    if (!ReadFile(impl_->dir + "/" + rel, bytes)) continue;  // gone or not a file since the walk
    git_index_entry entry{};
    entry.mode = GIT_FILEMODE_BLOB;
    entry.path = rel.c_str();
    if (git.git_blob_create_from_buffer(&entry.id, repo, bytes.data(), bytes.size()) != 0 ||
        git.git_index_add(index.get(), &entry) != 0)
      return error = LastGitError(git, ("cannot stage " + rel).c_str()), false;
  }
  git_oid treeId{};
  if (git.git_index_write_tree_to(&treeId, index.get(), repo) != 0)
    return error = LastGitError(git, "cannot write the tree"), false;
  if (parentTree ? git.git_oid_cmp(&treeId, git.git_tree_id(parentTree.get())) == 0
                 : git.git_index_entrycount(index.get()) == 0)
    return true;
  git_tree* rawTree = nullptr;
  if (git.git_tree_lookup(&rawTree, repo, &treeId) != 0)
    return error = LastGitError(git, "cannot read the new tree"), false;
  Tree tree(rawTree, {&git});

  // The user's identity when git knows one; a nightly job often has none.
  git_signature* rawSignature = nullptr;
  if (git.git_signature_default(&rawSignature, repo) != 0 &&
      git.git_signature_now(&rawSignature, "tarnwick-cli backup", "tarnwick-backup@localhost") != 0)
    return error = LastGitError(git, "cannot make a commit signature"), false;
  Signature signature(rawSignature, {&git});

  git_oid commitId{};
  const git_commit* parents[1] = {parent.get()};
  if (git.git_commit_create(&commitId, repo, target.c_str(), signature.get(), signature.get(), nullptr,
                            message.c_str(), tree.get(), parent ? 1 : 0, parents) != 0)
    return error = LastGitError(git, "cannot commit"), false;
  commit = OidText(git, commitId);

  // The shared index learns the store's paths as committed, so `git status`
  // does not show the night's changes reverted; what a person staged on
  // other paths stays staged. Another branch checked out keeps its index.
  if (!checkedOut) return true;
  git_index* rawShared = nullptr;
  bool refreshed = git.git_repository_index(&rawShared, repo) == 0;
  Index shared(rawShared, {&git});
  refreshed = refreshed && git.git_index_read(shared.get(), 1) == 0;
  if (refreshed) {
    std::vector<std::string> stale;
    for (std::size_t i = 0; i < git.git_index_entrycount(shared.get()); ++i)
      if (const git_index_entry* e = git.git_index_get_byindex(shared.get(), i); e && ArchivedPath(e->path))
        stale.push_back(e->path);
    for (const std::string& path : stale) git.git_index_remove(shared.get(), path.c_str(), 0);
    for (std::size_t i = 0; refreshed && i < git.git_index_entrycount(index.get()); ++i)
      if (const git_index_entry* e = git.git_index_get_byindex(index.get(), i); e && ArchivedPath(e->path))
        refreshed = git.git_index_add(shared.get(), e) == 0;
    refreshed = refreshed && git.git_index_write(shared.get()) == 0;
  }
  if (!refreshed) warning = LastGitError(git, "committed, but the repository's index was not updated");
  return true;
}

namespace {

// The remote's verdict on each reference (a hook or a receive.denyCurrentBranch
// refuses there, after the transfer): git_remote_push succeeds regardless.
int NoteRefusal(const char* refname, const char* status, void* data) {
  auto* refused = static_cast<std::string*>(data);
  if (status && refused->empty()) *refused = std::string(refname) + " refused by the remote: " + status;
  return 0;
}

}  // namespace

bool GitArchive::PushBranch(const std::string& remote, std::string& error) {
  const GitFunctions& git = impl_->git;
  const std::string branch = impl_->branch.empty() ? impl_->CheckedOut() : impl_->branch;
  if (branch.empty()) return error = "nothing to push to " + remote + ": HEAD is detached", false;
  // A path that is not there: libgit2 takes it for a URL it cannot parse.
  const std::size_t colon = remote.find(':'), slash = remote.find('/');
  const bool path = remote.find("://") == std::string::npos && (colon == std::string::npos || slash < colon);
  std::error_code ec;
  if (path && !fs::exists(remote, ec))
    return error = "push of " + branch + " to " + remote + " failed: no repository there", false;
  // The remote's modes are its own (core.sharedRepository there), not DEST's:
  // no umask of ours while it is written.
  git_remote* rawRemote = nullptr;
  if (git.git_remote_create_anonymous(&rawRemote, impl_->repo.get(), remote.c_str()) != 0)
    return error = LastGitError(git, ("cannot push to " + remote).c_str()), false;
  Remote handle(rawRemote, {&git});
  // No '+': a remote branch that is not an ancestor of ours stays as it is.
  std::string refspec = "refs/heads/" + branch + ":refs/heads/" + branch;
  char* specs[1] = {refspec.data()};
  const git_strarray refspecs{specs, 1};
  git_push_options options{};
  git.git_push_options_init(&options, GIT_PUSH_OPTIONS_VERSION);
  std::string refused;
  options.callbacks.push_update_reference = NoteRefusal;
  options.callbacks.payload = &refused;
  if (git.git_remote_push(rawRemote, &refspecs, &options) != 0)
    return error = LastGitError(git, ("push of " + branch + " to " + remote + " failed").c_str()), false;
  if (!refused.empty()) return error = "push to " + remote + " failed: " + refused, false;
  return true;
}

}  // namespace tarnwick::archive
