// Extra field blocks for the archives the tests write: a block of any id, and
// the Info-ZIP Unicode Path field (0x7075) that names an entry in UTF-8 beside
// the header's stored name. Header-only, for the native and the Windows tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace testing_zip {

inline std::string Little16(unsigned value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

// One block: id, size, data.
inline std::string ExtraBlock(unsigned id, const std::string& data) {
  return Little16(id) + Little16(static_cast<unsigned>(data.size())) + data;
}

// zlib's CRC-32, the one the field's check is made with.
inline std::uint32_t ZlibCrc32(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// The Unicode Path field: version, CRC-32 of the header's stored name, the UTF-8 name.
inline std::string UnicodePathField(const std::string& utf8, std::uint32_t storedNameCrc, char version = 1) {
  std::string data(1, version);
  for (int i = 0; i < 4; ++i) data += static_cast<char>((storedNameCrc >> (8 * i)) & 0xFF);
  return ExtraBlock(0x7075, data + utf8);
}

// The field as an archiver writes it for `storedName`: its CRC matches.
inline std::string UnicodePathFieldFor(const std::string& storedName, const std::string& utf8) {
  return UnicodePathField(utf8, ZlibCrc32(storedName));
}

}  // namespace testing_zip
