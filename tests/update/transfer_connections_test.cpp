// Transfers over several connections at once, against nginx: a batch of
// ranges (RangeFetcher::FetchAll) spread over its connections, each kept open
// between its requests, under one speed cap; a whole archive fetched in
// segments, checked as a whole, continued after a stop with only its missing
// bytes, and fetched as one stream from a server that ignores ranges; and a
// stalled transfer that sleeps until its deadline. nginx's access log says
// which connection served each request and when.
// curl.h brings winsock2.h, which must come before windows.h.
#include "update/transfer/transfer_loop.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/progress_targets.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "update/download_log.h"
#include "update/download_log_testing.h"
#include "update/transfer/body_checks.h"
#include "update/transfer/curl_transfer.h"
#include "update/transfer/http_download.h"
#include "update/transfer/part_segments.h"
#include "update/transfer/part_resume.h"
#include "update/transfer/range_fetch.h"

namespace {

using namespace testing_update;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kMiB = 1u << 20;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class InScratch : public ::testing::Test {
 protected:
  void SetUp() override {
    ::GetCurrentDirectoryA(sizeof previous_, previous_);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir_.Path().c_str()));
    update::ResetDownloadLogForTesting();
    ASSERT_TRUE(WriteWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));  // nginx appends
  }
  void TearDown() override {
    ::SetCurrentDirectoryA(previous_);
    update::ResetDownloadLogForTesting();
  }
  std::string Log() const { return ReadWholeFile(dir_ / "download.log"); }

  ScratchDir dir_;
  ServedDir served_;
  char previous_[MAX_PATH] = {};
};

// ---- a batch of ranges ------------------------------------------------------

// Every request's bytes, how it ended, and the order of the calls.
class Collected : public update::RangeJobs {
 public:
  struct Job {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::size_t stopAfter = std::string::npos;  // the sink stops once it holds more
  };
  explicit Collected(std::vector<Job> jobs) : jobs_(std::move(jobs)), sinks_(jobs_.size()) {
    for (std::size_t i = 0; i < jobs_.size(); ++i) sinks_[i].limit = jobs_[i].stopAfter;
  }
  std::size_t Count() const override { return jobs_.size(); }
  std::uint64_t Offset(std::size_t i) const override { return jobs_[i].offset; }
  std::uint64_t Length(std::size_t i) const override { return jobs_[i].length; }
  update::BodyObserver* Begin(std::size_t i) override {
    begun.push_back(i);
    return &sinks_[i];
  }
  void End(std::size_t i, const update::RangeOutcome& outcome) override {
    ended.push_back(i);
    outcomes.resize(jobs_.size());
    outcomes[i] = outcome;
  }
  const std::string& Bytes(std::size_t i) const { return sinks_[i].bytes; }

  std::vector<std::size_t> begun;
  std::vector<std::size_t> ended;
  std::vector<update::RangeOutcome> outcomes;

 private:
  struct Sink : update::BodyObserver {
    std::string bytes;
    std::size_t limit = std::string::npos;
    bool OnBody(const char* data, std::size_t size) override {
      bytes.append(data, size);
      return bytes.size() <= limit;
    }
  };
  std::vector<Job> jobs_;
  std::vector<Sink> sinks_;
};

std::vector<Collected::Job> EightMebibytes() {
  std::vector<Collected::Job> jobs;
  for (std::uint64_t i = 0; i < 8; ++i) jobs.push_back({i * kMiB + i * 1000, kMiB});
  return jobs;
}

using Batch = InScratch;

