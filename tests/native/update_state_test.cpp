// The page's view of the update (the UpdateState string) and the rules of
// the hand-over from the background fetch to the page's click.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "update/run/hand_over.h"
#include "update/run/update_state.h"

namespace {

using update::BackgroundResult;
using update::ByteCount;
using update::ClickStep;
using update::UpdateStage;
using update::UpdateState;

UpdateState State(UpdateStage stage) {
  UpdateState state;
  state.stage = stage;
  return state;
}

UpdateState Versions(UpdateStage stage, std::int32_t installed, std::int32_t available) {
  UpdateState state = State(stage);
  state.installedKnown = true;
  state.installed = installed;
  state.availableKnown = true;
  state.available = available;
  return state;
}

TEST(UpdateStateText, EachStageWithWhatIsKnown) {
  UpdateState fetching = Versions(UpdateStage::Fetching, 1, 2);
  fetching.fetch = {1048576, 20971520};
  UpdateState ready = Versions(UpdateStage::Ready, 1, 2);
  ready.fetch = {20971520, 20971520};
  UpdateState ahead = Versions(UpdateStage::Current, 2, 2);
  ahead.nextNamed = true;
  ahead.next = 3;
  ahead.nextFetch = {5, 4294967296ULL + 7};  // past 32 bits
  UpdateState failed = Versions(UpdateStage::Failed, 1, 2);
  failed.fetch = {9, 10};  // bytes of a failed fetch are not shown
  UpdateState negative = Versions(UpdateStage::Current, INT32_MIN, -1);
  UpdateState noTotalYet = Versions(UpdateStage::Fetching, 0, 1);

  const struct {
    UpdateState state;
    const char* text;
  } cases[] = {
      {State(UpdateStage::Checking), "state=checking"},
      {State(UpdateStage::Offline), "state=offline"},
      {fetching, "state=fetching;installed=1;available=2;done=1048576;total=20971520"},
      {ready, "state=ready;installed=1;available=2;done=20971520;total=20971520"},
      {ahead, "state=current;installed=2;available=2;next=3;nextdone=5;nexttotal=4294967303"},
      {failed, "state=failed;installed=1;available=2"},
      {negative, "state=current;installed=-2147483648;available=-1"},
      {noTotalYet, "state=fetching;installed=0;available=1;done=0;total=0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, update::FormatUpdateState(c.state));
}

TEST(UpdateStateText, LiveBytesReplaceTheRecordedOnesOnlyWhereLive) {
  UpdateState state = Versions(UpdateStage::Fetching, 2, 2);
  state.fetch = {1, 100};
  state.nextNamed = true;
  state.next = 3;
  state.nextFetch = {2, 200};
  const ByteCount live{50, 100};
  const ByteCount liveNext{150, 200};

  EXPECT_EQ(1u, update::WithLiveBytes(state, &live, &liveNext).fetch.done);  // neither is live
  state.fetchLive = true;
  EXPECT_EQ(50u, update::WithLiveBytes(state, &live, &liveNext).fetch.done);
  EXPECT_EQ(2u, update::WithLiveBytes(state, &live, &liveNext).nextFetch.done);
  EXPECT_EQ(1u, update::WithLiveBytes(state, nullptr, nullptr).fetch.done);  // no transfer counts now
  state.nextLive = true;
  EXPECT_EQ(150u, update::WithLiveBytes(state, &live, &liveNext).nextFetch.done);
  // Before the fetch ahead counts its bytes, the next version is not shown.
  EXPECT_FALSE(update::WithLiveBytes(state, &live, nullptr).nextNamed);
  const ByteCount noTotal{0, 0};
  EXPECT_EQ("state=fetching;installed=2;available=2;done=50;total=100",
            update::FormatUpdateState(update::WithLiveBytes(state, &live, &noTotal)));
  state.nextLive = false;  // done: what it recorded stands
  EXPECT_TRUE(update::WithLiveBytes(state, &live, nullptr).nextNamed);
}

TEST(HandOver, DescriptorAgeAcrossTheTickWrap) {
  const struct {
    std::uint32_t fetchedAt, now;
    bool stale;
  } cases[] = {
      {1000, 1000, false},
      {1000, 1000 + update::kDescriptorFreshMs, false},  // exactly ten minutes: still fresh
      {1000, 1001 + update::kDescriptorFreshMs, true},
      {0xFFFFFF00u, 0x100u, false},                      // 512 ms across the wrap
      {0xFFFFFF00u, update::kDescriptorFreshMs, true},   // ten minutes and 256 ms across it
      {1000, 900, false},                                // the click came while it was fetched
      {0x100u, 0xFFFFFF00u, false},                      // the same across the wrap
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.stale, update::DescriptorStale(c.fetchedAt, c.now)) << c.fetchedAt << " " << c.now;
}

TEST(HandOver, TheClickBuildsOnWhatTheBackgroundReached) {
  const struct {
    BackgroundResult result;
    bool stale;
    bool again;
    ClickStep step;
  } cases[] = {
      {BackgroundResult::NotRun, false, false, ClickStep::StartOver},
      {BackgroundResult::NotRun, true, false, ClickStep::StartOver},
      {BackgroundResult::Failed, false, false, ClickStep::StartOver},  // tried again as if nothing ran
      {BackgroundResult::Failed, true, false, ClickStep::StartOver},
      {BackgroundResult::Current, false, false, ClickStep::FromCheck},
      {BackgroundResult::Current, true, true, ClickStep::FromCheck},
      {BackgroundResult::Ready, false, false, ClickStep::Commit},
      {BackgroundResult::Ready, true, true, ClickStep::Commit},
  };
  for (const auto& c : cases) {
    const update::ClickPlan plan = update::PlanClick(c.result, c.stale);
    EXPECT_EQ(c.again, plan.fetchDescriptorAgain) << static_cast<int>(c.result) << " " << c.stale;
    EXPECT_EQ(c.step, plan.step) << static_cast<int>(c.result) << " " << c.stale;
  }
  EXPECT_EQ(ClickStep::Commit, update::StepAfterRecheck(ClickStep::Commit, true));
  EXPECT_EQ(ClickStep::FromCheck, update::StepAfterRecheck(ClickStep::Commit, false));  // the old work is dropped
  EXPECT_EQ(ClickStep::FromCheck, update::StepAfterRecheck(ClickStep::FromCheck, false));
}

TEST(HandOver, ARecheckedDescriptorNamesTheSameReleaseOrAnother) {
  update::ReleaseFacts base;
  base.version = 2;
  base.archive.hasDigest = true;
  base.archive.digest.bytes[0] = 0xAB;
  base.archive.hasSize = true;
  base.archive.size = 1000;
  base.manifestNamed = true;
  base.manifest.hasDigest = true;
  base.manifest.digest.bytes[31] = 0x01;

  EXPECT_TRUE(update::SameRelease(base, base));
  update::ReleaseFacts other = base;
  other.version = 3;
  EXPECT_FALSE(update::SameRelease(base, other));
  other = base;
  other.archive.digest.bytes[5] = 1;  // the same number, rebuilt
  EXPECT_FALSE(update::SameRelease(base, other));
  other = base;
  other.archive.size = 1001;
  EXPECT_FALSE(update::SameRelease(base, other));
  other = base;
  other.archive.hasDigest = false;  // no longer bound by a digest
  EXPECT_FALSE(update::SameRelease(base, other));
  other = base;
  other.manifest.digest.bytes[31] = 0x02;
  EXPECT_FALSE(update::SameRelease(base, other));
  other = base;
  other.manifestNamed = false;
  EXPECT_FALSE(update::SameRelease(base, other));
  update::ReleaseFacts unnamed = base;
  unnamed.manifestNamed = false;
  other = unnamed;
  other.manifest.digest.bytes[0] = 9;  // a manifest not named has no digest to compare
  EXPECT_TRUE(update::SameRelease(unnamed, other));
}

TEST(HandOver, TheBackgroundCapStaysUnderMaxKBps) {
  const struct {
    std::int64_t background, max, cap;
  } cases[] = {
      {0, 0, 0},           // no cap at all
      {512, 0, 512},
      {0, 2048, 2048},     // MaxKBps caps every transfer, the background's too
      {512, 2048, 512},
      {4096, 2048, 2048},
      {-1, -5, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.cap, update::BackgroundReceiveCap(c.background, c.max)) << c.background << " " << c.max;
}

TEST(HandOver, FetchAheadOnlyForANewerNextVersionWithAManifest) {
  const struct {
    std::int32_t installed, live;
    bool named;
    std::int32_t next;
    bool manifest;
    bool due;
  } cases[] = {
      {2, 2, true, 3, true, true},
      {2, 2, true, 3, false, false},  // nothing to bind the pieces to
      {2, 2, false, 3, true, false},
      {1, 2, true, 3, true, false},   // the live version comes first
      {3, 2, true, 3, true, false},   // already installed
      {2, 2, true, 2, true, false},   // not newer than the live one
      {4, 2, true, 3, true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.due, update::FetchAheadDue(c.installed, c.live, c.named, c.next, c.manifest))
        << c.installed << " " << c.live << " " << c.next;
}

}  // namespace
