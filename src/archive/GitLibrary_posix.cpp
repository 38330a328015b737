#include <dlfcn.h>

#include "archive/GitLibrary.h"

namespace tarnwick::archive {

namespace {

struct GitBinding {
  void* library = nullptr;
  GitFunctions table{};
  std::vector<std::string> names;
};

GitBinding& Binding() {
  static GitBinding binding;
  return binding;
}

template <typename F>
bool Bind(void* library, const char* name, F& slot, std::string& missing) {
  slot = reinterpret_cast<F>(::dlsym(library, name));
  if (!slot && missing.empty()) missing = name;
  return slot != nullptr;
}

// Every function or none: missing names the first that is absent.
bool FillTable(void* l, GitFunctions& t, std::string& missing) {
  bool ok = Bind(l, "git_libgit2_init", t.git_libgit2_init, missing);
  ok &= Bind(l, "git_libgit2_shutdown", t.git_libgit2_shutdown, missing);
  ok &= Bind(l, "git_error_last", t.git_error_last, missing);
  ok &= Bind(l, "git_repository_open_ext", t.git_repository_open_ext, missing);
  ok &= Bind(l, "git_repository_init", t.git_repository_init, missing);
  ok &= Bind(l, "git_repository_is_bare", t.git_repository_is_bare, missing);
  ok &= Bind(l, "git_repository_index", t.git_repository_index, missing);
  ok &= Bind(l, "git_repository_free", t.git_repository_free, missing);
  ok &= Bind(l, "git_index_add_bypath", t.git_index_add_bypath, missing);
  ok &= Bind(l, "git_index_write", t.git_index_write, missing);
  ok &= Bind(l, "git_index_write_tree", t.git_index_write_tree, missing);
  ok &= Bind(l, "git_index_free", t.git_index_free, missing);
  ok &= Bind(l, "git_tree_lookup", t.git_tree_lookup, missing);
  ok &= Bind(l, "git_tree_free", t.git_tree_free, missing);
  ok &= Bind(l, "git_reference_name_to_id", t.git_reference_name_to_id, missing);
  ok &= Bind(l, "git_commit_lookup", t.git_commit_lookup, missing);
  ok &= Bind(l, "git_commit_create", t.git_commit_create, missing);
  ok &= Bind(l, "git_commit_free", t.git_commit_free, missing);
  ok &= Bind(l, "git_signature_default", t.git_signature_default, missing);
  ok &= Bind(l, "git_signature_now", t.git_signature_now, missing);
  ok &= Bind(l, "git_signature_free", t.git_signature_free, missing);
  ok &= Bind(l, "git_libgit2_opts", t.git_libgit2_opts, missing);
  ok &= Bind(l, "git_repository_head_detached", t.git_repository_head_detached, missing);
  ok &= Bind(l, "git_index_new", t.git_index_new, missing);
  ok &= Bind(l, "git_index_read", t.git_index_read, missing);
  ok &= Bind(l, "git_index_read_tree", t.git_index_read_tree, missing);
  ok &= Bind(l, "git_index_entrycount", t.git_index_entrycount, missing);
  ok &= Bind(l, "git_index_get_byindex", t.git_index_get_byindex, missing);
  ok &= Bind(l, "git_index_remove", t.git_index_remove, missing);
  ok &= Bind(l, "git_index_add", t.git_index_add, missing);
  ok &= Bind(l, "git_index_write_tree_to", t.git_index_write_tree_to, missing);
  ok &= Bind(l, "git_blob_create_from_buffer", t.git_blob_create_from_buffer, missing);
  ok &= Bind(l, "git_commit_tree", t.git_commit_tree, missing);
  ok &= Bind(l, "git_tree_id", t.git_tree_id, missing);
  ok &= Bind(l, "git_oid_cmp", t.git_oid_cmp, missing);
  ok &= Bind(l, "git_oid_tostr", t.git_oid_tostr, missing);
  ok &= Bind(l, "git_repository_config", t.git_repository_config, missing);
  ok &= Bind(l, "git_config_set_string", t.git_config_set_string, missing);
  ok &= Bind(l, "git_config_free", t.git_config_free, missing);
  ok &= Bind(l, "git_remote_create_anonymous", t.git_remote_create_anonymous, missing);
  ok &= Bind(l, "git_remote_push", t.git_remote_push, missing);
  ok &= Bind(l, "git_remote_free", t.git_remote_free, missing);
  ok &= Bind(l, "git_push_options_init", t.git_push_options_init, missing);
  return ok;
}

}  // namespace

std::vector<std::string> DefaultGitLibraryNames() {
  return {"libgit2.so.1.5", "libgit2.so.1.9", "libgit2.so.1.8", "libgit2.so.1.7", "libgit2.so.1.6"};
}

void SetGitLibraryNames(std::vector<std::string> names) { Binding().names = std::move(names); }

const GitFunctions* LoadGitLibrary(std::string& error) {
  GitBinding& b = Binding();
  if (b.library) return &b.table;
  const std::vector<std::string> names = b.names.empty() ? DefaultGitLibraryNames() : b.names;
  std::string incomplete;
  for (const std::string& name : names) {
    void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) continue;
    std::string missing;
    if (FillTable(library, b.table, missing)) {
      b.library = library;
      return &b.table;
    }
    if (incomplete.empty()) incomplete = name + " has no " + missing;
    ::dlclose(library);
  }
  b.table = GitFunctions{};
  error = "--git needs libgit2 (" + (incomplete.empty() ? names.front() + " not found" : incomplete) + ")";
  return nullptr;
}

}  // namespace tarnwick::archive
