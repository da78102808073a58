#include "update/install/parallel_extract.h"

#include <algorithm>

#include "update/download_log.h"

namespace update {

unsigned DefaultStagingThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores * 2, 1u, 4u);
}

ParallelExtractor::ParallelExtractor(const char* archivePath, ArchiveReader* callerReader, unsigned threads,
                                     DoneCallback onDone)
    : onDone_(std::move(onDone)), callerReader_(callerReader), threadCount_(std::max(threads, 1u)) {
  if (threadCount_ == 1) return;
  for (unsigned i = 0; i < threadCount_; ++i) {
    auto worker = std::make_unique<Worker>();
    worker->reader = std::make_unique<ArchiveReader>(archivePath);
    if (worker->reader->OpenState() != ArchiveReader::State::Open) {
      ready_ = false;
      break;
    }
    workers_.push_back(std::move(worker));
  }
  if (!ready_) {
    workers_.clear();
    return;
  }
  for (auto& worker : workers_) threads_.emplace_back([this, w = worker.get()] { Work(w); });
}

ParallelExtractor::~ParallelExtractor() {
  Cancel();
  Stop();
}

bool ParallelExtractor::RunJob(ArchiveReader& reader, DirectoryCache& directories, const ExtractJob& job) {
  if (!reader.GoTo(job.where)) {
    WriteLog("Failed to extract %s\n", job.entry.name);
    return false;
  }
  return reader.ExtractCurrent(job.entry, job.path.c_str(), &directories) == ExtractResult::Extracted;
}

void ParallelExtractor::Work(Worker* worker) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    jobAdded_.wait(hold, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) return;  // ending, and nothing left to do
    Batch batch = std::move(queue_.front());
    queue_.pop_front();
    queuedJobs_ -= batch.size();
    ++running_;
    hold.unlock();
    std::uint64_t extracted = 0;
    bool good = true;
    for (const ExtractJob& job : batch) {
      // Another worker's failure ends this batch too: nothing more is worth doing.
      if (stopBatches_.load(std::memory_order_relaxed)) break;
      if (!RunJob(*worker->reader, worker->directories, job)) {
        good = false;
        stopBatches_ = true;
        break;
      }
      ++extracted;
    }
    hold.lock();
    --running_;
    done_ += extracted;
    if (!good) {
      failed_ = true;
      queue_.clear();
      queuedJobs_ = 0;
    }
    jobEnded_.notify_all();
  }
}

template <typename Condition>
void ParallelExtractor::WaitReporting(std::unique_lock<std::mutex>& hold, Condition ready) {
  for (;;) {
    jobEnded_.wait(hold, [&] { return ready() || (onDone_ && done_ != reported_); });
    if (onDone_ && done_ != reported_) {
      reported_ = done_;
      const std::uint64_t done = done_;
      hold.unlock();
      onDone_(done);
      hold.lock();
      continue;
    }
    return;
  }
}

bool ParallelExtractor::Add(ExtractJob job) {
  if (!ready_) return false;
  if (workers_.empty()) {
    // One thread: the caller's own reader is already at the entry.
    if (failed_) return false;
    if (callerReader_->ExtractCurrent(job.entry, job.path.c_str(), &callerDirectories_) != ExtractResult::Extracted) {
      failed_ = true;
      return false;
    }
    ++done_;
    if (onDone_) onDone_(done_);
    return true;
  }
  if (stopBatches_.load(std::memory_order_relaxed)) return false;
  fillingBytes_ += job.entry.size;
  filling_.push_back(std::move(job));
  if (filling_.size() < kBatchJobs && fillingBytes_ < kBatchBytes) return true;
  return Submit();
}

bool ParallelExtractor::Submit() {
  std::unique_lock<std::mutex> hold(lock_);
  WaitReporting(hold, [this] { return failed_ || queuedJobs_ + filling_.size() <= kQueuedJobs; });
  if (failed_) return false;
  if (filling_.empty()) return true;
  queuedJobs_ += filling_.size();
  queue_.push_back(std::move(filling_));
  filling_ = Batch();
  fillingBytes_ = 0;
  jobAdded_.notify_one();
  return true;
}

bool ParallelExtractor::Finish() {
  if (!ready_) return false;
  if (!workers_.empty() && !Submit()) {
    Cancel();
    return false;
  }
  std::unique_lock<std::mutex> hold(lock_);
  WaitReporting(hold, [this] { return queue_.empty() && running_ == 0; });
  return !failed_;
}

void ParallelExtractor::Cancel() {
  filling_.clear();
  fillingBytes_ = 0;
  std::unique_lock<std::mutex> hold(lock_);
  queue_.clear();
  queuedJobs_ = 0;
  jobEnded_.wait(hold, [this] { return running_ == 0; });
}

void ParallelExtractor::Stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  jobAdded_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

}  // namespace update
