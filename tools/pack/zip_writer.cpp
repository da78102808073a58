#include "tools/pack/zip_writer.h"

#include <zip.h>
#include <zlib.h>
#ifdef _WIN32
#include <iowin32.h>
#endif

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "base/crc32.h"

namespace pack {

namespace fs = std::filesystem;

namespace {

// Closes the archive on every path out; Close() reports whether the central
// directory was written.
class ZipArchive {
 public:
  explicit ZipArchive(const fs::path& path) {
#ifdef _WIN32
    // Wide file functions, so that any output folder name works.
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zip_ = zipOpen2_64(path.wstring().c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
#else
    zip_ = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
#endif
  }
  ~ZipArchive() {
    if (zip_ != nullptr) zipClose(zip_, nullptr);
  }
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  zipFile get() const { return zip_; }
  bool Close() {
    int rc = zipClose(zip_, nullptr);
    zip_ = nullptr;
    return rc == ZIP_OK;
  }

 private:
  zipFile zip_ = nullptr;
};

zip_fileinfo FixedInfo(unsigned long attributes) {
  zip_fileinfo info{};
  info.tmz_date.tm_year = 2020;  // 2020-01-01 00:00:00 for every entry
  info.tmz_date.tm_mon = 0;
  info.tmz_date.tm_mday = 1;
  info.dosDate = 0;  // 0: take the date from tmz_date
  info.external_fa = attributes;
  return info;
}

// The running deflate stream of one chunked file, its output written to the
// entry as raw data.
class ChunkedDeflate {
 public:
  ChunkedDeflate() { ready_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                                           Z_DEFAULT_STRATEGY) == Z_OK; }
  ~ChunkedDeflate() {
    if (ready_) deflateEnd(&stream_);
  }
  ChunkedDeflate(const ChunkedDeflate&) = delete;
  ChunkedDeflate& operator=(const ChunkedDeflate&) = delete;
  bool Ready() const { return ready_; }
  std::uint64_t In() const { return read_; }  // zlib's own totals are 32 bits wide on Windows
  std::uint64_t Out() const { return written_; }

