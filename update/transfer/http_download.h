// One HTTP(S) GET into one local file, with libcurl's easy interface. HTTP
// error statuses do not fail a transfer and redirects are not followed; a
// body whose first piece holds "404 Not Found" does fail it. Certificates
// are not verified. FetchFile adds retries (update/transfer/transfer_retry.h).
#pragma once

#include "update/transfer/body_checks.h"
#include "update/body_observer.h"
#include "update/transfer/transfer_limits.h"
#include "update/transfer/transfer_retry.h"

namespace progress { struct ProgressTargets; }

namespace update {


// Fetches `url` into `localPath` (created or emptied). While it runs the
// transfer's percentage is stored in progress->upperTarget (when not null).
// On failure the log gets "curl (<url>) error. CURLcode=<text>\n" (after the
// received piece, for a not-found page); the file keeps what was received.
// `observer` (when not null) sees every piece before it is written; when it
// stops the transfer, DownloadFile returns false and logs nothing. The bytes
// done and in all go to progress->count. A stop request (progress->stop)
// ends the transfer within a second: false, nothing logged, what arrived
// stays in the file.
bool DownloadFile(const char* localPath, const char* url,
                  progress::ProgressTargets* progress = nullptr,
                  const TransferLimits& limits = TransferLimits{},
                  BodyObserver* observer = nullptr);

// DownloadFile with retries: a failure that may pass (see MayRetry) is logged
// as usual, followed by "Retrying (<url>) in <ms> ms, retry <n> of <max>\n",
// and the transfer starts again after that wait; a body that `check` (when
// not null) does not accept and that is tried again logs "Rejected body of
// (<url>)\n" first. Without a retry the caller says why it failed.
//
// With `part` (and a check and a digest), `localPath` is a part that an
// earlier attempt or run may have left: when `part->recordPath` names the
// same digest, the check is first fed the bytes on disk, "Resuming (<url>) at
// <n> of <size> bytes\n" is logged and only the rest is asked for with a
// Range header. A 206 continues the part; a 200 (the server ignored the
// range) logs "Server ignored the range of (<url>), starting over\n" and
// writes the whole body from byte 0; a 416 (or any other status) empties the
// part and asks again.
// A resumed body that fails the digest empties the part and is tried again
// from byte 0. A part that already holds the whole file and passes the check
// needs no transfer.
//
// A part of a known Size of at least 4 MiB, with limits.connections above 1,
// is fetched in segments over that many connections at once instead
// (update/transfer/segmented_download.h): the record then also names the
// bytes that are done, "Resuming (...)" counts them, and an attempt asks only
// for the missing ones. A server that answers a segment with the whole file
// logs "Server ignored the range of (<url>), starting over\n" and the part
// starts over as one stream; another answer than the range starts it over
// as one stream too (a 5xx or no answer is a failure, tried again). On failure the part stays for the next attempt. A stop
// request ends the transfer and the wait before a retry at once (false, not
// logged, not tried again). A write that finds the volume full logs "Disk
// full while writing <path>: what arrived is kept\n" after the transfer's own
// line and is not tried again: false, with `*diskFull` (when given) true.
struct PartFiles {
  const char* recordPath = nullptr;  // names the digest the part belongs to
  ArchiveExpectation expected;
};
bool FetchFile(const char* localPath, const char* url, progress::ProgressTargets* progress,
               const TransferLimits& limits, const RetryTiming& timing, BodyCheck* check = nullptr,
               const PartFiles* part = nullptr, bool* diskFull = nullptr);

// The log line of a failed transfer, for callers that fail before one starts
// (a URL that does not fit its buffer).
void LogTransferFailure(const char* url, int curlCode);

}  // namespace update
