#include "base/thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

unsigned __stdcall Count(void* arg) {
  static_cast<std::atomic<int>*>(arg)->fetch_add(1);
  return 0;
}

TEST(Thread, StartsAndJoins) {
  std::atomic<int> counter{0};
  base::Thread thread;
  EXPECT_TRUE(thread.Join(0));  // never started: nothing to wait for
  ASSERT_TRUE(thread.Start(&Count, &counter));
  EXPECT_TRUE(thread.Started());
  EXPECT_TRUE(thread.Join(5000));
  EXPECT_EQ(1, counter.load());
}

}  // namespace
