#include "update/incremental/range_hosts.h"

#include <algorithm>

namespace update {

RangeHosts::RangeHosts(std::size_t hosts, std::int32_t maxRetries)
    : hosts_(hosts == 0 ? 1 : hosts), maxRetries_(maxRetries < 0 ? 0 : maxRetries) {}

void RangeHosts::Record(RangeRoute& route, PieceFault fault, bool stagedSome) {
  Host& host = hosts_[route.host];
  host.askedThisRound = true;
  if (fault == PieceFault::None || stagedSome) {
    host.servedThisRound = true;
    route.failures = 0;
  }
  if (fault == PieceFault::None) {
    route.done = true;
    return;
  }
  ++route.failures;
  if (fault == PieceFault::Permanent) host.givenUp = true;
  if (fault == PieceFault::NoRanges) host.givenUp = host.servesNoRanges = true;
}

RoundVerdict RangeHosts::EndRound(std::vector<RangeRoute>& routes) {
  for (Host& host : hosts_) {
    if (host.askedThisRound) {
      host.barrenRounds = host.servedThisRound ? 0 : host.barrenRounds + 1;
      if (host.barrenRounds > maxRetries_) host.givenUp = true;
    }
    host.askedThisRound = host.servedThisRound = false;
  }
  bool left = false;
  bool stranded = false;
  for (RangeRoute& route : routes) {
    if (route.done) continue;
    left = true;
    const bool spent = route.failures > maxRetries_;
    if (!GivenUp(route.host) && !spent) continue;
    std::size_t next = route.host + 1;
    while (next < hosts_.size() && hosts_[next].givenUp) ++next;
    if (next < hosts_.size()) {
      route.host = next;
      route.failures = 0;
    } else if (GivenUp(route.host)) {
      stranded = true;
    }  // else: spent on the last host that still serves others; it stays
  }
  if (!left) return RoundVerdict::AllDone;
  if (!stranded) return RoundVerdict::Retry;
  const bool noRanges = std::any_of(hosts_.begin(), hosts_.end(), [](const Host& h) { return h.servesNoRanges; });
  return noRanges ? RoundVerdict::NoRanges : RoundVerdict::GaveUp;
}

std::int32_t RangeHosts::RetryNumber(const std::vector<RangeRoute>& routes) const {
  std::int32_t worst = 1;
  for (const RangeRoute& route : routes)
    if (!route.done) worst = std::max(worst, route.failures);
  return std::min(worst, std::max<std::int32_t>(maxRetries_, 1));
}

std::size_t RangeHosts::FirstLiveHost() const {
  std::size_t host = 0;
  while (host < hosts_.size() && hosts_[host].givenUp) ++host;
  return host;
}

}  // namespace update
