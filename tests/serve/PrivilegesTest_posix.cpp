// Dropping root, in a child process: afterwards neither user, group nor
// supplementary groups are root's, and root's group cannot be regained.
// Without root, nothing changes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "serve/Privileges.h"

namespace tarnwick::serve {
namespace {

TEST(Privileges, DroppedForGoodOrNotAtAll) {
  std::string error;
  const uid_t before = ::geteuid();
  EXPECT_FALSE(before == 0 && DropPrivileges("no-such-user-tarnwick", error));
  EXPECT_FALSE(before == 0 && DropPrivileges("root", error));
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = DropPrivileges("nobody", error);
    gid_t groups[256];
    const int count = ::getgroups(256, groups);
    const bool nobody = ::geteuid() != 0 && ::getegid() != 0 && std::count(groups, groups + count, 0) == 0;
    ::_exit(!dropped                     ? 1
            : before != 0                ? (::geteuid() == before ? 0 : 2)
            : nobody && ::setgid(0) != 0 ? 0
                                         : 3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(::geteuid(), before);
}

}  // namespace
}  // namespace tarnwick::serve