// nginx's /rate/ gives each connection 2 MB/s, so requests on connections of
// their own are seen under way at once.
TEST_F(Batch, RequestsAreSpreadOverTheConnectionsEachKeptOpen) {
  const std::string payload = Noise(9 * kMiB, 1);
  ASSERT_TRUE(WriteWholeFile(served_ / "archive.bin", payload));
  const std::string path = "/rate" + served_.UrlPath("archive.bin");
  for (const std::int32_t connections : {1, 4}) {
    SCOPED_TRACE(connections);
    ASSERT_TRUE(WriteWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));
    update::TransferLimits limits;
    limits.connections = connections;
    update::RangeFetcher fetcher(HttpUrl(path).c_str(), payload.size(), limits);
    Collected jobs(EightMebibytes());
    progress::ProgressTargets targets;
    update::RangeProgress progress;
    progress.targets = &targets;
    progress.done = 1000;
    progress.total = 1000 + 8 * kMiB;
    fetcher.FetchAll(jobs, progress);

    const std::vector<std::size_t> inOrder = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(inOrder, jobs.begun);
    std::vector<std::size_t> ended = jobs.ended;
    std::sort(ended.begin(), ended.end());
    EXPECT_EQ(inOrder, ended) << "every request ended once";
    for (std::size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(update::RangeResult::Received, jobs.outcomes[i].result) << i;
      EXPECT_TRUE(payload.substr(i * kMiB + i * 1000, kMiB) == jobs.Bytes(i)) << i;
    }
    EXPECT_EQ(100, targets.upperTarget.load());
    EXPECT_EQ(static_cast<std::int64_t>(progress.total), targets.count.done.load());

    // nginx logs a request once it ends; the last may trail the call by a moment.
    std::vector<ServedRequest> served;
    for (int i = 0; i < 50 && (served = ServedRequestsWithConnections(path)).size() < 8; ++i) ::Sleep(100);
    ASSERT_EQ(8u, served.size()) << ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
    std::set<long long> used;
    for (const ServedRequest& r : served) {
      EXPECT_EQ(206, r.status);
      used.insert(r.connection);
    }
    EXPECT_EQ(static_cast<std::size_t>(connections), used.size()) << "eight requests, each connection kept open";
    if (connections == 1) {
      EXPECT_EQ(1, MostAtOnce(served));
    } else {
      EXPECT_GT(MostAtOnce(served), 1) << "no two connections were in use at once";
    }
  }
}

// MaxKBps is the cap of the whole batch: four connections at 2 MiB/s in all
// take as long for 8 MiB as one would (about 4 s), not a quarter of it.
TEST_F(Batch, SpeedCapIsSharedByTheConnections) {
  const std::string payload = Noise(9 * kMiB, 2);
  ASSERT_TRUE(WriteWholeFile(served_ / "archive.bin", payload));
  update::TransferLimits limits;
  limits.connections = 4;
  limits.maxReceiveBytesPerSecond = 2 * kMiB;
  update::RangeFetcher fetcher(HttpUrl(served_.UrlPath("archive.bin")).c_str(), payload.size(), limits);
  Collected jobs(EightMebibytes());
  const Clock::time_point start = Clock::now();
  fetcher.FetchAll(jobs);
  const double seconds = SecondsSince(start);
  std::printf("8 MiB over 4 connections under a cap of 2 MiB/s: %.1f s\n", seconds);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(update::RangeResult::Received, jobs.outcomes[i].result) << i;
  EXPECT_GE(seconds, 3.0) << "the cap held each connection, not the batch";
}

