#include "tests/support/sparse_zip.h"

#include <zlib.h>

#include <cstdio>
#include <memory>

#include "base/stream_position.h"
#include "base/unique_file.h"

namespace testing_zip {

namespace {

constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxClassicEntries = 0xFFFF;

class Bytes {
 public:
  void U16(std::uint32_t v) { Put(v, 2); }
  void U32(std::uint32_t v) { Put(v, 4); }
  void U64(std::uint64_t v) { Put(v, 8); }
  void Text(const std::string& s) { bytes_ += s; }
  const std::string& Get() const { return bytes_; }

 private:
  void Put(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  std::string bytes_;
};

std::uint32_t Clamp32(std::uint64_t v) { return v >= kMax32 ? kMax32 : static_cast<std::uint32_t>(v); }

bool Deflate(const std::string& in, std::string* out) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(deflateBound(&z, static_cast<uLong>(in.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
  z.avail_out = static_cast<uInt>(out->size());
  const int rc = deflate(&z, Z_FINISH);
  out->resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END;
}

struct Written {
  std::uint32_t crc = 0;
  std::uint64_t compressed = 0;
  std::uint64_t uncompressed = 0;
  std::uint64_t offset = 0;
  bool zip64Local = false;
};

}  // namespace

std::uint32_t Crc32OfZeros(std::uint64_t count) {
  constexpr std::size_t kBlock = 1u << 20;
  static const std::unique_ptr<unsigned char[]> zeros = std::make_unique<unsigned char[]>(kBlock);
  const uLong blockCrc = crc32(0, zeros.get(), kBlock);
  uLong crc = 0;
  for (; count >= kBlock; count -= kBlock) crc = crc32_combine(crc, blockCrc, static_cast<long>(kBlock));
  return static_cast<std::uint32_t>(crc32(crc, zeros.get(), static_cast<uInt>(count)));
}

bool WriteSparseZip(const std::string& path, const std::vector<SparseEntry>& entries, SparseZipFacts* facts) {
  base::UniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  std::uint64_t at = 0;
  auto write = [&](const std::string& bytes) {
    if (bytes.empty()) return true;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.Get()) != bytes.size()) return false;
    at += bytes.size();
    return true;
  };
  std::vector<Written> written;
  for (const SparseEntry& e : entries) {
    Written w;
    w.offset = at;
    std::string payload;
    if (e.zeros != 0) {
      w.uncompressed = w.compressed = e.zeros;
      w.crc = Crc32OfZeros(e.zeros);
    } else {
      w.uncompressed = e.data.size();
      w.crc = static_cast<std::uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
      if (e.deflated) {
        if (!Deflate(e.data, &payload)) return false;
      } else {
        payload = e.data;
      }
      w.compressed = payload.size();
    }
    w.zip64Local = w.uncompressed >= kMax32 || w.compressed >= kMax32;
    Bytes local;
    local.U32(0x04034b50);
    local.U16(w.zip64Local ? 45 : 20);
    local.U16(e.flags);
    local.U16(e.deflated ? 8 : 0);
    local.U16(0);       // time 00:00
    local.U16(0x5021);  // 2020-01-01
    local.U32(w.crc);
    local.U32(w.zip64Local ? kMax32 : static_cast<std::uint32_t>(w.compressed));
    local.U32(w.zip64Local ? kMax32 : static_cast<std::uint32_t>(w.uncompressed));
    local.U16(static_cast<std::uint32_t>(e.name.size()));
    local.U16(w.zip64Local ? 20 : 0);
    local.Text(e.name);
    if (w.zip64Local) {
      local.U16(1);
      local.U16(16);
      local.U64(w.uncompressed);
      local.U64(w.compressed);
    }
    if (!write(local.Get()) || !write(payload)) return false;
    if (e.zeros != 0) {
      // A hole: the next write extends the file past it.
      if (!base::SeekBy(file.Get(), static_cast<std::int64_t>(e.zeros), base::SeekOrigin::Current)) return false;
      at += e.zeros;
    }
    written.push_back(w);
  }

  const std::uint64_t directoryOffset = at;
  Bytes directory;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SparseEntry& e = entries[i];
    const Written& w = written[i];
    Bytes extra;
    if (w.uncompressed >= kMax32) extra.U64(w.uncompressed);
    if (w.compressed >= kMax32) extra.U64(w.compressed);
    if (w.offset >= kMax32) extra.U64(w.offset);
    const std::string fields = extra.Get();
    const bool zip64 = !fields.empty();
    directory.U32(0x02014b50);
    directory.U16(zip64 || w.zip64Local ? 45 : 20);
    directory.U16(zip64 || w.zip64Local ? 45 : 20);
    directory.U16(e.flags);
    directory.U16(e.deflated ? 8 : 0);
    directory.U16(0);
    directory.U16(0x5021);
    directory.U32(w.crc);
    directory.U32(Clamp32(w.compressed));
    directory.U32(Clamp32(w.uncompressed));
    directory.U16(static_cast<std::uint32_t>(e.name.size()));
    directory.U16(zip64 ? static_cast<std::uint32_t>(fields.size() + 4) : 0);
    directory.U16(0);  // comment
    directory.U16(0);  // disk
    directory.U16(0);  // internal attributes
    directory.U32(e.attributes);
    directory.U32(Clamp32(w.offset));
    directory.Text(e.name);
    if (zip64) {
      directory.U16(1);
      directory.U16(static_cast<std::uint32_t>(fields.size()));
      directory.Text(fields);
    }
  }
  const std::uint64_t directorySize = directory.Get().size();
  if (!write(directory.Get())) return false;

  const std::uint64_t count = entries.size();
  Bytes end;
  if (directoryOffset >= kMax32 || count > kMaxClassicEntries) {
    const std::uint64_t zip64EndOffset = at;
    end.U32(0x06064b50);
    end.U64(44);
    end.U16(45);
    end.U16(45);
    end.U32(0);
    end.U32(0);
    end.U64(count);
    end.U64(count);
    end.U64(directorySize);
    end.U64(directoryOffset);
    end.U32(0x07064b50);
    end.U32(0);
    end.U64(zip64EndOffset);
    end.U32(1);
  }
  end.U32(0x06054b50);
  end.U16(0);
  end.U16(0);
  end.U16(count >= kMaxClassicEntries ? 0xFFFF : static_cast<std::uint32_t>(count));
  end.U16(count >= kMaxClassicEntries ? 0xFFFF : static_cast<std::uint32_t>(count));
  end.U32(Clamp32(directorySize));
  end.U32(Clamp32(directoryOffset));
  end.U16(0);
  if (!write(end.Get()) || !file.Close()) return false;
  if (facts != nullptr) {
    facts->size = at;
    facts->localHeaderOffsets.clear();
    for (const Written& w : written) facts->localHeaderOffsets.push_back(w.offset);
  }
  return true;
}

}  // namespace testing_zip
