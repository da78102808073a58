#include "update/http_download.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
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

bool DownloadFile(const char* localPath, const char* url, progress::ProgressTargets* progress,
                  const TransferLimits& limits, BodyObserver* observer) {
  EasyHandle curl(curl_easy_init());
  if (!curl) return false;

  Transfer transfer;
  transfer.progress = progress;
  transfer.observer = observer;
  base::UniqueFile file(std::fopen(localPath, "wb"));
  if (!file) {
    WriteLog("Failed to open %s\n", localPath);
    return false;
  }
  transfer.file = file.Get();

  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWriteData);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);

  CURLcode result = curl_easy_perform(h);
  // Bytes that never reached the disk fail the transfer like a short write.
  if (!file.Close() && result == CURLE_OK) result = CURLE_WRITE_ERROR;
  curl.reset();

  if (transfer.stoppedByObserver) return false;
  if (result != CURLE_OK || transfer.notFound) {
    LogTransferFailure(url, result);
    return false;
  }
  return true;
}

}  // namespace update
