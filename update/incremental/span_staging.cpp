#include "update/incremental/span_staging.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/make_directory.h"
#include "base/new_file.h"
#include "update/incremental/checked_output.h"
#include "update/install/commit_journal.h"
#include "update/install/zip_local_header.h"

namespace update {

namespace {

constexpr std::size_t kPieceSize = 256 * 1024;

bool SameDigest(const Sha256Digest& a, const unsigned char (&b)[Sha256::kDigestBytes]) {
  return std::memcmp(a.bytes, b, sizeof a.bytes) == 0;
}

// The span read back in order, from memory or from its spill file.
class SpanReader {
 public:
  SpanReader(const std::string& memory, FILE* spill) : memory_(memory), spill_(spill) {
    if (spill_ != nullptr) std::rewind(spill_);
  }
  // Up to `size` bytes; 0 at the end or on a read error (Failed tells which).
  std::size_t Read(char* out, std::size_t size) {
    if (spill_ != nullptr) {
      const std::size_t n = std::fread(out, 1, size, spill_);
      failure_ = failure_ || (n < size && std::ferror(spill_) != 0);
      return n;
    }
    const std::size_t n = std::min(size, memory_.size() - at_);
    std::memcpy(out, memory_.data() + at_, n);
    at_ += n;
    return n;
  }
  bool ReadExactly(char* out, std::size_t size) { return Read(out, size) == size; }
  bool Failed() const { return failure_; }

 private:
  const std::string& memory_;
  FILE* spill_;
  std::size_t at_ = 0;
  bool failure_ = false;
};

struct InflateGuard {
  z_stream stream{};
  bool ready = false;
  ~InflateGuard() {
    if (ready) inflateEnd(&stream);
  }
};

}  // namespace

std::string StagedEntryPath(const std::string& directory, std::size_t index, bool makeFolder) {
  std::string name = StagedFileName(static_cast<std::uint32_t>(index));
  const std::size_t separator = name.find('\\');
  std::string folder = directory + "/" + name.substr(0, separator);
  if (makeFolder) base::MakeDirectory(folder.c_str());
  return folder + "/" + name.substr(separator + 1);
}

SpanStager::SpanStager(const ManifestEntry& entry, std::string stagedPath)
    : entry_(entry), stagedPath_(std::move(stagedPath)) {}

SpanStager::~SpanStager() {
  if (spill_) {
    spill_.Reset();
    std::remove((stagedPath_ + ".raw").c_str());
  }
}

bool SpanStager::Add(const char* data, std::size_t size) {
  if (failure_ != SpanOutcome::Staged) return false;
  if (size > entry_.spanLength - received_) {
    failure_ = SpanOutcome::SpanWrong;  // more bytes than the span holds
    return false;
  }
  received_ += size;
  hash_.Update(data, size);
  if (!spill_ && memory_.size() + size > kSpanMemoryLimit) {
    spill_.Reset(std::fopen((stagedPath_ + ".raw").c_str(), "w+b"));
    if (!spill_ || std::fwrite(memory_.data(), 1, memory_.size(), spill_.Get()) != memory_.size()) {
      failure_ = SpanOutcome::WriteFailed;
      return false;
    }
    std::string().swap(memory_);
  }
  if (spill_) {
    if (std::fwrite(data, 1, size, spill_.Get()) != size) {
      failure_ = SpanOutcome::WriteFailed;
      return false;
    }
  } else {
    memory_.append(data, size);
  }
  return true;
}

SpanOutcome SpanStager::Finish() {
  if (failure_ != SpanOutcome::Staged) return failure_;
  unsigned char digest[Sha256::kDigestBytes];
  hash_.Final(digest);
  if (received_ != entry_.spanLength || !SameDigest(entry_.spanSha256, digest)) return SpanOutcome::SpanWrong;
  if (spill_ && std::fflush(spill_.Get()) != 0) return SpanOutcome::WriteFailed;
  const SpanOutcome outcome = Inflate();
  memory_.clear();
  return outcome;
}

SpanOutcome SpanStager::Inflate() {
  SpanReader span(memory_, spill_.Get());
  // The fixed part says how long the name and the extra field are; the
  // whole header is then read and parsed.
  std::string headerBytes(kZipLocalHeaderFixedSize, '\0');
  if (!span.ReadExactly(&headerBytes[0], headerBytes.size())) return SpanOutcome::EntryWrong;
  auto le16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(headerBytes[at])) |
           (static_cast<std::size_t>(static_cast<unsigned char>(headerBytes[at + 1])) << 8);
  };
  const std::size_t variable = le16(26) + le16(28);
  headerBytes.resize(kZipLocalHeaderFixedSize + variable);
  ZipLocalHeader header;
  if (!span.ReadExactly(&headerBytes[kZipLocalHeaderFixedSize], variable) ||
      !ParseZipLocalHeader(headerBytes.data(), headerBytes.size(), &header) || header.name != entry_.storedName ||
      (header.method != 0 && header.method != Z_DEFLATED))
    return SpanOutcome::EntryWrong;

  const std::string partPath = stagedPath_ + ".part";
  base::UniqueFile file(base::OpenNewFile(partPath.c_str()));
  if (!file) return SpanOutcome::WriteFailed;
  CheckedOutput out;
  out.file = file.Get();
  auto input = std::make_unique<char[]>(kPieceSize);
  auto output = std::make_unique<char[]>(kPieceSize);
  bool dataGood = true;
  if (header.method == 0) {
    std::uint64_t left = entry_.size;
    while (left != 0 && dataGood) {
      const std::size_t want = left < kPieceSize ? static_cast<std::size_t>(left) : kPieceSize;
      dataGood = span.ReadExactly(input.get(), want);
      if (dataGood && !out.Write(input.get(), want)) return SpanOutcome::WriteFailed;
      left -= want;
    }
  } else {
    InflateGuard inflater;
    if (inflateInit2(&inflater.stream, -MAX_WBITS) != Z_OK) return SpanOutcome::WriteFailed;
    inflater.ready = true;
    int status = Z_OK;
    while (status != Z_STREAM_END && dataGood) {
      if (inflater.stream.avail_in == 0) {
        const std::size_t n = span.Read(input.get(), kPieceSize);
        if (n == 0) {
          dataGood = false;  // the span ended inside the deflate stream
          break;
        }
        inflater.stream.next_in = reinterpret_cast<Bytef*>(input.get());
        inflater.stream.avail_in = static_cast<uInt>(n);
      }
      inflater.stream.next_out = reinterpret_cast<Bytef*>(output.get());
      inflater.stream.avail_out = static_cast<uInt>(kPieceSize);
      status = inflate(&inflater.stream, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) dataGood = false;
      const std::size_t produced = kPieceSize - inflater.stream.avail_out;
      if (produced != 0 && !out.Write(output.get(), produced)) return SpanOutcome::WriteFailed;
      if (out.size > entry_.size) dataGood = false;  // more than the entry holds
    }
  }
  if (span.Failed()) return SpanOutcome::WriteFailed;
  if (!file.Close()) {
    std::remove(partPath.c_str());
    return SpanOutcome::WriteFailed;
  }
  unsigned char digest[Sha256::kDigestBytes];
  out.hash.Final(digest);
  if (!dataGood || out.size != entry_.size || out.crc != entry_.crc || !SameDigest(entry_.sha256, digest)) {
    std::remove(partPath.c_str());
    return SpanOutcome::EntryWrong;
  }
  std::remove(stagedPath_.c_str());
  if (std::rename(partPath.c_str(), stagedPath_.c_str()) != 0) {
    std::remove(partPath.c_str());
    return SpanOutcome::WriteFailed;
  }
  return SpanOutcome::Staged;
}

