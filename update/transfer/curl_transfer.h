// What every transfer of the launcher sets on its libcurl handle, and how it
// reads libcurl's outcome: one owner for an easy handle, the options the
// whole file and the ranges share (certificates not verified, the receive
// buffer, the connect limit, the player's speed cap), and the failure a
// result code stands for, which decides whether it is tried again.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>

#include "update/transfer/transfer_limits.h"
#include "update/transfer/transfer_retry.h"

namespace update {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// Sets the URL and the options every transfer shares.
void ApplyTransferOptions(CURL* handle, const char* url, const TransferLimits& limits);

// The cap on one transfer's receive rate (0: none), which a transfer that
// shares the player's cap with others changes while it runs; and the receive
// buffer that suits a cap, set only between transfers.
void ApplyReceiveCap(CURL* handle, std::int64_t bytesPerSecond);
void ApplyReceiveBuffer(CURL* handle, std::int64_t bytesPerSecond);

// The receive cap a transfer starts with: the live one when set.
std::int64_t ReceiveCap(const TransferLimits& limits);

// For a transfer's progress callback: sets the live cap on `handle` when it
// differs from `*applied` (the cap last set there), and notes it. libcurl
// reads the cap afresh at every turn of its transfer loop. The receive
// buffer keeps the size it started with.
void FollowReceiveCap(CURL* handle, const TransferLimits& limits, std::int64_t* applied);

struct ProxyConfig;

// Sets the proxy `config` chooses for `url` on `handle`; direct is set
// explicitly, so that no proxy variable of the environment applies either.
void ApplyProxy(CURL* handle, const ProxyConfig& config, const char* url);

class LineMeter;

// Adds what a finished transfer on `handle` saw of the line to `meter` (when not null).
void RecordLineSample(CURL* handle, LineMeter* meter);

// The failure a finished transfer's result code stands for (None for CURLE_OK).
TransferFailure FailureOfResult(CURLcode result);

}  // namespace update
