#include "update/install/zip_local_header.h"

#include <initializer_list>

namespace update {

namespace {

std::uint64_t Little(const char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}

std::uint16_t Little16(const char* at) { return static_cast<std::uint16_t>(Little(at, 2)); }
std::uint32_t Little32(const char* at) { return static_cast<std::uint32_t>(Little(at, 4)); }

constexpr std::size_t kBlockHeaderSize = 4;   // id, size
constexpr std::size_t kBothZip64Sizes = 16;   // uncompressed, compressed

}  // namespace

bool FindZipExtraField(std::string_view extra, std::uint16_t id, std::string_view* field) {
  for (std::size_t at = 0; extra.size() - at >= kBlockHeaderSize;) {
    const std::uint16_t blockId = Little16(extra.data() + at);
    const std::size_t size = Little16(extra.data() + at + 2);
    at += kBlockHeaderSize;
    if (size > extra.size() - at) return false;
    if (blockId == id) {
      *field = extra.substr(at, size);
      return true;
    }
    at += size;
  }
  return false;
}

bool ParseZipLocalHeader(const char* data, std::size_t size, ZipLocalHeader* out) {
  if (data == nullptr || size < kZipLocalHeaderFixedSize || Little32(data) != kZipLocalHeaderSignature) return false;
  ZipLocalHeader header;
  header.versionNeeded = Little16(data + 4);
  header.flags = Little16(data + 6);
  header.method = Little16(data + 8);
  header.time = Little16(data + 10);
  header.date = Little16(data + 12);
  header.crc = Little32(data + 14);
  const std::uint32_t compressed32 = Little32(data + 18);
  const std::uint32_t uncompressed32 = Little32(data + 22);
  header.nameLength = Little16(data + 26);
  header.extraLength = Little16(data + 28);
  header.headerSize = kZipLocalHeaderFixedSize + header.nameLength + header.extraLength;
  if (size < header.headerSize) return false;
  header.name = std::string_view(data + kZipLocalHeaderFixedSize, header.nameLength);
  header.extra = std::string_view(data + kZipLocalHeaderFixedSize + header.nameLength, header.extraLength);

  // Every block must lie inside the extra field, whatever its id.
  for (std::size_t at = 0; header.extra.size() - at >= kBlockHeaderSize;) {
    const std::size_t blockSize = Little16(header.extra.data() + at + 2);
    at += kBlockHeaderSize;
    if (blockSize > header.extra.size() - at) return false;
    at += blockSize;
  }
  std::string_view zip64;
  header.hasZip64Field = FindZipExtraField(header.extra, kZip64FieldId, &zip64);
  header.compressedSize = compressed32;
  header.uncompressedSize = uncompressed32;
  const bool uncompressedMarked = uncompressed32 == kZip64Marker;
  const bool compressedMarked = compressed32 == kZip64Marker;
  if (uncompressedMarked || compressedMarked) {
    if (!header.hasZip64Field) return false;
    if (zip64.size() >= kBothZip64Sizes) {
      if (uncompressedMarked) header.uncompressedSize = Little(zip64.data(), 8);
      if (compressedMarked) header.compressedSize = Little(zip64.data() + 8, 8);
    } else {
      std::size_t at = 0;
      if (uncompressedMarked) {
        if (zip64.size() - at < 8) return false;
        header.uncompressedSize = Little(zip64.data() + at, 8);
        at += 8;
      }
      if (compressedMarked) {
        if (zip64.size() - at < 8) return false;
        header.compressedSize = Little(zip64.data() + at, 8);
      }
    }
  }
  *out = header;
  return true;
}

bool MatchZipDataDescriptor(const char* data, std::size_t size, bool zip64Sizes, const ZipDataFacts& facts,
                            std::size_t* length) {
  if (data == nullptr) return false;
  const int sizeBytes = zip64Sizes ? 8 : 4;
  for (const bool signature : {true, false}) {
    const std::size_t wanted = kZipDataDescriptorLengths[zip64Sizes ? 1 : 0][signature ? 0 : 1];
    if (size < wanted) continue;
    const char* at = data;
    if (signature) {
      if (Little32(at) != kZipDataDescriptorSignature) continue;
      at += 4;
    }
    if (Little32(at) != facts.crc || Little(at + 4, sizeBytes) != facts.compressedSize ||
        Little(at + 4 + sizeBytes, sizeBytes) != facts.uncompressedSize)
      continue;
    *length = wanted;
    return true;
  }
  return false;
}

}  // namespace update
