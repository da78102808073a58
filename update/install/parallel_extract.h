// Extraction of many archive entries on several threads, for staging: the
// caller walks the archive's central directory in order and hands each file
// entry to Add; a few workers, each with its own archive handle (minizip's
// handles are not shared between threads), go to the entry and extract it
// with its size and CRC checks. Jobs go to the workers in batches of a few
// small entries (a large one goes alone): under Wine every wake-up of a
// waiting thread is a request to the same single-threaded server that also
// creates every file, so one hand-off per file would cost about as much as
// the file. At most kQueuedJobs entries wait between the walk and the
// workers, so memory stays bounded however many entries the archive holds,
// and the workers take entries in archive order, so that the archive is read
// mostly forwards.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/install/archive_reader.h"

namespace update {

// The default number of extracting threads: two per processor, at most 4.
// A thread whose write waits for the disk (the page cache throttles a writer
// that is far ahead of it) leaves its processor to the other; measured on 2
// cores, four 256 MiB entries staged in 0.87-0.91 s on 4 threads against
// 1.07-1.31 s on 2, and 5,000 small files no slower. More than 4 only
// contend for the disk and the file system.
unsigned DefaultStagingThreads();

struct ExtractJob {
  ArchiveEntry entry;           // the entry's header, as the walk read it
  ArchiveEntryPosition where;   // its place in the central directory
  std::string path;             // the file it is extracted to
};

class ParallelExtractor {
 public:
  static constexpr std::size_t kQueuedJobs = 64;
  // A batch ends at this many jobs, or once its entries declare kBatchBytes.
  static constexpr std::size_t kBatchJobs = 16;
  static constexpr std::uint64_t kBatchBytes = 1u << 20;

  // Called on the caller's thread, inside Add and Finish, with the jobs
  // extracted so far, whenever that number has grown.
  using DoneCallback = std::function<void(std::uint64_t done)>;

  // Opens `threads` readers of `archivePath` (1 when 0 is given). With one
  // thread, jobs run at once on the caller's thread, through `callerReader`.
  ParallelExtractor(const char* archivePath, ArchiveReader* callerReader, unsigned threads,
                    DoneCallback onDone = nullptr);
  ~ParallelExtractor();  // ends the workers; jobs still queued are dropped
  ParallelExtractor(const ParallelExtractor&) = delete;
  ParallelExtractor& operator=(const ParallelExtractor&) = delete;

  // False when a worker's reader could not be opened (its line is logged).
  bool Ready() const { return ready_; }
  unsigned Threads() const { return threadCount_; }

  // Queues one job, waiting while the queue is full. False as soon as any job
  // has failed (its "Failed to extract NAME" is logged); nothing more runs then.
  bool Add(ExtractJob job);

  // Hands on the jobs added so far, waits for every one to end. True when
  // every job was extracted.
  bool Finish();

  // Drops the jobs not yet begun and waits for those running.
  void Cancel();

 private:
  struct Worker {
    std::unique_ptr<ArchiveReader> reader;
    DirectoryCache directories;
  };

  using Batch = std::vector<ExtractJob>;

  bool RunJob(ArchiveReader& reader, DirectoryCache& directories, const ExtractJob& job);
  void Work(Worker* worker);
  // Queues the batch being filled (when it holds any job), waiting while the
  // queue is full. False once any job has failed.
  bool Submit();
  void Stop();
  // Waits, under `hold`, until `ready()` holds, telling onDone_ of the jobs
  // that end meanwhile.
  template <typename Condition>
  void WaitReporting(std::unique_lock<std::mutex>& hold, Condition ready);

  DoneCallback onDone_;
  std::uint64_t reported_ = 0;  // the caller's thread only

  ArchiveReader* callerReader_;
  DirectoryCache callerDirectories_;
  unsigned threadCount_ = 1;
  bool ready_ = true;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;

  std::mutex lock_;
  std::condition_variable jobAdded_;  // a job waits, or the workers are to end
  std::condition_variable jobEnded_;  // a job ended: room in the queue, or maybe all done
  Batch filling_;                    // the caller's thread only
  std::uint64_t fillingBytes_ = 0;   // declared by the jobs in filling_
  std::deque<Batch> queue_;
  std::size_t queuedJobs_ = 0;       // in queue_
  std::size_t running_ = 0;          // batches being run
  std::uint64_t done_ = 0;
  bool failed_ = false;
  bool ending_ = false;
  std::atomic<bool> stopBatches_{false};  // a job failed: the batches running end early
};

}  // namespace update
