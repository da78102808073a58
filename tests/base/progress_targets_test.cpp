// The progress targets' event: set by a store that changes a number, by
// no store that leaves it as it was, and reset by the wait it ends.
#include "base/progress_targets.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(ProgressTargets, OnlyAChangedNumberSetsTheEvent) {
  struct Case {
    const char* name;
    std::function<void(progress::ProgressTargets&)> store;
    bool sets;
  } cases[] = {
      {"upper target changes", [](progress::ProgressTargets& t) { t.upperTarget = 37; }, true},
      {"upper target stored as held", [](progress::ProgressTargets& t) { t.upperTarget.store(0); }, false},
      {"negative upper target", [](progress::ProgressTargets& t) { t.upperTarget = -1; }, true},
      {"lower target raised", [](progress::ProgressTargets& t) { t.RaiseLowerTarget(25); }, true},
      {"lower target not lowered",
       [](progress::ProgressTargets& t) {
         t.lowerTarget = 50;
         t.changed.Wait(0);
         t.RaiseLowerTarget(25);
       },
       false},
      {"stage index changes", [](progress::ProgressTargets& t) { t.stageIndex.store(2); }, true},
  };
  for (const Case& c : cases) {
    progress::ProgressTargets targets;
    ASSERT_TRUE(targets.changed.Valid());
    EXPECT_FALSE(targets.changed.Wait(0)) << c.name << ": set before any store";
    c.store(targets);
    EXPECT_EQ(targets.changed.Wait(0), c.sets) << c.name;
    EXPECT_FALSE(targets.changed.Wait(0)) << c.name << ": the wait did not reset it";
  }
}

TEST(ProgressTargets, ASetWhileNobodyWaitsIsKeptForTheNextWait) {
  progress::ProgressTargets targets;
  targets.upperTarget = 1;
  targets.upperTarget = 2;  // two changes before anyone looks: one wake-up
  EXPECT_TRUE(targets.changed.Wait(0));
  EXPECT_FALSE(targets.changed.Wait(0));
  EXPECT_EQ(targets.upperTarget.load(), 2);
}

}  // namespace
