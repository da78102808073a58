// Which host each range of an update is asked of, round after round, and
// when the ranges are given up. A range that fails is asked for again on its
// own; once its retries are spent it moves to the next mirror. A host that
// keeps serving other ranges is kept for a range that fails there while no
// mirror is left (a flaky host may well serve it on the fifth try), but a
// host that serves nothing for as many rounds as a transfer has retries is
// given up, so a dead host costs the time it always did. A host that does not
// serve ranges at all (a 200, another range) is left at once. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace update {

enum class PieceFault {
  None,       // every piece of the range was staged
  Passing,    // the transfer failed in a way that may pass (reset, cut body, timeout, 5xx)
  Refused,    // a piece failed its check (a flipped byte)
  Permanent,  // the transfer failed in a way that will not pass (404, a bad URL)
  NoRanges,   // the host answered with the whole file or another range
};

struct RangeRoute {
  std::size_t host = 0;
  std::int32_t failures = 0;  // on this host, since it last staged a piece
  bool done = false;
};

enum class RoundVerdict {
  AllDone,   // every range is staged
  Retry,     // ask for what is left (after a wait), on the hosts the routes now name
  NoRanges,  // a host served no ranges and no other host is left: fetch the whole archive
  GaveUp,    // no host is left that may serve what is left
};

class RangeHosts {
 public:
  RangeHosts(std::size_t hosts, std::int32_t maxRetries);

  // How a range's request of this round ended, and whether it staged any
  // piece before that.
  void Record(RangeRoute& route, PieceFault fault, bool stagedSome);

  // After every request of the round is recorded: the hosts that served
  // nothing are counted, and the ranges that are to move go to the next
  // host still in use (their `host` changes).
  RoundVerdict EndRound(std::vector<RangeRoute>& routes);

  // The retry number the wait before the next round is chosen by (1 for the
  // first), at most the transfer's retries.
  std::int32_t RetryNumber(const std::vector<RangeRoute>& routes) const;

  // The first host still in use (the later requests of the run start there);
  // hosts() when none is.
  std::size_t FirstLiveHost() const;
  bool GivenUp(std::size_t host) const { return host >= hosts_.size() || hosts_[host].givenUp; }

 private:
  struct Host {
    bool askedThisRound = false;
    bool servedThisRound = false;
    std::int32_t barrenRounds = 0;  // rounds in a row in which it staged nothing
    bool givenUp = false;
    bool servesNoRanges = false;
  };
  std::vector<Host> hosts_;
  std::int32_t maxRetries_;
};

}  // namespace update
