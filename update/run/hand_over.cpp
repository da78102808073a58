#include "update/run/hand_over.h"

#include <cstring>

namespace update {

namespace {

bool SameExpectation(const ArchiveExpectation& a, const ArchiveExpectation& b) {
  if (a.hasDigest != b.hasDigest || a.hasSize != b.hasSize) return false;
  if (a.hasSize && a.size != b.size) return false;
  return !a.hasDigest || std::memcmp(a.digest.bytes, b.digest.bytes, sizeof a.digest.bytes) == 0;
}

}  // namespace

bool DescriptorStale(std::uint32_t fetchedAt, std::uint32_t now, std::uint32_t freshMs) {
  const std::uint32_t age = now - fetchedAt;
  // A difference past 2^31 is a `now` before the fetch: a click that came
  // while the descriptor was being fetched finds it fresh.
  return age <= 0x7FFFFFFFu && age > freshMs;
}

ClickPlan PlanClick(BackgroundResult result, bool descriptorStale) {
  ClickPlan plan;
  switch (result) {
    case BackgroundResult::NotRun:
    case BackgroundResult::Failed:
      plan.step = ClickStep::StartOver;  // which checks afresh anyway
      return plan;
    case BackgroundResult::Current:
      plan.fetchDescriptorAgain = descriptorStale;
      plan.step = ClickStep::FromCheck;
      return plan;
    case BackgroundResult::Ready:
      plan.fetchDescriptorAgain = descriptorStale;
      plan.step = ClickStep::Commit;
      return plan;
  }
  return plan;
}

bool SameRelease(const ReleaseFacts& before, const ReleaseFacts& after) {
  return before.version == after.version && SameExpectation(before.archive, after.archive) &&
         before.manifestNamed == after.manifestNamed &&
         (!before.manifestNamed || SameExpectation(before.manifest, after.manifest));
}

ClickStep StepAfterRecheck(ClickStep planned, bool sameRelease) {
  return sameRelease ? planned : ClickStep::FromCheck;
}

std::int64_t BackgroundReceiveCap(std::int64_t background, std::int64_t max) {
  if (background <= 0) return max > 0 ? max : 0;
  return max > 0 && max < background ? max : background;
}

bool FetchAheadDue(std::int32_t installed, std::int32_t live, bool nextNamed, std::int32_t next,
                   bool nextManifestNamed) {
  return nextNamed && nextManifestNamed && installed >= live && next > live && next > installed;
}

}  // namespace update