// Each request of a batch is judged on its own, as a single Fetch judges it.
TEST_F(Batch, EachRequestIsJudgedAsASingleFetchWouldBe) {
  const std::string payload = Noise(3 * kMiB, 3);
  ASSERT_TRUE(WriteWholeFile(served_ / "archive.bin", payload));
  update::TransferLimits limits;
  limits.connections = 3;
  struct Case {
    const char* label;
    std::string path;
    std::uint64_t fileSize;
    std::vector<Collected::Job> jobs;
    std::vector<update::RangeResult> results;
  } const cases[] = {
      {"ranges and a sink that stops", served_.UrlPath("archive.bin"), payload.size(),
       {{0, kMiB}, {kMiB, kMiB, 1000}, {2 * kMiB, kMiB - 1}, {5, 10}},
       {update::RangeResult::Received, update::RangeResult::Stopped, update::RangeResult::Received,
        update::RangeResult::Received}},
      {"another file's size", served_.UrlPath("archive.bin"), payload.size() + 1, {{0, 100}, {100, 100}},
       {update::RangeResult::OtherRange, update::RangeResult::OtherRange}},
      {"a server that ignores ranges", "/noranges" + served_.UrlPath("archive.bin"), payload.size(),
       {{0, 100}, {100, 100}}, {update::RangeResult::Ignored, update::RangeResult::Ignored}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    update::RangeFetcher fetcher(HttpUrl(c.path).c_str(), c.fileSize, limits);
    Collected jobs(c.jobs);
    fetcher.FetchAll(jobs);
    ASSERT_EQ(c.jobs.size(), jobs.outcomes.size());
    for (std::size_t i = 0; i < c.jobs.size(); ++i) {
      EXPECT_EQ(c.results[i], jobs.outcomes[i].result) << i;
      if (c.results[i] == update::RangeResult::Received) {
        EXPECT_TRUE(payload.substr(c.jobs[i].offset, c.jobs[i].length) == jobs.Bytes(i)) << i;
      }
      if (c.results[i] == update::RangeResult::Ignored || c.results[i] == update::RangeResult::OtherRange) {
        EXPECT_EQ("", jobs.Bytes(i)) << "a refused answer reached the sink";
      }
    }
  }
  EXPECT_EQ("", Log()) << "refused answers are the caller's to log";
}

// A stop request ends every transfer of the batch within a second; requests
// not begun yet are ended without a Begin.
TEST_F(Batch, StopRequestEndsEveryTransferWithinASecond) {
  const std::string payload = Noise(9 * kMiB, 4);
  ASSERT_TRUE(WriteWholeFile(served_ / "archive.bin", payload));
  update::TransferLimits limits;
  limits.connections = 2;
  update::RangeFetcher fetcher(HttpUrl("/rate" + served_.UrlPath("archive.bin")).c_str(), payload.size(), limits);
  // Two requests of 2 MiB on their connections take a second; two wait.
  Collected jobs({{0, 2 * kMiB}, {2 * kMiB, 2 * kMiB}, {4 * kMiB, 2 * kMiB}, {6 * kMiB, 2 * kMiB}});
  progress::ProgressTargets targets;
  update::RangeProgress progress;
  progress.targets = &targets;
  Clock::time_point asked;
  std::thread stopper([&] {
    ::Sleep(400);
    asked = Clock::now();
    targets.stop.Request();
  });
  fetcher.FetchAll(jobs, progress);
  const double afterStop = SecondsSince(asked);
  stopper.join();
  EXPECT_LT(afterStop, 1.5);
  EXPECT_EQ(4u, jobs.ended.size());
  EXPECT_EQ(std::vector<std::size_t>({0, 1}), jobs.begun) << "the batch went on after the stop";
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(update::RangeResult::Failed, jobs.outcomes[i].result) << i;
  EXPECT_EQ("", Log()) << "a stop is the worker's to log";
}

// ---- a whole archive in segments ----------------------------------------------

class Segmented : public InScratch {
 protected:
  void Serve(std::size_t size, unsigned seed) {
    bytes_ = Noise(size, seed);
    ASSERT_TRUE(WriteWholeFile(served_ / "archive.zip", bytes_));
    ASSERT_TRUE(update::ParseSha256Hex(Sha256Hex(bytes_).c_str(), &files_.expected.digest));
    files_.expected.hasDigest = true;
    files_.expected.hasSize = true;
    files_.expected.size = bytes_.size();
    files_.recordPath = record_.c_str();
    timing_.firstDelayMs = 20;
    limits_.connections = 4;
  }
  bool Fetch(const std::string& path, progress::ProgressTargets* targets = nullptr) {
    update::ArchiveBodyCheck check(files_.expected);
    const bool fetched = update::FetchFile(part_.c_str(), HttpUrl(path).c_str(), targets, limits_, timing_, &check,
                                           &files_);
    digestMatched_ = fetched && !check.Refused();
    return fetched;
  }
  // The bytes the record names as done.
  update::ByteSpans Recorded() const {
    const std::string text = ReadWholeFile(record_);
    update::ByteSpans done;
    EXPECT_EQ(update::PartRecordKind::Segments,
              update::ParseSegmentRecord(text.data(), text.size(), files_.expected.digest, bytes_.size(), &done))
        << text;
    return done;
  }
  long long Served(const std::string& path, int status) const {
    long long sum = 0;
    for (const auto& r : ServedRequests(path)) sum += r.first == status ? r.second : 0;
    return sum;
  }

  std::string bytes_;
  std::string part_ = dir_ / "archive.zip.part";
  std::string record_ = dir_ / "archive.zip.part.sha256";
  update::PartFiles files_;
  update::TransferLimits limits_;
  update::RetryTiming timing_;
  bool digestMatched_ = false;
};

TEST_F(Segmented, ArchiveArrivesInSegmentsAndIsCheckedWhole) {
  Serve(24 * kMiB, 5);
  const std::string path = served_.UrlPath("archive.zip");
  ASSERT_TRUE(Fetch(path)) << Log();
  EXPECT_TRUE(digestMatched_);
  EXPECT_TRUE(bytes_ == ReadWholeFile(part_));
  EXPECT_EQ(update::ByteSpans({{0, bytes_.size()}}), Recorded());
  const std::vector<std::pair<int, long long>> served = ServedRequests(path);
  EXPECT_EQ(4u, served.size()) << "four segments of 6 MiB";
  EXPECT_EQ(static_cast<long long>(bytes_.size()), Served(path, 206));
  EXPECT_EQ("", Log());
}

TEST_F(Segmented, DamagedSegmentFailsTheWholeArchivesDigest) {
  Serve(24 * kMiB, 6);
  std::string damaged = bytes_;
  damaged[20 * kMiB] = static_cast<char>(damaged[20 * kMiB] ^ 1);  // in the last segment, read back
  ASSERT_TRUE(WriteWholeFile(served_ / "archive.zip", damaged));
  EXPECT_FALSE(Fetch(served_.UrlPath("archive.zip")));
  EXPECT_FALSE(digestMatched_);
}

// A stop half-way keeps what arrived and says so in the record; the next
// fetch asks only for the rest, and the archive is checked whole.
TEST_F(Segmented, StoppedArchiveIsContinuedWithOnlyItsMissingBytes) {
  Serve(24 * kMiB, 7);
  progress::ProgressTargets targets;
  Clock::time_point asked;
  std::thread stopper([&] {
    ::Sleep(1500);
    asked = Clock::now();
    targets.stop.Request();
  });
  EXPECT_FALSE(Fetch("/rate" + served_.UrlPath("archive.zip"), &targets));
  const double afterStop = SecondsSince(asked);
  stopper.join();
  EXPECT_LT(afterStop, 1.5);
  EXPECT_FALSE(Exists(dir_ / "download.log")) << "a stop is the worker's to log: " << Log();
  const update::ByteSpans kept = Recorded();
  const std::uint64_t keptBytes = update::SpanBytes(kept);
  ASSERT_GT(keptBytes, 2 * kMiB) << "four connections at 2 MB/s for 1.5 s";
  ASSERT_LT(keptBytes, bytes_.size());
  EXPECT_GT(kept.size(), 1u) << "the segments ran side by side";
  const std::string part = ReadWholeFile(part_);
  for (const update::ByteSpan& span : kept)
    EXPECT_TRUE(bytes_.substr(span.begin, span.end - span.begin) == part.substr(span.begin, span.end - span.begin));

  update::ResetDownloadLogForTesting();
  ASSERT_TRUE(WriteWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));
  const std::string path = served_.UrlPath("archive.zip");
  ASSERT_TRUE(Fetch(path)) << Log();
  EXPECT_TRUE(digestMatched_);
  EXPECT_TRUE(bytes_ == ReadWholeFile(part_));
  EXPECT_EQ("Resuming (" + HttpUrl(path) + ") at " + std::to_string(keptBytes) + " of " +
                std::to_string(bytes_.size()) + " bytes\n",
            Log());
  EXPECT_EQ(static_cast<long long>(bytes_.size() - keptBytes), Served(path, 206));
  EXPECT_EQ(0, Served(path, 200));
}

