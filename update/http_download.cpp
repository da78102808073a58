#include "update/http_download.h"

#include <curl/curl.h>
#include <windows.h>

#include <cstdio>
#include <memory>

#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/transfer_rules.h"

namespace update {

namespace {

// libcurl's receive buffer, the largest it takes. Every receive under Wine is
// a round trip through its server, so fewer and larger pieces are what makes
// a transfer fast there (its 16 KiB default needs about six times as many).
constexpr long kReceiveBufferBytes = 512 * 1024;

// The state one transfer's callbacks share, handed to them as user pointers.
struct Transfer {
  FILE* file = nullptr;
  bool firstPiece = true;   // cleared once the first piece has been looked at
  bool notFound = false;    // the first piece held "404 Not Found"
  progress::ProgressTargets* progress = nullptr;
  BodyObserver* observer = nullptr;
  bool stoppedByObserver = false;
};

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

size_t OnWriteData(char* data, size_t size, size_t count, void* user) {
  Transfer* transfer = static_cast<Transfer*>(user);
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
  return std::fwrite(data, size, count, transfer->file);
}

// The progress callback; it never stops a transfer and asks for no repaint:
// the progress bar's animation thread picks the new target up.
int OnProgress(void* user, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t) {
  Transfer* transfer = static_cast<Transfer*>(user);
  if (transfer->progress != nullptr)
    transfer->progress->upperTarget.store(TransferPercent(downloadNow, downloadTotal));
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
  long status = 0;
  bool Succeeded() const { return started && result == CURLE_OK && !notFound && !stopped; }
};

TransferFailure Classify(const Attempt& attempt) {
  if (attempt.Succeeded()) return TransferFailure::None;
  if (!attempt.started || attempt.notFound) return TransferFailure::Permanent;
  switch (attempt.result) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return TransferFailure::ConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return TransferFailure::TimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return TransferFailure::BodyCut;
    default:
      return TransferFailure::Permanent;
  }
}

// A small generator for the jitter; its seed differs from run to run.
std::uint32_t NextRandom() {
  static std::uint32_t state = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

Attempt Download(const char* localPath, const char* url, progress::ProgressTargets* progress,
                 const TransferLimits& limits, BodyObserver* observer) {
  Attempt attempt;
  EasyHandle curl(curl_easy_init());
  if (!curl) return attempt;

  Transfer transfer;
  transfer.progress = progress;
  transfer.observer = observer;
  base::UniqueFile file(std::fopen(localPath, "wb"));
  if (!file) {
    WriteLog("Failed to open %s\n", localPath);
    return attempt;
  }
  attempt.started = true;
  transfer.file = file.Get();

  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWriteData);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);

  CURLcode result = curl_easy_perform(h);
  // Bytes that never reached the disk fail the transfer like a short write.
  if (!file.Close() && result == CURLE_OK) result = CURLE_WRITE_ERROR;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &attempt.status);
  curl.reset();

  attempt.result = result;
  attempt.notFound = transfer.notFound;
  attempt.stopped = transfer.stoppedByObserver;
  if (!attempt.stopped && (result != CURLE_OK || transfer.notFound)) LogTransferFailure(url, result);
  return attempt;
}

}  // namespace

bool DownloadFile(const char* localPath, const char* url, progress::ProgressTargets* progress,
                  const TransferLimits& limits, BodyObserver* observer) {
  return Download(localPath, url, progress, limits, observer).Succeeded();
}

bool FetchFile(const char* localPath, const char* url, progress::ProgressTargets* progress,
               const TransferLimits& limits, const RetryTiming& timing, BodyCheck* check) {
  for (std::int32_t retry = 1;; ++retry) {
    if (check != nullptr) check->Begin();
    const Attempt attempt = Download(localPath, url, progress, limits, check);
    TransferFailure failure = attempt.stopped ? TransferFailure::None : Classify(attempt);
    if (failure == TransferFailure::None && check != nullptr) {
      switch (check->Verdict()) {
        case BodyCheck::Result::Accepted: break;
        case BodyCheck::Result::Short: failure = TransferFailure::BodyShort; break;
        case BodyCheck::Result::Wrong: failure = TransferFailure::BodyWrong; break;
      }
    }
    if (failure == TransferFailure::None) return true;
    if (retry > timing.maxRetries || !MayRetry(failure, static_cast<std::int32_t>(attempt.status))) return false;
    if (failure == TransferFailure::BodyShort || failure == TransferFailure::BodyWrong)
      WriteLog("Rejected body of (%s)\n", url);
    const std::int32_t delay = RetryDelayMs(timing, retry, NextRandom());
    WriteLog("Retrying (%s) in %d ms, retry %d of %d\n", url, static_cast<int>(delay), static_cast<int>(retry),
             static_cast<int>(timing.maxRetries));
    ::Sleep(static_cast<DWORD>(delay));
  }
}

}  // namespace update
