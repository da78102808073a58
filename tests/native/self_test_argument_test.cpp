// The self-test's command line: only `--self-test=PATH` is one.
#include <gtest/gtest.h>

#include "app/self_test_argument.h"

namespace {

TEST(SelfTestArgument, OnlyTheSwitchWithAPathIsASelfTest) {
  struct Case {
    const char* commandLine;
    const char* path;  // null: not a self-test
  };
  const Case cases[] = {
      {"--self-test=C:\\T\\r.txt", "C:\\T\\r.txt"},
      {"  --self-test=\"C:\\My Games\\T\\r.txt\"", "C:\\My Games\\T\\r.txt"},
      {"--self-test=C:\\T\\r.txt token=abc", "C:\\T\\r.txt"},
      {"--self-test=", nullptr},
      {"--self-test=\"\"", nullptr},
      {"--self-test=\"C:\\unterminated", nullptr},
      {"token=abc;--self-test=C:\\r.txt", nullptr},  // page parameters never start a self-test
      {"--self-test C:\\r.txt", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    char out[260] = {'x'};
    const bool found = app::FindSelfTestPath(c.commandLine, out, sizeof out);
    EXPECT_EQ(c.path != nullptr, found) << c.commandLine;
    EXPECT_STREQ(c.path != nullptr ? c.path : "", out) << c.commandLine;
  }
  char small[8] = {};
  EXPECT_FALSE(app::FindSelfTestPath("--self-test=C:\\long\\path.txt", small, sizeof small));
  EXPECT_STREQ("", small);
}

}  // namespace