// A server that answers ranges with the whole file: one stream, as before.
TEST_F(Segmented, ServerThatIgnoresRangesGivesOneStream) {
  Serve(12 * kMiB, 8);
  const std::string path = "/noranges" + served_.UrlPath("archive.zip");
  ASSERT_TRUE(Fetch(path)) << Log();
  EXPECT_TRUE(digestMatched_);
  EXPECT_TRUE(bytes_ == ReadWholeFile(part_));
  EXPECT_EQ("Server ignored the range of (" + HttpUrl(path) + "), starting over\n", Log());
  char record[update::kPartRecordSize + 1] = {};
  update::FormatPartRecord(files_.expected.digest, record);
  EXPECT_EQ(record, ReadWholeFile(record_)) << "the part is one stream's again";
}

// ---- the wait ---------------------------------------------------------------------

// A transfer that stalls (headers and ten bytes, then nothing) is looked at
// when something happens or its low-speed deadline is due, not every second.
TEST(TransferLoop, StalledTransferSleepsUntilItsDeadline) {
  update::TransferLimits limits;
  limits.lowSpeedSeconds = 3;
  update::EasyHandle curl(curl_easy_init());
  ASSERT_TRUE(curl);
  update::ApplyTransferOptions(curl.get(), FixtureUrl("/stall").c_str(), limits);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) {
    return size * count;
  });
  update::TransferLoop loop;
  ASSERT_TRUE(loop.Add(curl.get(), limits));
  std::vector<update::TransferLoop::Finished> finished;
  int steps = 0;
  const Clock::time_point start = Clock::now();
  while (finished.empty() && steps < 1000) {
    loop.Step(nullptr, &finished);
    ++steps;
  }
  const double seconds = SecondsSince(start);
  ASSERT_EQ(1u, finished.size());
  EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, finished[0].result);
  EXPECT_GE(seconds, 2.5);
  EXPECT_LT(seconds, 10.0);
  // Connecting, sending the request and the answer's first bytes take a few;
  // libcurl's own wait would have looked about ten times a second meanwhile.
  EXPECT_LE(steps, 12) << "the loop polled the stalled transfer";
}

}  // namespace
