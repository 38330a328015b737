#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serve/Privileges.h"

namespace tarnwick::serve {

bool DropPrivileges(const std::string& user, std::string& error) {
  if (::geteuid() != 0) return true;
  errno = 0;
  const passwd* entry = ::getpwnam(user.c_str());
  if (!entry) {
    error = "--user " + user + ": " + (errno ? std::strerror(errno) : "no such user");
    return false;
  }
  const uid_t uid = entry->pw_uid;
  const gid_t gid = entry->pw_gid;
  const std::string home = entry->pw_dir ? entry->pw_dir : "/";
  if (uid == 0) {
    error = "--user " + user + " is root: name an unprivileged user";
    return false;
  }
  // Groups first, then the group, then the user: each later step needs the
  // privilege the one after it gives up.
  if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
    error = "cannot become " + user + ": " + std::strerror(errno);
    return false;
  }
  if (::setuid(0) == 0 || ::getuid() != uid || ::geteuid() != uid) {
    error = "still able to become root after switching to " + user;
    return false;
  }
  // The user's own home from now on, as after a login: root's is closed to
  // it, and git refuses to start when it cannot look at its configuration.
  ::setenv("HOME", home.c_str(), 1);
  return true;
}

}  // namespace tarnwick::serve
