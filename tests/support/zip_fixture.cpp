#include "tests/support/zip_fixture.h"

#include <zip.h>
#include <zlib.h>

namespace testing_zip {

namespace {

zip_fileinfo InfoWith(std::uint32_t attributes) {
  zip_fileinfo info = {};
  info.external_fa = attributes;
  return info;
}

}  // namespace

bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (const ZipEntry& e : entries) {
    const zip_fileinfo info = InfoWith(e.attributes);
    const uInt extraSize = static_cast<uInt>(e.extra.size());
    ok = ok && zipOpenNewFileInZip4_64(zip, e.name.c_str(), &info, e.extra.data(), extraSize, e.extra.data(),
                                       extraSize, nullptr, e.stored ? 0 : Z_DEFLATED,
                                       e.stored ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                       Z_DEFAULT_STRATEGY, nullptr, 0, 0, e.flags, 0) == ZIP_OK;
    ok = ok && (e.data.empty() ||
                zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK);
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

bool WriteDeclaredZip(const std::string& path, const std::vector<DeclaredEntry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (const DeclaredEntry& e : entries) {
    const zip_fileinfo info = InfoWith(0x20);
    // Raw mode: minizip writes the data it is given (none) and records the
    // size and CRC it is told.
    ok = ok && zipOpenNewFileInZip2_64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1, 0) ==
                   ZIP_OK;
    ok = ok && zipCloseFileInZipRaw64(zip, e.size, e.crc) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

}  // namespace testing_zip
