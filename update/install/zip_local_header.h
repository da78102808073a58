// The local file header that starts every entry's bytes in a ZIP archive, and
// the data descriptor that may follow the entry's data, read from a byte
// buffer: what a range of archive bytes holds once it is fetched on its own,
// without the central directory. Never reads past the buffer. Pure: no
// windows.h.
//
// An entry's bytes, its span, are:
//   local header (30 bytes) | name | extra | compressed data | data descriptor (flag bit 3 only)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace update {

constexpr std::uint32_t kZipLocalHeaderSignature = 0x04034b50;
constexpr std::size_t kZipLocalHeaderFixedSize = 30;  // up to the name
constexpr std::uint32_t kZipDataDescriptorSignature = 0x08074b50;
// General-purpose bit 3: the CRC-32 and sizes follow the data, in a data
// descriptor; the local header's own fields may then be 0.
constexpr std::uint32_t kZipDataDescriptorFlag = 1u << 3;
// The extra field's zip64 extended information block.
constexpr std::uint16_t kZip64FieldId = 0x0001;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFFu;  // a 32-bit size whose value is in the zip64 block

struct ZipLocalHeader {
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;   // general-purpose bits
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint16_t time = 0;    // MS-DOS time and date
  std::uint16_t date = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;    // from the zip64 block where the 32-bit field is kZip64Marker
  std::uint64_t uncompressedSize = 0;  // likewise
  bool hasZip64Field = false;  // the extra field holds a zip64 block (which decides the descriptor's layout)
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
  std::uint64_t headerSize = 0;  // 30 + name + extra: the offset of the data from the header's start
  std::string_view name;         // views into the parsed buffer
  std::string_view extra;
};

// Parses the local header at the start of `data`. False when the buffer is
// shorter than the whole header (30 bytes, then the name and extra the header
// announces), when the signature is not kZipLocalHeaderSignature, when the
// extra field's blocks overrun it, or when a 32-bit size is kZip64Marker
// without a zip64 block to hold it. A size whose 32-bit field is
// kZip64Marker is read from the zip64 block: a block of 16 bytes or more
// holds both sizes, the uncompressed then the compressed, as a local
// header's must; a shorter one holds only the marked sizes, in that order,
// and one too short for them is malformed. A size not marked keeps its
// 32-bit value.
bool ParseZipLocalHeader(const char* data, std::size_t size, ZipLocalHeader* out);

// The data of extra-field block `id` in `extra` (a list of blocks, each a
// 2-byte id, a 2-byte size and that many bytes). False when there is none or
// when a block before it overruns `extra`.
bool FindZipExtraField(std::string_view extra, std::uint16_t id, std::string_view* field);

// What a data descriptor states: the entry's CRC-32 and sizes.
struct ZipDataFacts {
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

// The lengths a data descriptor may have: its sizes are 8 bytes each when
// the entry's local header has a zip64 block (whatever its values), 4 bytes
// otherwise; its signature is optional. So 16 or 12 bytes, 24 or 20 with
// zip64 sizes; the first of each pair has the signature.
constexpr std::size_t kZipDataDescriptorLengths[2][2] = {{16, 12}, {24, 20}};

// The length of the data descriptor at the start of `data` (the bytes right
// after an entry's compressed data) that states exactly `facts` (which the
// central directory gives). The layout with the signature is tried first and
// is taken when its signature, CRC-32 and both sizes match; else the one
// without, when its CRC-32 and sizes match. Comparing every field decides
// even for a CRC-32 equal to the signature's bytes. False when neither
// layout fits in `data` and matches.
//
// From a span alone (the central directory unknown, the uncompressed size
// and CRC-32 known, as a manifest gives them), try each length L of the pair
// for the header's zip64 choice: the descriptor is the span's last L bytes
// when this function, given those bytes and a compressed size of
// span length - headerSize - L, answers L.
bool MatchZipDataDescriptor(const char* data, std::size_t size, bool zip64Sizes, const ZipDataFacts& facts,
                            std::size_t* length);

}  // namespace update
