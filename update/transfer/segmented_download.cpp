#include "update/transfer/segmented_download.h"

// curl.h (through range_fetch.h's users) brings winsock2.h, which must come
// before any windows.h.
#include "update/transfer/range_fetch.h"
#include "update/transfer/curl_transfer.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/durable_file.h"
#include "base/file_size.h"
#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/transfer/part_segments.h"

namespace update {

namespace {

constexpr std::size_t kRecordReadLimit = 64 * 1024;  // thousands of spans; a real record has a few
constexpr ULONGLONG kRecordPeriodMs = 1000;
constexpr std::size_t kReadBackBytes = 1u << 20;

// The record's text, or empty when there is none (or it is longer than any
// record this launcher writes).
std::string ReadRecord(const char* path) {
  base::UniqueFile record(std::fopen(path, "rb"));
  if (!record) return std::string();
  std::string text(kRecordReadLimit + 1, '\0');
  text.resize(std::fread(&text[0], 1, text.size(), record.Get()));
  if (text.size() > kRecordReadLimit) text.clear();
  return text;
}

// The spans of the part an earlier attempt or run left, as its record names
// them; none when the part cannot be continued (it is then removed).
ByteSpans KeptSpans(const char* localPath, const PartFiles& part) {
  std::uint64_t partSize = 0;
  if (!base::FileSize(localPath, &partSize)) partSize = 0;
  const std::string text = ReadRecord(part.recordPath);
  ByteSpans done;
  switch (ParseSegmentRecord(text.data(), text.size(), part.expected.digest, part.expected.size, &done)) {
    case PartRecordKind::InOrder:
      // A part written from byte 0 in one stream: its size is what is done.
      done.clear();
      if (partSize != 0 && partSize <= part.expected.size) done.push_back({0, partSize});
      break;
    case PartRecordKind::Segments:
      // A span past the part's end names bytes the part lost (a part emptied
      // by a run that was killed before it rewrote the record).
      if (!done.empty() && done.back().end > partSize) done.clear();
      break;
    case PartRecordKind::Other:
      done.clear();
      break;
  }
  if (done.empty() && partSize != 0) ::DeleteFileA(localPath);
  return done;
}

bool NoRoomLeft(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// The segments of one attempt: their sinks write into the part at their own
// offsets, feed the check in order, and keep the record up to date.
class PartSegments : public RangeJobs {
 public:
  PartSegments(HANDLE file, const PartFiles& part, BodyCheck* check, const ByteSpans& kept, const ByteSpans& pieces)
      : file_(file), part_(part), check_(check), kept_(kept), pieces_(pieces), written_(pieces.size(), 0) {
    sinks_.reserve(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) sinks_.push_back(Sink(this, i));
  }

  std::size_t Count() const override { return pieces_.size(); }
  std::uint64_t Offset(std::size_t index) const override { return pieces_[index].begin; }
  std::uint64_t Length(std::size_t index) const override { return pieces_[index].end - pieces_[index].begin; }
  BodyObserver* Begin(std::size_t index) override { return &sinks_[index]; }
  void End(std::size_t, const RangeOutcome& outcome) override {
    switch (outcome.result) {
      case RangeResult::Received:
      case RangeResult::Stopped:  // a write or the check stopped it; they say why
        break;
      case RangeResult::Ignored:
        ignored_ = true;
        break;
      case RangeResult::OtherRange:
        if (!otherAnswer_) otherStatus_ = outcome.status;
        otherAnswer_ = true;
        break;
      case RangeResult::Failed:
        if (failure_ == TransferFailure::None) {
          failure_ = outcome.failure;
          status_ = outcome.status;
        }
        break;
    }
    ReadBackInOrder();
    SaveRecord();
  }
  bool Abandoned() const override { return ignored_ || otherAnswer_ || writeFailed_ || readFailed_ || checkStopped_; }

  // Every byte the part holds, kept or written in this attempt.
  ByteSpans Done() const {
    ByteSpans done = kept_;
    for (std::size_t i = 0; i < pieces_.size(); ++i) AddSpan(&done, {pieces_[i].begin, pieces_[i].begin + written_[i]});
    return done;
  }

  // Feeds the check the bytes from where it stands to the end of the run of
  // done bytes there, read back from the part.
  void ReadBackInOrder() {
    if (Abandoned()) return;
    const std::uint64_t end = DoneRunEnd(Done(), checked_);
    if (end > checked_ && !buffer_) buffer_ = std::make_unique<char[]>(kReadBackBytes);
    while (checked_ < end) {
      const std::uint64_t left = end - checked_;
      const DWORD want = static_cast<DWORD>(left < kReadBackBytes ? left : kReadBackBytes);
      if (!ReadAt(checked_, buffer_.get(), want)) {
        readFailed_ = true;
        return;
      }
      if (!check_->OnBody(buffer_.get(), want)) {
        checkStopped_ = true;
        return;
      }
      checked_ += want;
    }
  }

  // The record names what is done: false when it could not be written (the
  // one before it stays, naming fewer bytes).
  bool SaveRecord() {
    lastRecordMs_ = ::GetTickCount64();
    return base::WriteFileDurably(part_.recordPath, FormatSegmentRecord(part_.expected.digest, Done()));
  }

  std::uint64_t Checked() const { return checked_; }
  bool Ignored() const { return ignored_; }
  bool OtherAnswer() const { return otherAnswer_; }
  std::int32_t OtherStatus() const { return otherStatus_; }
  bool WriteFailed() const { return writeFailed_; }
  bool DiskFull() const { return diskFull_; }
  bool ReadFailed() const { return readFailed_; }
  bool CheckStopped() const { return checkStopped_; }
  TransferFailure Failure() const { return failure_; }
  std::int32_t Status() const { return status_; }

 private:
  class Sink : public BodyObserver {
   public:
    Sink(PartSegments* owner, std::size_t piece) : owner_(owner), piece_(piece) {}
    bool OnBody(const char* data, std::size_t size) override { return owner_->Write(piece_, data, size); }

   private:
    PartSegments* owner_;
    std::size_t piece_;
  };

  bool Write(std::size_t piece, const char* data, std::size_t size) {
    if (Abandoned()) return false;
    const std::uint64_t at = pieces_[piece].begin + written_[piece];
    if (!WriteAt(at, data, size)) {
      writeFailed_ = true;
      diskFull_ = NoRoomLeft(::GetLastError());
      return false;
    }
    written_[piece] += size;
    // The segment at the in-order end feeds the check from memory.
    if (at == checked_) {
      if (!check_->OnBody(data, size)) {
        checkStopped_ = true;
        return false;
      }
      checked_ += size;
    }
    if (::GetTickCount64() - lastRecordMs_ >= kRecordPeriodMs) SaveRecord();
    return true;
  }

  bool WriteAt(std::uint64_t at, const char* data, std::size_t size) {
    while (size != 0) {
      OVERLAPPED position{};
      position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
      position.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
      DWORD written = 0;
      if (!::WriteFile(file_, data, want, &written, &position) || written == 0) return false;
      data += written;
      size -= written;
      at += written;
    }
    return true;
  }

  bool ReadAt(std::uint64_t at, char* data, DWORD size) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    return ::ReadFile(file_, data, size, &read, &position) && read == size;
  }

  HANDLE file_;
  const PartFiles& part_;
  BodyCheck* check_;
  ByteSpans kept_;
  ByteSpans pieces_;
  std::vector<std::uint64_t> written_;
  std::vector<Sink> sinks_;
  std::unique_ptr<char[]> buffer_;
  std::uint64_t checked_ = 0;  // the check has seen every byte before this
  ULONGLONG lastRecordMs_ = 0;
  bool ignored_ = false;
  bool otherAnswer_ = false;
  std::int32_t otherStatus_ = 0;
  bool writeFailed_ = false;
  bool diskFull_ = false;
  bool readFailed_ = false;
  bool checkStopped_ = false;
  TransferFailure failure_ = TransferFailure::None;
  std::int32_t status_ = 0;
};

// Segments write far ahead of the part's end: on a file system that fills
// the gap with zeros first (NTFS without the sparse attribute) that would
// cost a write of the whole gap. Where the attribute is not taken, the gap
// just costs that write.
void MakeSparse(HANDLE file) {
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

}  // namespace

bool SegmentsWanted(const char* localPath, const PartFiles& part, const TransferLimits& limits) {
  if (!part.expected.hasDigest || !part.expected.hasSize) return false;
  if (FetchInSegments(part.expected.size, limits.connections)) return true;
  // A part that segments began is theirs to finish, on one connection if need be.
  std::uint64_t partSize = 0;
  if (!base::FileSize(localPath, &partSize)) return false;
  const std::string text = ReadRecord(part.recordPath);
  ByteSpans done;
  return ParseSegmentRecord(text.data(), text.size(), part.expected.digest, part.expected.size, &done) ==
         PartRecordKind::Segments;
}

SegmentedAttempt FetchPartInSegments(const char* localPath, const char* url, progress::ProgressTargets* progress,
                                     const TransferLimits& limits, const PartFiles& part, BodyCheck* check) {
  SegmentedAttempt attempt;
  const std::uint64_t size = part.expected.size;
  const ByteSpans kept = KeptSpans(localPath, part);
  const std::uint64_t keptBytes = SpanBytes(kept);
  attempt.resumed = keptBytes != 0;

  base::UniqueHandle file(::CreateFileA(localPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    WriteLog("Failed to open %s\n", localPath);
    return attempt;
  }
  MakeSparse(file.Get());
  const ByteSpans pieces = CutIntoSegments(MissingSpans(kept, size), limits.connections);
  PartSegments segments(file.Get(), part, check, kept, pieces);
  // Before the first byte lands in place: from here on only the record says
  // which bytes the part holds.
  if (!segments.SaveRecord()) {
    WriteLog("Failed to open %s\n", part.recordPath);
    return attempt;
  }
  if (attempt.resumed)
    WriteLog("Resuming (%s) at %llu of %llu bytes\n", url, static_cast<unsigned long long>(keptBytes),
             static_cast<unsigned long long>(size));
  segments.ReadBackInOrder();

  if (!pieces.empty() && !segments.Abandoned()) {
    RangeFetcher fetcher(url, size, limits);
    RangeProgress shown;
    shown.targets = progress;
    shown.done = keptBytes;
    shown.total = size;
    fetcher.FetchAll(segments, shown);
  }
  segments.ReadBackInOrder();
  segments.SaveRecord();

  if (progress != nullptr && progress->stop.Requested()) {
    attempt.outcome = SegmentedOutcome::Stopped;
  } else if (segments.WriteFailed()) {
    LogTransferFailure(url, CURLE_WRITE_ERROR);
    if (segments.DiskFull()) {
      WriteLog("Disk full while writing %s: what arrived is kept\n", localPath);
      attempt.outcome = SegmentedOutcome::DiskFull;
    } else {
      attempt.outcome = SegmentedOutcome::Failed;
      attempt.failure = TransferFailure::Permanent;
    }
  } else if (segments.ReadFailed()) {
    WriteLog("Failed to read %s\n", localPath);
    attempt.outcome = SegmentedOutcome::Failed;
    attempt.failure = TransferFailure::Permanent;
  } else if (segments.Ignored()) {
    attempt.outcome = SegmentedOutcome::RangesIgnored;
  } else if (segments.OtherAnswer()) {
    attempt.outcome = SegmentedOutcome::OtherAnswer;
    attempt.status = segments.OtherStatus();
  } else if (segments.Failure() != TransferFailure::None) {
    attempt.outcome = SegmentedOutcome::Failed;
    attempt.failure = segments.Failure();
    attempt.status = segments.Status();
  } else if (segments.CheckStopped()) {
    attempt.outcome = SegmentedOutcome::Complete;  // the check's verdict says what it found
  } else {
    attempt.outcome = SegmentedOutcome::Complete;
    if (segments.Checked() != size) {
      attempt.outcome = SegmentedOutcome::Failed;
      attempt.failure = TransferFailure::BodyShort;
    }
  }
  return attempt;
}

}  // namespace update
