// Rounds of range requests against hosts that fail in given ways: which host
// each range ends on, how many rounds it takes, and when the ranges are given
// up.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "update/incremental/range_hosts.h"

namespace {

using update::PieceFault;
using update::RoundVerdict;

struct Outcome {
  RoundVerdict verdict = RoundVerdict::Retry;
  int rounds = 0;
  std::vector<int> requests;  // per host
  std::size_t firstLive = 0;
};

// `answer(round, range, host, attempt on that range)` says how a request ends.
Outcome Simulate(std::size_t hosts, std::size_t ranges,
                 const std::function<PieceFault(int, std::size_t, std::size_t, int)>& answer) {
  update::RangeHosts policy(hosts, 3);
  std::vector<update::RangeRoute> routes(ranges);
  std::vector<int> attempts(ranges, 0);
  Outcome out;
  out.requests.assign(hosts, 0);
  while (out.rounds < 1000) {
    ++out.rounds;
    for (std::size_t i = 0; i < ranges; ++i) {
      if (routes[i].done) continue;
      ++out.requests[routes[i].host];
      policy.Record(routes[i], answer(out.rounds, i, routes[i].host, ++attempts[i]), false);
    }
    out.verdict = policy.EndRound(routes);
    if (out.verdict != RoundVerdict::Retry) break;
  }
  out.firstLive = policy.FirstLiveHost();
  return out;
}

TEST(RangeHosts, ADeadHostIsGivenUpAfterItsRetriesAndAFlakyOneIsKeptWhileItServes) {
  struct Case {
    const char* label;
    std::size_t hosts;
    std::size_t ranges;
    std::function<PieceFault(int, std::size_t, std::size_t, int)> answer;
    RoundVerdict verdict;
    int rounds;
    std::vector<int> requests;
  };
  const auto always = [](PieceFault f) { return [f](int, std::size_t, std::size_t, int) { return f; }; };
  const Case cases[] = {
      {"every request fails: 1 + 3 retries, as a single transfer", 1, 5, always(PieceFault::Passing),
       RoundVerdict::GaveUp, 4, {20}},
      {"a 404 is not asked again", 1, 5, always(PieceFault::Permanent), RoundVerdict::GaveUp, 1, {5}},
      {"a whole file for a range: ranges end at once", 1, 5, always(PieceFault::NoRanges), RoundVerdict::NoRanges, 1,
       {5}},
      // Range 0 fails its first 6 tries, more than its retries; range k > 0
      // is served on its (k + 1)th try, so the host serves something every
      // round and, with no mirror left, range 0 stays.
      {"flaky last host: the fifth try and later are made", 1, 8,
       [](int, std::size_t range, std::size_t, int attempt) {
         if (range == 0) return attempt <= 6 ? PieceFault::Passing : PieceFault::None;
         return attempt <= static_cast<int>(range) ? PieceFault::Refused : PieceFault::None;
       },
       RoundVerdict::AllDone, 8, {}},
      {"a span refused for ever on its only host ends once nothing else is served", 1, 3,
       [](int, std::size_t range, std::size_t, int) { return range == 0 ? PieceFault::Refused : PieceFault::None; },
       RoundVerdict::GaveUp, 5, {7}},
      {"a dead first host hands every range to the mirror", 2, 4,
       [](int, std::size_t, std::size_t host, int) { return host == 0 ? PieceFault::Passing : PieceFault::None; },
       RoundVerdict::AllDone, 5, {16, 4}},
      {"a mirror serves ranges where the first host served the whole file", 2, 4,
       [](int, std::size_t, std::size_t host, int) { return host == 0 ? PieceFault::NoRanges : PieceFault::None; },
       RoundVerdict::AllDone, 2, {4, 4}},
      // Host 0 serves all but range 2; after 1 + 3 tries it goes to host 1.
      {"a range whose retries are spent moves on while its host goes on serving", 2, 4,
       [](int, std::size_t range, std::size_t host, int) {
         return range == 2 && host == 0 ? PieceFault::Passing : PieceFault::None;
       },
       RoundVerdict::AllDone, 5, {7, 1}},
  };
  for (const Case& c : cases) {
    const Outcome out = Simulate(c.hosts, c.ranges, c.answer);
    EXPECT_EQ(c.verdict, out.verdict) << c.label;
    EXPECT_EQ(c.rounds, out.rounds) << c.label;
    if (!c.requests.empty()) {
      EXPECT_EQ(c.requests, out.requests) << c.label;
    }
  }
}

TEST(RangeHosts, LaterRequestsStartAtTheFirstHostStillInUseAndWaitsGrowWithTheWorstRange) {
  update::RangeHosts policy(3, 3);
  std::vector<update::RangeRoute> routes(2);
  policy.Record(routes[0], PieceFault::NoRanges, false);
  policy.Record(routes[1], PieceFault::Passing, true);  // cut, but a piece arrived
  EXPECT_EQ(RoundVerdict::Retry, policy.EndRound(routes));
  EXPECT_EQ(1u, routes[0].host);
  EXPECT_EQ(0, routes[0].failures);
  EXPECT_EQ(1u, routes[1].host);  // host 0 serves no ranges: the cut range goes too
  EXPECT_EQ(1u, policy.FirstLiveHost());
  EXPECT_EQ(1, policy.RetryNumber(routes));
  for (int round = 0; round < 2; ++round) {
    policy.Record(routes[0], PieceFault::Passing, false);
    policy.Record(routes[1], PieceFault::None, false);
    EXPECT_EQ(RoundVerdict::Retry, policy.EndRound(routes));
  }
  EXPECT_EQ(2, policy.RetryNumber(routes));
}

}  // namespace
