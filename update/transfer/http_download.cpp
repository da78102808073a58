#include "update/transfer/http_download.h"

#include <curl/curl.h>
#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "base/file_size.h"
#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/transfer/curl_transfer.h"
#include "update/transfer/part_resume.h"
#include "update/transfer/segmented_download.h"
#include "update/transfer/transfer_loop.h"
#include "update/transfer_rules.h"

namespace update {

namespace {

// The state one transfer's callbacks share, handed to them as user pointers.
struct Transfer {
  FILE* file = nullptr;
  bool firstPiece = true;   // cleared once the first piece has been looked at
  bool notFound = false;    // the first piece held "404 Not Found"
  progress::ProgressTargets* progress = nullptr;
  BodyObserver* observer = nullptr;
  bool stoppedByObserver = false;
  // A resumed transfer: the bytes already in the file, and what the answer did.
  CURL* curl = nullptr;
  const char* url = nullptr;
  std::uint64_t offset = 0;
  BodyCheck* check = nullptr;   // begun again when the server sends the whole file
  bool unexpectedStatus = false;  // neither 206 nor 200 to a range request
  bool stopRequested = false;     // the progress callback ended the transfer for a stop request
  bool diskFull = false;          // a write found no room left on the volume
  const TransferLimits* limits = nullptr;  // a live cap is followed as the transfer runs
  std::int64_t appliedCap = 0;
};

// Whether the write that just failed found the volume full: the C runtime
// says ENOSPC for the WriteFile that failed with ERROR_DISK_FULL (or
// ERROR_HANDLE_DISK_FULL).
bool NoRoomLeft() {
  const DWORD error = ::GetLastError();
  return errno == ENOSPC || error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

size_t OnWriteData(char* data, size_t size, size_t count, void* user) {
  Transfer* transfer = static_cast<Transfer*>(user);
  if (transfer->firstPiece && transfer->offset != 0) {
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    switch (ClassifyRangeAnswer(static_cast<std::int32_t>(status))) {
      case RangeAnswer::Continues: break;
      case RangeAnswer::Restarts:
        // The body is the whole file: the part and the check start over.
        WriteLog("Server ignored the range of (%s), starting over\n", transfer->url);
        if (std::fflush(transfer->file) != 0 || _chsize_s(_fileno(transfer->file), 0) != 0) return 0;
        transfer->offset = 0;
        if (transfer->check != nullptr) transfer->check->Begin();
        break;
      case RangeAnswer::StartOver:
      case RangeAnswer::Other:
        // Not the rest of the file: nothing of it goes into the part.
        transfer->unexpectedStatus = true;
        return 0;
    }
  }
  if (transfer->firstPiece) {
    const std::size_t textLength = NotFoundTextLength(data, size * count);
    if (textLength != 0) {
      transfer->notFound = true;
      WriteLogText(data, textLength);
    }
    transfer->firstPiece = false;
  }
  if (transfer->observer != nullptr && !transfer->observer->OnBody(data, size * count)) {
    transfer->stoppedByObserver = true;
    return 0;  // curl ends the transfer with a write error
  }
  errno = 0;
  const std::size_t written = std::fwrite(data, size, count, transfer->file);
  if (written != count) transfer->diskFull = NoRoomLeft();
  return written;  // short: curl ends the transfer with a write error
}

// The progress callback asks for no repaint: the progress bar's animation
// thread picks the new target and count up. libcurl calls it at least once a
// second, also while it connects or waits for data, so a stop request ends
// the transfer within a second. A resumed transfer counts from the bytes
// already in the file.
int OnProgress(void* user, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t) {
  Transfer* transfer = static_cast<Transfer*>(user);
  FollowReceiveCap(transfer->curl, *transfer->limits, &transfer->appliedCap);
  progress::ProgressTargets* progress = transfer->progress;
  if (progress == nullptr) return 0;
  if (progress->stop.Requested()) {
    transfer->stopRequested = true;
    return 1;  // curl ends the transfer with CURLE_ABORTED_BY_CALLBACK
  }
  progress->upperTarget.store(transfer->offset != 0 ? ResumedPercent(transfer->offset, downloadNow, downloadTotal)
                                                    : TransferPercent(downloadNow, downloadTotal));
  const std::int64_t offset = static_cast<std::int64_t>(transfer->offset);
  progress->count.Set(progress::CountUnit::Bytes, offset + downloadNow, downloadTotal > 0 ? offset + downloadTotal : 0);
  return 0;
}

}  // namespace

void LogTransferFailure(const char* url, int curlCode) {
  WriteLog("curl (%s) error. CURLcode=%s\n", url, curl_easy_strerror(static_cast<CURLcode>(curlCode)));
}

namespace {

struct Attempt {
  bool started = false;   // false: no handle, or the local file did not open (logged)
  CURLcode result = CURLE_OK;
  bool notFound = false;
  bool stopped = false;   // the observer stopped the transfer
  bool unexpectedStatus = false;  // a range request answered with neither 206 nor 200
  bool stopRequested = false;     // a stop request ended it (not logged, not tried again)
  bool diskFull = false;          // a write found the volume full (logged, not tried again)
  long status = 0;
  bool Succeeded() const { return started && result == CURLE_OK && !notFound && !stopped && !stopRequested; }
};

TransferFailure Classify(const Attempt& attempt) {
  if (attempt.Succeeded()) return TransferFailure::None;
  if (!attempt.started || attempt.notFound) return TransferFailure::Permanent;
  if (attempt.unexpectedStatus) return TransferFailure::BodyWrong;
  return FailureOfResult(attempt.result);
}

// A small generator for the jitter; its seed differs from run to run.
std::uint32_t NextRandom() {
  static std::uint32_t state = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

Attempt Download(const char* localPath, const char* url, progress::ProgressTargets* progress,
                 const TransferLimits& limits, BodyObserver* observer, std::uint64_t offset = 0,
                 BodyCheck* check = nullptr) {
  Attempt attempt;
  EasyHandle curl(curl_easy_init());
  if (!curl) return attempt;

  Transfer transfer;
  transfer.progress = progress;
  transfer.observer = observer;
  transfer.curl = curl.get();
  transfer.url = url;
  transfer.offset = offset;
  transfer.check = check;
  transfer.limits = &limits;
  transfer.appliedCap = ReceiveCap(limits);
  base::UniqueFile file(std::fopen(localPath, offset != 0 ? "ab" : "wb"));
  if (!file) {
    WriteLog("Failed to open %s\n", localPath);
    return attempt;
  }
  attempt.started = true;
  transfer.file = file.Get();

  CURL* h = curl.get();
  ApplyTransferOptions(h, url, limits);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWriteData);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  // A plain Range header rather than curl's resume option: curl itself fails
  // a 200 answer to a resumed request, where the whole body can be used.
  char range[32] = {};
  if (offset != 0) {
    std::snprintf(range, sizeof range, "%llu-", static_cast<unsigned long long>(offset));
    curl_easy_setopt(h, CURLOPT_RANGE, range);
  }

  TransferLoop loop;
  CURLcode result = loop.Perform(h, limits, progress != nullptr ? &progress->stop : nullptr);
  // Bytes that never reached the disk fail the transfer like a short write.
  errno = 0;
  if (!file.Close() && result == CURLE_OK) {
    result = CURLE_WRITE_ERROR;
    transfer.diskFull = NoRoomLeft();
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &attempt.status);
  RecordLineSample(h, limits.meter);
  curl.reset();

  attempt.result = result;
  attempt.notFound = transfer.notFound;
  attempt.stopped = transfer.stoppedByObserver;
  attempt.stopRequested = transfer.stopRequested || (progress != nullptr && progress->stop.Requested());
  if (attempt.stopRequested) return attempt;  // the worker logs the cancel itself
  attempt.unexpectedStatus = transfer.unexpectedStatus || (offset != 0 && attempt.status == 416);
  if (attempt.unexpectedStatus) return attempt;  // the caller decides what the answer means
  if (!attempt.stopped && (result != CURLE_OK || transfer.notFound)) LogTransferFailure(url, result);
  attempt.diskFull = result == CURLE_WRITE_ERROR && transfer.diskFull;
  if (attempt.diskFull) WriteLog("Disk full while writing %s: what arrived is kept\n", localPath);
  return attempt;
}

}  // namespace

bool DownloadFile(const char* localPath, const char* url, progress::ProgressTargets* progress,
                  const TransferLimits& limits, BodyObserver* observer) {
  return Download(localPath, url, progress, limits, observer).Succeeded();
}

namespace {

bool RecordMatches(const char* recordPath, const Sha256Digest& digest) {
  base::UniqueFile record(std::fopen(recordPath, "rb"));
  if (!record) return false;
  char text[kPartRecordSize + 8] = {};
  const std::size_t length = std::fread(text, 1, sizeof text, record.Get());
  return PartRecordMatches(text, length, digest);
}

// Empties the part and writes its record first, so that no byte of it exists
// without a record naming its digest.
bool BeginFreshPart(const char* localPath, const PartFiles& part) {
  ::DeleteFileA(localPath);
  char text[kPartRecordSize + 1] = {};
  FormatPartRecord(part.expected.digest, text);
  base::UniqueFile record(std::fopen(part.recordPath, "wb"));
  if (!record) return false;
  const bool written = std::fwrite(text, 1, kPartRecordSize, record.Get()) == kPartRecordSize;
  return record.Close() && written;
}

// Feeds the check the first `bytes` bytes of the part, in one read of it.
bool FeedPart(const char* localPath, std::uint64_t bytes, BodyCheck* check) {
  base::UniqueFile file(std::fopen(localPath, "rb"));
  if (!file) return false;
  std::unique_ptr<char[]> buffer = std::make_unique<char[]>(64 * 1024);
  std::uint64_t left = bytes;
  while (left != 0) {
    const std::size_t want = left < 64 * 1024 ? static_cast<std::size_t>(left) : 64 * 1024;
    if (std::fread(buffer.get(), 1, want, file.Get()) != want) return false;
    if (!check->OnBody(buffer.get(), want)) return false;
    left -= want;
  }
  return true;
}

enum class PartPlan { FromStart, FromOffset, AlreadyWhole, NoRecord };

// Decides where this attempt begins; the check has been begun.
PartPlan PlanPart(const char* localPath, const char* url, const PartFiles& part, BodyCheck* check,
                  std::uint64_t* offset) {
  *offset = 0;
  std::uint64_t size = 0;
  if (!base::FileSize(localPath, &size)) size = 0;  // no part yet: nothing to continue
  const PartStart start = DecidePartStart(RecordMatches(part.recordPath, part.expected.digest), size, part.expected);
  if (start != PartStart::Fresh && FeedPart(localPath, size, check)) {
    if (start == PartStart::Complete) {
      if (check->Verdict() == BodyCheck::Result::Accepted) return PartPlan::AlreadyWhole;
    } else {
      *offset = size;
      if (part.expected.hasSize)
        WriteLog("Resuming (%s) at %llu of %llu bytes\n", url, static_cast<unsigned long long>(size),
                 static_cast<unsigned long long>(part.expected.size));
      else
        WriteLog("Resuming (%s) at %llu bytes\n", url, static_cast<unsigned long long>(size));
      return PartPlan::FromOffset;
    }
  }
  check->Begin();
  if (!BeginFreshPart(localPath, part)) {
    WriteLog("Failed to open %s\n", part.recordPath);
    return PartPlan::NoRecord;
  }
  return PartPlan::FromStart;
}

}  // namespace

bool FetchFile(const char* localPath, const char* url, progress::ProgressTargets* progress,
               const TransferLimits& limits, const RetryTiming& timing, BodyCheck* check,
               const PartFiles* part, bool* diskFull) {
  if (diskFull != nullptr) *diskFull = false;
  if (part != nullptr && (check == nullptr || !part->expected.hasDigest)) part = nullptr;
  // A 416, or any answer but 206 and 200, to a range request empties the part
  // and asks again at once, once: the fresh request gets the usual handling.
  bool startedOver = false;
  // Once a server has answered a segment with the whole file (or with another
  // answer than the range), the rest of this fetch is one stream.
  bool oneStream = false;
  for (std::int32_t retry = 1;; ++retry) {
    if (check != nullptr) check->Begin();
    TransferFailure failure = TransferFailure::None;
    std::int32_t status = 0;
    bool resumed = false;
    bool unexpectedStatus = false;
    if (part != nullptr && !oneStream && SegmentsWanted(localPath, *part, limits)) {
      const SegmentedAttempt attempt = FetchPartInSegments(localPath, url, progress, limits, *part, check);
      switch (attempt.outcome) {
        case SegmentedOutcome::Stopped:
        case SegmentedOutcome::NotStarted:
          return false;
        case SegmentedOutcome::DiskFull:
          if (diskFull != nullptr) *diskFull = true;
          return false;
        case SegmentedOutcome::OtherAnswer:
        case SegmentedOutcome::RangesIgnored:
          if (attempt.outcome == SegmentedOutcome::RangesIgnored)
            WriteLog("Server ignored the range of (%s), starting over\n", url);
          // The part's bytes were written in place: a single stream starts
          // it over (the part goes first, then its record).
          oneStream = true;
          ::DeleteFileA(localPath);
          --retry;
          continue;
        case SegmentedOutcome::Failed:
          failure = attempt.failure;
          status = attempt.status;
          // A wrong answer (a 5xx) says nothing of the part's bytes.
          unexpectedStatus = failure == TransferFailure::BodyWrong;
          break;
        case SegmentedOutcome::Complete:
          break;
      }
      resumed = attempt.resumed;
    } else {
      std::uint64_t offset = 0;
      if (part != nullptr) {
        const PartPlan plan = PlanPart(localPath, url, *part, check, &offset);
        if (plan == PartPlan::AlreadyWhole) return true;
        if (plan == PartPlan::NoRecord) return false;
      }
      const Attempt attempt = Download(localPath, url, progress, limits, check, offset, check);
      if (attempt.stopRequested) return false;  // what arrived stays in the file (a part is continued later)
      if (attempt.diskFull) {  // no retry finds more room; the part waits for a run that has it
        if (diskFull != nullptr) *diskFull = true;
        return false;
      }
      if (offset != 0 && attempt.unexpectedStatus && !startedOver) {
        startedOver = true;
        ::DeleteFileA(localPath);
        --retry;
        continue;
      }
      failure = attempt.stopped ? TransferFailure::None : Classify(attempt);
      status = static_cast<std::int32_t>(attempt.status);
      resumed = offset != 0;
      unexpectedStatus = attempt.unexpectedStatus;
    }
    if (failure == TransferFailure::None && check != nullptr) {
      switch (check->Verdict()) {
        case BodyCheck::Result::Accepted: break;
        case BodyCheck::Result::Short: failure = TransferFailure::BodyShort; break;
        case BodyCheck::Result::Wrong: failure = TransferFailure::BodyWrong; break;
      }
    }
    if (failure == TransferFailure::None) return true;
    // A resumed body that does not give the digest may be the part's fault:
    // the next attempt fetches the whole file.
    const bool partWrong = part != nullptr && resumed && failure == TransferFailure::BodyWrong && !unexpectedStatus;
    if (partWrong) ::DeleteFileA(localPath);
    if (retry > timing.maxRetries || (!partWrong && !MayRetry(failure, status))) return false;
    if (failure == TransferFailure::BodyShort || failure == TransferFailure::BodyWrong)
      WriteLog("Rejected body of (%s)\n", url);
    const std::int32_t delay = RetryDelayMs(timing, retry, NextRandom());
    WriteLog("Retrying (%s) in %d ms, retry %d of %d\n", url, static_cast<int>(delay), static_cast<int>(retry),
             static_cast<int>(timing.maxRetries));
    if (progress != nullptr ? progress->stop.SleepUnlessStopped(static_cast<DWORD>(delay))
                            : (::Sleep(static_cast<DWORD>(delay)), false))
      return false;
  }
}

}  // namespace update
