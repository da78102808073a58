// A ZIP local header and data descriptor read from bytes alone, as a fetched
// span holds them: zip64 sizes where the 32-bit fields say so, and nothing
// read past the buffer or taken from a block that overruns the extra field.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "update/install/zip_local_header.h"

namespace {

std::string Le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string Block(unsigned id, const std::string& data) { return Le(id, 2) + Le(data.size(), 2) + data; }

std::string Header(std::uint32_t compressed, std::uint32_t uncompressed, const std::string& extra,
                   const std::string& name = "a.txt") {
  return Le(update::kZipLocalHeaderSignature, 4) + Le(45, 2) + Le(0x0808, 2) + Le(8, 2) + Le(0x1234, 2) +
         Le(0x5678, 2) + Le(0xCAFEF00D, 4) + Le(compressed, 4) + Le(uncompressed, 4) + Le(name.size(), 2) +
         Le(extra.size(), 2) + name + extra;
}

constexpr std::uint32_t kMarker = update::kZip64Marker;
const std::string kBothSizes = Block(1, Le(6000000000ull, 8) + Le(5000000000ull, 8));

TEST(ZipLocalHeader, ReadsTheFieldsOfAHeader) {
  const std::string bytes = Header(10, 20, "") + "data";
  update::ZipLocalHeader h;
  ASSERT_TRUE(update::ParseZipLocalHeader(bytes.data(), bytes.size(), &h));
  EXPECT_EQ(45, h.versionNeeded);
  EXPECT_EQ(0x0808, h.flags);
  EXPECT_EQ(8, h.method);
  EXPECT_EQ(0x1234, h.time);
  EXPECT_EQ(0x5678, h.date);
  EXPECT_EQ(0xCAFEF00Du, h.crc);
  EXPECT_EQ(5, h.nameLength);
  EXPECT_EQ("a.txt", h.name);
  EXPECT_EQ(35u, h.headerSize);
}

TEST(ZipLocalHeader, SizesAndRefusals) {
  struct Case {
    const char* label;
    std::string bytes;
    bool ok;
    std::uint64_t compressed;
    std::uint64_t uncompressed;
    bool zip64Field;
  };
  const std::string plain = Header(10, 20, "");
  const Case cases[] = {
      {"32-bit sizes", plain, true, 10, 20, false},
      {"both sizes in the zip64 block", Header(kMarker, kMarker, kBothSizes), true, 5000000000ull, 6000000000ull, true},
      {"only the uncompressed size, in a short block", Header(10, kMarker, Block(1, Le(6000000000ull, 8))), true, 10,
       6000000000ull, true},
      {"only the compressed size, from a block of both", Header(kMarker, 20, kBothSizes), true, 5000000000ull, 20,
       true},
      {"a zip64 block behind another block", Header(kMarker, kMarker, Block(0x5455, "\x01\x02\x03\x04\x05") + kBothSizes),
       true, 5000000000ull, 6000000000ull, true},
      {"a zip64 block with no size marked", Header(10, 20, kBothSizes), true, 10, 20, true},
      {"the fixed part cut", plain.substr(0, 29), false, 0, 0, false},
      {"the name cut", plain.substr(0, plain.size() - 1), false, 0, 0, false},
      {"another signature", "PK\x01\x02" + plain.substr(4), false, 0, 0, false},
      {"a size marked without a zip64 block", Header(kMarker, 20, ""), false, 0, 0, false},
      {"a block too short for both marked sizes", Header(kMarker, kMarker, Block(1, Le(6000000000ull, 8))), false, 0,
       0, false},
      {"a block overrunning the extra field", Header(10, 20, Le(0x5455, 2) + Le(9, 2) + "abc"), false, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    update::ZipLocalHeader h;
    ASSERT_EQ(c.ok, update::ParseZipLocalHeader(c.bytes.data(), c.bytes.size(), &h));
    if (!c.ok) continue;
    EXPECT_EQ(c.compressed, h.compressedSize);
    EXPECT_EQ(c.uncompressed, h.uncompressedSize);
    EXPECT_EQ(c.zip64Field, h.hasZip64Field);
    EXPECT_EQ(c.bytes.size(), h.headerSize);
  }
}

TEST(ZipLocalHeader, DataDescriptorLength) {
  const std::string signature = Le(update::kZipDataDescriptorSignature, 4);
  const update::ZipDataFacts facts{0xCAFEF00D, 300, 700};
  const update::ZipDataFacts signatureCrc{update::kZipDataDescriptorSignature, 300, 700};
  const std::string narrow = Le(0xCAFEF00D, 4) + Le(300, 4) + Le(700, 4);
  const std::string wide = Le(0xCAFEF00D, 4) + Le(300, 8) + Le(700, 8);
  struct Case {
    const char* label;
    std::string bytes;
    bool zip64;
    update::ZipDataFacts facts;
    bool ok;
    std::size_t length;
  };
  const Case cases[] = {
      {"signature, 32-bit sizes", signature + narrow + "next", false, facts, true, 16},
      {"no signature, 32-bit sizes", narrow + "next", false, facts, true, 12},
      {"signature, 64-bit sizes", signature + wide + "next", true, facts, true, 24},
      {"no signature, 64-bit sizes", wide + "next", true, facts, true, 20},
      // The CRC-32 has the signature's bytes; only the fields after it tell.
      {"a CRC-32 like the signature", signature + Le(300, 4) + Le(700, 4), false, signatureCrc, true, 12},
      {"another compressed size", narrow, false, {0xCAFEF00D, 301, 700}, false, 0},
      {"32-bit sizes read as 64-bit", signature + narrow + "next", true, facts, false, 0},
      {"cut short", narrow.substr(0, 11), false, facts, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::size_t length = 0;
    EXPECT_EQ(c.ok, update::MatchZipDataDescriptor(c.bytes.data(), c.bytes.size(), c.zip64, c.facts, &length));
    EXPECT_EQ(c.length, length);
  }
}

}  // namespace
