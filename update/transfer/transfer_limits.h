// Bounds that end a transfer whose server does not answer or stalls, so that
// the player is never left waiting without end, and the player's cap on how
// fast a transfer may receive. Tests shorten them. Pure.
#pragma once

#include <atomic>
#include <cstdint>

namespace update {

struct ProxyConfig;  // update/transfer/system_proxy.h
class LineMeter;     // update/transfer/line_meter.h

struct TransferLimits {
  long connectTimeoutSeconds = 30;
  long lowSpeedBytesPerSecond = 1;  // below this rate ...
  long lowSpeedSeconds = 60;        // ... for this long, the transfer fails
  // [Download] MaxKBps: every transfer receives at most this many bytes a
  // second (CURLOPT_MAX_RECV_SPEED_LARGE), its connections together; 0
  // means no cap.
  std::int64_t maxReceiveBytesPerSecond = 0;
  // When set, the cap is read from here instead, at the start of every
  // request and as the transfer runs (libcurl's progress callback), so that
  // it can change under a running transfer: a background fetch that the
  // player's click hurries. 0 means no cap. It outlives every transfer.
  const std::atomic<std::int64_t>* liveReceiveCap = nullptr;
  // [Download] Connections: how many connections a batch of ranges, or an
  // archive fetched in segments, uses at once (1: one request after another
  // on a single connection).
  std::int32_t connections = 4;
  // The proxy settings of the run (they outlive every transfer); null: libcurl's own default.
  const ProxyConfig* proxy = nullptr;
  // What the run's transfers have seen of the line (each adds its timings); null: not kept.
  LineMeter* meter = nullptr;
};

}  // namespace update
