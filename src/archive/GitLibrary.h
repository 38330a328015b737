// Run-time binding to libgit2 for --git. The command line does not link it:
// most runs never commit, and a linked libgit2 (with the twenty libraries it
// pulls in) costs every run of tarnwick-cli memory and keeps it from starting
// where libgit2 is not installed. The build needs libgit2's headers only;
// the table's types come from them, so a changed signature fails the build.
// Native only (the Windows build refuses --git).
#pragma once

#include <git2.h>

#include <string>
#include <vector>

namespace tarnwick::archive {

struct GitFunctions {
  decltype(&::git_libgit2_init) git_libgit2_init;
  decltype(&::git_libgit2_shutdown) git_libgit2_shutdown;
  decltype(&::git_error_last) git_error_last;
  decltype(&::git_repository_open_ext) git_repository_open_ext;
  decltype(&::git_repository_init) git_repository_init;
  decltype(&::git_repository_is_bare) git_repository_is_bare;
  decltype(&::git_repository_index) git_repository_index;
  decltype(&::git_repository_free) git_repository_free;
  decltype(&::git_index_add_bypath) git_index_add_bypath;
  decltype(&::git_index_write) git_index_write;
  decltype(&::git_index_write_tree) git_index_write_tree;
  decltype(&::git_index_free) git_index_free;
  decltype(&::git_tree_lookup) git_tree_lookup;
  decltype(&::git_tree_free) git_tree_free;
  decltype(&::git_reference_name_to_id) git_reference_name_to_id;
  decltype(&::git_commit_lookup) git_commit_lookup;
  decltype(&::git_commit_create) git_commit_create;
  decltype(&::git_commit_free) git_commit_free;
  decltype(&::git_signature_default) git_signature_default;
  decltype(&::git_signature_now) git_signature_now;
  decltype(&::git_signature_free) git_signature_free;
  decltype(&::git_libgit2_opts) git_libgit2_opts;
  decltype(&::git_repository_head_detached) git_repository_head_detached;
  decltype(&::git_index_new) git_index_new;
  decltype(&::git_index_read) git_index_read;
  decltype(&::git_index_read_tree) git_index_read_tree;
  decltype(&::git_index_entrycount) git_index_entrycount;
  decltype(&::git_index_get_byindex) git_index_get_byindex;
  decltype(&::git_index_remove) git_index_remove;
  decltype(&::git_index_add) git_index_add;
  decltype(&::git_index_write_tree_to) git_index_write_tree_to;
  decltype(&::git_blob_create_from_buffer) git_blob_create_from_buffer;
  decltype(&::git_commit_tree) git_commit_tree;
  decltype(&::git_tree_id) git_tree_id;
  decltype(&::git_oid_cmp) git_oid_cmp;
  decltype(&::git_oid_tostr) git_oid_tostr;
  decltype(&::git_repository_config) git_repository_config;
  decltype(&::git_config_set_string) git_config_set_string;
  decltype(&::git_config_free) git_config_free;
  decltype(&::git_remote_create_anonymous) git_remote_create_anonymous;
  decltype(&::git_remote_push) git_remote_push;
  decltype(&::git_remote_free) git_remote_free;
  decltype(&::git_push_options_init) git_push_options_init;
};

// Tried in order. Every function above keeps its signature through the
// libgit2 1.x series, whose soname changes with each minor version:
// libgit2.so.1.5 is Debian 12's, the others newer distributions'.
std::vector<std::string> DefaultGitLibraryNames();

// Replaces the names tried (tests name a file that does not exist); an empty
// list restores the defaults. Takes effect at the next load that has not
// succeeded yet.
void SetGitLibraryNames(std::vector<std::string> names);

// The bound table of the first name that loads with every function, loaded
// once and kept for the life of the process (libgit2 keeps global and
// per-thread state that an unload would cut off). nullptr when none loads,
// with error "--git needs libgit2 (<first name> not found)" or naming the
// missing function. Only the command's own thread calls it.
const GitFunctions* LoadGitLibrary(std::string& error);

}  // namespace tarnwick::archive
