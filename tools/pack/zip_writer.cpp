#include "tools/pack/zip_writer.h"

#include <zip.h>
#ifdef _WIN32
#include <iowin32.h>
#endif

#include <cstdio>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

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

bool WriteClientArchive(const fs::path& archive, const std::vector<PackEntry>& entries, std::string* error) {
  bool ok = false;
  {
    ZipArchive zip(archive);
    if (zip.get() == nullptr) {
      *error = archive.u8string() + ": cannot be created";
      return false;
    }
    ok = true;
    for (const PackEntry& entry : entries) {
      if (!AddEntry(zip.get(), entry, error)) {
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
  }
  return ok;
}

}  // namespace pack
