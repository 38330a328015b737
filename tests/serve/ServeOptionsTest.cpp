// The serve command line: defaults, every value read, every fault a usage
// error naming the option.
#include <gtest/gtest.h>

#include "serve/ServeOptions.h"

namespace tarnwick::serve {
namespace {

TEST(ServeOptions, DefaultsValuesAndUsageErrors) {
  ServeParse p = ParseServeArguments({"/srv/tftp"});
  EXPECT_TRUE(p.ok && p.options.port == 69 && !p.options.upload.enabled) << p.error;
  p = ParseServeArguments({"--port=0", "--listen", "::1", "--listen=127.0.0.1", "--upload-dir", "in",
                           "--overwrite", "--max-upload-bytes", "1000", "--max-blksize=1468", "--per-client",
                           "2", "--request-rate", "0", "--allow", "10.0.0.0/8", "--", "-root"});
  ASSERT_TRUE(p.ok) << p.error;
  const ServeOptions& o = p.options;
  EXPECT_EQ(o.root, "-root");
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.listen, (std::vector<std::string>{"::1", "127.0.0.1"}));
  EXPECT_TRUE(o.upload.enabled && o.upload.overwrite);
  EXPECT_EQ(o.upload.maxBytes, 1000u);
  EXPECT_EQ(o.admission.requestsPerSecond, 0u);  // no limit
  ASSERT_EQ(o.admission.allow.size(), 1u);
  EXPECT_EQ(o.admission.allow[0].bits, 96u + 8u);

  const std::pair<std::vector<std::string>, const char*> faults[] = {
      {{}, "no ROOT"},
      {{"r", "--port", "65536"}, "--port"},
      {{"r", "--request-rate", "-1"}, "--request-rate takes"},
      {{"r", "--overwrite"}, "--overwrite needs"},
      {{"r", "--upload=yes"}, "takes no value"},
      {{"r", "--quiet", "--log-json"}, "do not go together"},
      {{"r", "--color"}, "unknown option"},
      {{"--archive", "d"}, "--archive needs --inventory"},
      {{"--archive", "d", "--inventory", "i", "--upload"}, "does not go with --upload"},
      {{"r", "--git"}, "--git need --archive"},
      {{"--archive", "d", "--inventory", "i", "--git-push", "x"}, "--git-push needs --git"},
      {{"--archive", "d", "--inventory", "i", "--git", "--git-branch", "a..b"}, "no branch name"},
  };
  // With the archive ROOT may go: nothing is then served for reading.
  p = ParseServeArguments({"--archive", "d", "--inventory", "i", "--git", "--on-change", "mail x"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.root.empty() && p.options.upload.enabled && !p.options.upload.overwrite);
  for (const auto& [args, error] : faults) {
    SCOPED_TRACE(error);
    p = ParseServeArguments(args);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(error), std::string::npos) << p.error;
  }
}

}  // namespace
}  // namespace tarnwick::serve
