// Dropping root in a child process: afterwards a root-only file cannot be
// read and root cannot be regained. Run without root, nothing changes.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServeTestTree.h"
#include "serve/Privileges.h"

namespace tarnwick::serve {
namespace {

TEST(Privileges, DroppedForGood) {
  ScratchTree t;
  const std::string secret = t.Outside() + "/root-only";
  ScratchTree::Write(secret, "x");
  ::chmod(secret.c_str(), 0600);
  std::string error;
  if (::geteuid() != 0) {
    const uid_t before = ::getuid();
    EXPECT_TRUE(DropPrivileges("nobody", error)) << error;
    EXPECT_EQ(::getuid(), before);
    return;
  }
  EXPECT_FALSE(DropPrivileges("root", error));
  EXPECT_FALSE(DropPrivileges("no-such-user-tarnwick", error));
  EXPECT_EQ(::geteuid(), 0u);  // a refused drop changes nothing
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = DropPrivileges("nobody", error);
    ::_exit(!dropped ? 1 : ::open(secret.c_str(), O_RDONLY) >= 0 ? 2 : ::geteuid() == 0 ? 3 : 0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tarnwick::serve