  // Deflates `size` bytes with `flush`, writing whatever comes out.
  bool Put(zipFile zip, const unsigned char* data, std::size_t size, int flush) {
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    read_ += size;
    for (;;) {
      stream_.next_out = output_;
      stream_.avail_out = sizeof output_;
      const int rc = deflate(&stream_, flush);
      if (rc == Z_STREAM_ERROR) return false;
      const std::size_t produced = sizeof output_ - stream_.avail_out;
      if (produced != 0 && zipWriteInFileInZip(zip, output_, static_cast<unsigned>(produced)) != ZIP_OK) return false;
      written_ += produced;
      if (flush == Z_FINISH ? rc == Z_STREAM_END : (stream_.avail_in == 0 && stream_.avail_out != 0)) return true;
    }
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  std::uint64_t read_ = 0;
  std::uint64_t written_ = 0;
  Bytef output_[1 << 16];
};

// A file deflated by the pack tool itself, so that every chunk boundary ends
// with Z_FULL_FLUSH: minizip takes the bytes raw, with the file's CRC-32 and
// size. A boundary found at the file's very end is not flushed there: the
// last chunk ends with the stream's final block instead.
bool WriteChunkedData(zipFile zip, std::ifstream& in, std::vector<update::ManifestChunk>* chunks, std::uint32_t* crc,
                      std::uint64_t* size, bool* readFailed) {
  auto deflater = std::make_unique<ChunkedDeflate>();
  if (!deflater->Ready()) return false;
  ChunkCutter cutter;
  update::ManifestChunk chunk;
  auto endChunk = [&] {
    chunk.length = deflater->In() - chunk.offset;
    chunk.dataLength = deflater->Out() - chunk.dataOffset;
    chunks->push_back(chunk);
    chunk.offset = deflater->In();
    chunk.dataOffset = deflater->Out();
  };
  bool cutPending = false;
  std::vector<char> buffer(1 << 16);
  *crc = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    const unsigned char* at = reinterpret_cast<const unsigned char*>(buffer.data());
    *crc = base::Crc32(*crc, at, got);
    for (std::size_t left = got; left != 0;) {
      if (cutPending) {
        if (!deflater->Put(zip, nullptr, 0, Z_FULL_FLUSH)) return false;
        endChunk();
        cutPending = false;
      }
      bool cut = false;
      const std::size_t n = cutter.Scan(at, left, &cut);
      if (!deflater->Put(zip, at, n, Z_NO_FLUSH)) return false;
      cutPending = cut;
      at += n;
      left -= n;
    }
  }
  *readFailed = in.bad();
  if (*readFailed || !deflater->Put(zip, nullptr, 0, Z_FINISH)) return false;
  endChunk();
  *size = deflater->In();
  return true;
}

bool AddChunkedEntry(zipFile zip, const PackEntry& entry, std::vector<update::ManifestChunk>* chunks,
                     std::string* error) {
  const zip_fileinfo info = FixedInfo(kFileAttributes);
  const int zip64 = NeedsZip64Sizes(entry.size) ? 1 : 0;
  int rc = zipOpenNewFileInZip4_64(zip, entry.storedName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                   Z_BEST_COMPRESSION, /*raw=*/1, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                   nullptr, 0, 0, 0, zip64);
  if (rc != ZIP_OK) {
    *error = entry.name + ": cannot add to the archive (minizip " + std::to_string(rc) + ")";
    return false;
  }
  std::ifstream in(entry.source, std::ios::binary);
  if (!in) {
    zipCloseFileInZipRaw64(zip, 0, 0);
    *error = entry.name + ": cannot be read";
    return false;
  }
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  bool readFailed = false;
  if (!WriteChunkedData(zip, in, chunks, &crc, &size, &readFailed)) {
    zipCloseFileInZipRaw64(zip, 0, 0);
    *error = entry.name + (readFailed ? ": read error" : ": cannot be written to the archive");
    return false;
  }
  if (zipCloseFileInZipRaw64(zip, size, crc) != ZIP_OK) {
    *error = entry.name + ": cannot finish the entry";
    return false;
  }
  return true;
}

bool AddEntry(zipFile zip, const PackEntry& entry, std::string* error) {
  const zip_fileinfo info = FixedInfo(entry.isDirectory ? kDirectoryAttributes : kFileAttributes);
  const int method = entry.isDirectory ? 0 : Z_DEFLATED;
  const int level = entry.isDirectory ? 0 : Z_BEST_COMPRESSION;
  // Flag 0: the names are code page 936, not UTF-8.
  const int zip64 = NeedsZip64Sizes(entry.size) ? 1 : 0;
  int rc = zipOpenNewFileInZip4_64(zip, entry.storedName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   method, level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                   nullptr, 0, 0, 0, zip64);
  if (rc != ZIP_OK) {
    *error = entry.name + ": cannot add to the archive (minizip " + std::to_string(rc) + ")";
    return false;
  }
  if (!entry.isDirectory) {
    std::ifstream in(entry.source, std::ios::binary);
    if (!in) {
      zipCloseFileInZip(zip);
      *error = entry.name + ": cannot be read";
      return false;
    }
    std::vector<char> buffer(1 << 16);
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      const std::streamsize got = in.gcount();
      if (got > 0 && zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(got)) != ZIP_OK) {
        zipCloseFileInZip(zip);
        *error = entry.name + ": cannot be written to the archive";
        return false;
      }
    }
    if (in.bad()) {
      zipCloseFileInZip(zip);
      *error = entry.name + ": read error";
      return false;
    }
  }
  if (zipCloseFileInZip(zip) != ZIP_OK) {
    *error = entry.name + ": cannot finish the entry";
    return false;
  }
  return true;
}

}  // namespace

bool NeedsZip64Sizes(std::uintmax_t size) {
  // Deflate can make incompressible data slightly larger: at most 5 bytes per
  // stored block of 16 KiB and more, well below zlib's own bound used here. A
  // size that could compress to 4 GiB or more needs the local header's zip64
  // field, which cannot be added once the entry's data is written.
  constexpr std::uintmax_t kLimit = 0xFFFFFFFFull;
  if (size >= kLimit) return true;
  const std::uintmax_t bound = size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
  return bound >= kLimit;
}

bool WriteClientArchive(const fs::path& archive, const std::vector<PackEntry>& entries, std::string* error,
                        ChunkLayout* layout, std::uint64_t chunkedFileBytes) {
  ChunkLayout written;
  bool ok = false;
  {
    ZipArchive zip(archive);
    if (zip.get() == nullptr) {
      *error = archive.u8string() + ": cannot be created";
      return false;
    }
    ok = true;
    for (const PackEntry& entry : entries) {
      const bool chunked = !entry.isDirectory && entry.size >= chunkedFileBytes;
      const bool added = chunked ? AddChunkedEntry(zip.get(), entry, &written[entry.storedName], error)
                                 : AddEntry(zip.get(), entry, error);
      if (!added) {
        ok = false;
        break;
      }
    }
    if (!zip.Close() && ok) {
      *error = archive.u8string() + ": cannot write the archive's directory";
      ok = false;
    }
  }
  if (!ok) {
    std::error_code ignored;
    fs::remove(archive, ignored);
  } else if (layout != nullptr) {
    *layout = std::move(written);
  }
  return ok;
}

}  // namespace pack
