// Every form of a secret leaves the text; nothing else does.
#include <gtest/gtest.h>

#include "cliutil/PasswordScrub.h"

namespace tarnwick::cli {
namespace {

TEST(WithoutSecrets, ReplacesEveryFormAndNothingElse) {
  struct Row {
    std::string text;
    std::vector<std::string> secrets;
    std::string expected;
  } rows[] = {
      {"cfg/hunter2 and hunter2", {"hunter2"}, "cfg/*** and ***"},
      // The wire form of a Japanese password, as a device echoes it.
      {"no \x82\xcf\x82\xb7 here", {"ぱす"}, "no *** here"},
      {"no ぱす here", {"ぱす"}, "no *** here"},
      // The longer secret first: no stray delimiter is left in front.
      {"cfg/pw", {"/pw", "pw"}, "cfg***"},
      {"untouched", {"", "zz"}, "untouched"},
      {"", {"x"}, ""},
      // A replacement is not scanned again.
      {"a**a", {"*"}, "a******a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(WithoutSecrets(row.text, row.secrets), row.expected);
  }
}

TEST(WithoutPassword, ShortPasswordsOnlyBehindTheirDelimiter) {
  EXPECT_EQ(WithoutPassword("x/ab ab", NameFields{"x", "ab", "/", true}), "x*** ab");
  EXPECT_EQ(WithoutPassword("x/abc abc", NameFields{"x", "abc", "/", true}), "x*** ***");
  EXPECT_EQ(WithoutPassword("x#\x82\xcf\x82\xb7", NameFields{"x", "ぱす", "#", true}), "x***");
  // A text cut short in the echoed name: 3 characters of it and up go.
  EXPECT_EQ(WithoutPassword("x/Se\r\n", NameFields{"x", "Secret", "/", true}), "x***\r\n");
  EXPECT_EQ(WithoutPassword("x/S", NameFields{"x", "Secret", "/", true}), "x/S");
}

}  // namespace
}  // namespace tarnwick::cli
