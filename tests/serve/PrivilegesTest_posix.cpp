// Dropping root, in a child process: afterwards a root-only file cannot be
// opened and root cannot be regained. Without root, nothing changes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "serve/Privileges.h"

namespace tarnwick::serve {
namespace {

TEST(Privileges, DroppedForGoodOrNotAtAll) {
  const std::string rootOnly = ::testing::TempDir() + "tarnwick-root-only";
  std::ofstream(rootOnly) << "x";
  ::chmod(rootOnly.c_str(), 0600);
  std::string error;
  const uid_t before = ::geteuid();
  EXPECT_FALSE(before == 0 && DropPrivileges("no-such-user-tarnwick", error));
  EXPECT_FALSE(before == 0 && DropPrivileges("root", error));
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = DropPrivileges("nobody", error);
    const bool rootFile = std::ifstream(rootOnly).good();
    ::_exit(!dropped ? 1 : before != 0 ? (::geteuid() == before ? 0 : 2) : rootFile || ::geteuid() == 0 ? 3 : 0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(::geteuid(), before);
  std::remove(rootOnly.c_str());
}

}  // namespace
}  // namespace tarnwick::serve
