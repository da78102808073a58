// Runs libcurl transfers on the calling thread through the multi interface's
// socket API, and sleeps in one wait on their sockets and the stop request's
// event until something arrives, the stop comes or a deadline is due. A
// stalled transfer therefore costs no wake-up at all until then: libcurl's
// own wait (in curl_easy_perform) looks every second, and its low-speed
// option sets a timer for every second of a transfer. The loop keeps that
// rule itself by a deadline: a transfer that receives fewer than
// lowSpeedBytesPerSecond * lowSpeedSeconds bytes in lowSpeedSeconds ends with
// CURLE_OPERATION_TIMEDOUT ("Timeout was reached"), as libcurl's would. A
// stop request ends every transfer at once with CURLE_ABORTED_BY_CALLBACK.
// The loop's multi handle keeps the connections of the transfers it ran, so
// that the next transfer to the same host reuses one.
#pragma once

// curl.h brings winsock2.h, which must come before any windows.h.
#include <curl/curl.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/guards.h"
#include "update/transfer/transfer_limits.h"

namespace base { class StopRequest; }

namespace update {

class TransferLoop {
 public:
  TransferLoop();
  ~TransferLoop();
  TransferLoop(const TransferLoop&) = delete;
  TransferLoop& operator=(const TransferLoop&) = delete;

  // Starts `handle` (its options set; not already running here). False when
  // the loop or libcurl cannot take it.
  bool Add(CURL* handle, const TransferLimits& limits);
  // Ends a running transfer before it is done.
  void Remove(CURL* handle);
  std::size_t Running() const { return running_.size(); }

  struct Finished {
    CURL* handle = nullptr;
    CURLcode result = CURLE_OK;
  };
  // Waits until a socket is ready, a deadline is due or `stop` (may be null)
  // is requested, then lets libcurl work. The transfers that ended meanwhile
  // are appended to `finished` and are no longer in the loop.
  void Step(const base::StopRequest* stop, std::vector<Finished>* finished);

  // Runs `handle` alone to its end: curl_easy_perform, waiting as above.
  CURLcode Perform(CURL* handle, const TransferLimits& limits, const base::StopRequest* stop);

 private:
  struct Transfer {
    CURL* handle = nullptr;
    std::int64_t lowSpeedBytes = 0;  // what must arrive within ...
    std::int64_t lowSpeedMs = 0;     // ... this long (0: no rule)
    ULONGLONG windowStartMs = 0;
    curl_off_t windowStartBytes = 0;
  };
  struct Socket {
    curl_socket_t socket = CURL_SOCKET_BAD;
    int what = 0;  // CURL_POLL_IN, _OUT or _INOUT
  };
  static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
  static int OnTimer(CURLM* multi, long timeoutMs, void* self);

  void Act(curl_socket_t socket, int mask);
  bool ActOnReadySockets();
  void CollectDone(std::vector<Finished>* finished);
  void EndSlowTransfers(ULONGLONG nowMs, std::vector<Finished>* finished);
  DWORD WaitMs(ULONGLONG nowMs) const;
  void EndAll(CURLcode result, std::vector<Finished>* finished);

  CURLM* multi_ = nullptr;
  base::UniqueHandle socketEvent_;  // set by Winsock when a watched socket has news
  std::vector<Socket> sockets_;
  std::vector<Transfer> running_;
  bool timerSet_ = false;
  ULONGLONG timerDueMs_ = 0;
};

}  // namespace update
