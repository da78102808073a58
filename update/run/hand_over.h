// The rules of the hand-over from the background to the click. The worker
// starts when the page shows: it checks the descriptor and fetches what an
// update needs while the player reads the page. When the page asks for the
// game, the work done so far is used rather than done again, unless the
// descriptor has grown old meanwhile and names another release now. Pure.
#pragma once

#include <cstdint>

#include "update/trust/archive_digest.h"

namespace update {

// A descriptor older than this when the click comes is fetched again.
constexpr std::uint32_t kDescriptorFreshMs = 10u * 60u * 1000u;

// Whether a descriptor fetched at tick `fetchedAt` is older than `freshMs`
// at tick `now` (the click's). Ticks wrap after 49.7 days: the age is their
// difference; a `now` before `fetchedAt` (the click came during the check)
// finds it fresh.
bool DescriptorStale(std::uint32_t fetchedAt, std::uint32_t now, std::uint32_t freshMs = kDescriptorFreshMs);

// How far the background got before the click.
enum class BackgroundResult : std::uint8_t {
  NotRun,   // nothing it did can be built on: an interrupted commit waits, or it never checked
  Failed,   // a step failed (logged, no box)
  Current,  // the descriptor was checked: the client is current
  Ready,    // the update's pieces are all in Temp
};

enum class ClickStep : std::uint8_t {
  StartOver,  // the whole run, as if nothing had run before the click
  FromCheck,  // on from the checked descriptor: update when due, then the game
  Commit,     // commit what the background fetched, then the game
};

struct ClickPlan {
  bool fetchDescriptorAgain = false;  // the descriptor is checked once more first
  ClickStep step = ClickStep::StartOver;
};

ClickPlan PlanClick(BackgroundResult result, bool descriptorStale);

// What identifies a release: its version and what the descriptor binds of
// its archive and manifest.
struct ReleaseFacts {
  std::int32_t version = 0;
  ArchiveExpectation archive;
  ArchiveExpectation manifest;
  bool manifestNamed = false;
};

// The same release: same version, same archive digest and size, same
// manifest (named or not, by the same digest and size).
bool SameRelease(const ReleaseFacts& before, const ReleaseFacts& after);

// The planned step once the descriptor has been fetched again: the work of
// another release is dropped, and the run goes on from the new check.
ClickStep StepAfterRecheck(ClickStep planned, bool sameRelease);

// The receive cap while the page shows: [Download] BackgroundKBps, held
// under MaxKBps, which caps every transfer (both in bytes a second; 0: none).
std::int64_t BackgroundReceiveCap(std::int64_t background, std::int64_t max);

// A client that is current fetches ahead the next version the descriptor
// names when it is newer than both the live and the installed version and
// comes with a manifest to bind what is fetched to.
bool FetchAheadDue(std::int32_t installed, std::int32_t live, bool nextNamed, std::int32_t next,
                   bool nextManifestNamed);

}  // namespace update
