#include "base/bounded_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BoundedFormat, FormatIntoFitsOrLeavesEmpty) {
  char buf[8];
  EXPECT_TRUE(base::FormatInto(buf, sizeof buf, "%s\\%d", "ab", 1234));
  EXPECT_STREQ("ab\\1234", buf);
  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(base::FormatInto(buf, sizeof buf, "%s", "12345678"));  // needs 9 bytes
  EXPECT_STREQ("", buf);
  EXPECT_FALSE(base::FormatInto(buf, 0, "%s", "a"));
}

TEST(BoundedFormat, FormatTruncatedKeepsWhatFits) {
  char buf[5];
  EXPECT_FALSE(base::FormatTruncated(buf, sizeof buf, "%s", "abcdefgh"));
  EXPECT_STREQ("abcd", buf);
  EXPECT_TRUE(base::FormatTruncated(buf, sizeof buf, "%d%%", 42));
  EXPECT_STREQ("42%", buf);
}

TEST(BoundedFormat, CopyAndAppendAreAllOrNothing) {
  char buf[6] = "ab";
  EXPECT_TRUE(base::AppendInto(buf, "cde"));
  EXPECT_STREQ("abcde", buf);
  EXPECT_FALSE(base::AppendInto(buf, "f"));
  EXPECT_STREQ("abcde", buf);
  EXPECT_FALSE(base::CopyInto(buf, "abcdef"));
  EXPECT_STREQ("", buf);
  EXPECT_TRUE(base::CopyInto(buf, nullptr));
  EXPECT_STREQ("", buf);
}

}  // namespace