RangeStager::RangeStager(const Manifest& manifest, const FetchRange& range, std::string directory)
    : manifest_(manifest), range_(range), directory_(std::move(directory)), position_(range.offset) {}

RangeStager::~RangeStager() = default;

bool RangeStager::EndCurrent() {
  const ManifestEntry& entry = manifest_.entries[range_.entries[next_]];
  outcome_ = current_->Finish();
  current_.reset();
  if (outcome_ != SpanOutcome::Staged) {
    failedName_ = entry.storedName;
    return false;
  }
  ++staged_;
  ++next_;
  return true;
}

bool RangeStager::OnBody(const char* data, std::size_t size) {
  if (outcome_ != SpanOutcome::Staged) return false;
  while (size != 0) {
    if (next_ == range_.entries.size()) {
      // Past the last span: a range carries nothing more.
      outcome_ = SpanOutcome::SpanWrong;
      return false;
    }
    const ManifestEntry& entry = manifest_.entries[range_.entries[next_]];
    if (position_ < entry.spanOffset) {  // a gap between two spans
      const std::uint64_t gap = entry.spanOffset - position_;
      const std::size_t skip = gap < size ? static_cast<std::size_t>(gap) : size;
      position_ += skip;
      data += skip;
      size -= skip;
      continue;
    }
    if (!current_) current_ = std::make_unique<SpanStager>(entry, StagedEntryPath(directory_, range_.entries[next_], true));
    const std::uint64_t left = entry.spanOffset + entry.spanLength - position_;
    const std::size_t take = left < size ? static_cast<std::size_t>(left) : size;
    if (!current_->Add(data, take)) {
      outcome_ = current_->Finish();
      failedName_ = entry.storedName;
      current_.reset();
      return false;
    }
    position_ += take;
    data += take;
    size -= take;
    if (current_->Complete() && !EndCurrent()) return false;
  }
  return true;
}

SpanOutcome RangeStager::Finish() {
  if (outcome_ != SpanOutcome::Staged) return outcome_;
  if (next_ != range_.entries.size()) {
    // The transfer ended inside or before a span.
    failedName_ = manifest_.entries[range_.entries[next_]].storedName;
    current_.reset();
    return outcome_ = SpanOutcome::SpanWrong;
  }
  return SpanOutcome::Staged;
}

}  // namespace update
