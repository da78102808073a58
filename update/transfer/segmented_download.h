// One attempt at a whole archive's part in segments, over several
// connections at once (RangeFetcher::FetchAll): the bytes the part's record
// says are done stay, the missing ones are cut into segments, and each
// segment writes into the part at its own offset. The record beside the part
// (update/transfer/part_segments.h) is rewritten durably before the first
// byte lands in place, then at least once a second and after every segment:
// it only ever names bytes the part was given, so a kill at any moment
// leaves a part whose record a later run can trust (a record that cannot be
// written, on a full volume, leaves the one before it, which names fewer). The archive's check still
// sees every byte in order: the segment at the in-order end of the part feeds
// it as its bytes arrive, and a segment that was ahead is read back from the
// part when the in-order end reaches it. FetchFile (http_download.h) runs
// these attempts and their retries (Windows).
#pragma once

#include <cstdint>

#include "update/transfer/body_checks.h"
#include "update/transfer/http_download.h"
#include "update/transfer/transfer_limits.h"
#include "update/transfer/transfer_retry.h"

namespace progress { struct ProgressTargets; }

namespace update {

// Whether FetchFile fetches `part` in segments: a digest and a size of at
// least kSegmentedMinimumBytes with more than one connection, or a part whose
// record is a segmented one (which only segments can continue).
bool SegmentsWanted(const char* localPath, const PartFiles& part, const TransferLimits& limits);

enum class SegmentedOutcome {
  Complete,       // every byte is in the part and went through the check, in order
  Failed,         // a segment's transfer failed (logged); `failure` and `status` say how
  RangesIgnored,  // the server answered a range with the whole file (logged)
  OtherAnswer,    // the server answered a range with another range or a 4xx
  Stopped,        // a stop request ended it (not logged)
  DiskFull,       // a write found the volume full (logged)
  NotStarted,     // the part or its record could not be written (logged)
};

struct SegmentedAttempt {
  SegmentedOutcome outcome = SegmentedOutcome::NotStarted;
  TransferFailure failure = TransferFailure::None;
  std::int32_t status = 0;
  bool resumed = false;  // bytes of an earlier attempt or run were kept
};

// `check` has been begun. What the part holds when it ends is in its record.
SegmentedAttempt FetchPartInSegments(const char* localPath, const char* url, progress::ProgressTargets* progress,
                                     const TransferLimits& limits, const PartFiles& part, BodyCheck* check);

}  // namespace update
