// The manifest of a client archive: for every entry its name, kind, size,
// CRC-32 and content SHA-256, and the span of raw archive bytes it occupies
// (local header through data descriptor) with that span's SHA-256. With it a
// launcher that holds an older client can fetch only the entries that
// changed, by range requests from the one full archive, and check each span
// before it reads a byte of it. The pack tool writes the manifest beside the
// archive; the launcher parses it with ParseManifest, which refuses anything
// the installer would refuse, so that a manifest it accepts is a plan it can
// carry out. Pure: no windows.h; parsed natively and fuzzed.
//
// Text, every line ASCII and ended by "\n" alone, fields separated by exactly
// one space:
//   launcher-manifest <1|2>
//   archive <archive size> <archive sha256>
//   entry <d|f> <cp936|utf8> <size> <crc32> <sha256> <span offset> <span length> <span sha256> <stored name>
//   [chunks <count> <data start>                     (version 2: a file deflated in chunks)
//    chunk <offset> <length> <sha256> <data offset> <data length>
//    ...]
//   ...
//   end <number of entry lines>
// Numbers are decimal digits (no sign, at most 2^64 - 1); the CRC-32 is 8 and
// each SHA-256 64 lower-case hex digits. The stored name is percent-encoded:
// every byte outside 0x21..0x7E, and "%" itself, as "%XX" (upper-case hex when
// written; either case is read). Entries are in ascending span order, which
// is archive order.
//
// A large file may be deflated in chunks, each flushed with Z_FULL_FLUSH so
// that its compressed bytes start on a byte boundary and inflate alone: its
// "chunks" line gives their count and where the entry's compressed data
// starts within its span (the local header's size), and each "chunk" line a
// chunk's uncompressed offset and length, the SHA-256 of those bytes, and
// its compressed offset and length within the entry's data. Chunks tile the
// file and the data in order. A manifest with chunks is of version 2, one
// without is of version 1, byte for byte as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/directory_levels.h"
#include "update/trust/archive_digest.h"

namespace update {

// Bounds on what ParseManifest reads. The byte bound is the one that binds:
// an entry line takes 160 bytes at the least and some 250 with a usual name,
// so 64 MiB hold about 250,000 entries; the entry bound only caps the work
// of a manifest of tiny lines.
constexpr std::size_t kMaxManifestBytes = 64u * 1024 * 1024;
constexpr std::size_t kMaxManifestEntries = 1048576;
constexpr std::size_t kMaxManifestLineBytes = 4096;  // a line's bytes before its "\n"

// The installer composes "<game directory>/<name>" into kPathSize bytes, the
// game directory being "Game": a name on disk is at most
// kPathSize - 1 - 5 = 254 bytes (code page 936, a directory's trailing
// separator included).
constexpr char kManifestNamePrefix[] = "Game/";
constexpr std::size_t kMaxManifestNameBytes = kPathSize - 1 - (sizeof kManifestNamePrefix - 1);

// A chunk holds at most this many bytes of its file, and its compressed form
// at most ChunkDataBound of its length (deflate's stored blocks and the flush
// that ends the chunk, with room to spare).
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t{4} << 20;
constexpr std::uint64_t ChunkDataBound(std::uint64_t length) { return length + (length >> 8) + 64; }

struct ManifestChunk {
  std::uint64_t offset = 0;      // in the file
  std::uint64_t length = 0;
  Sha256Digest sha256;           // of those bytes of the file
  std::uint64_t dataOffset = 0;  // in the entry's compressed data
  std::uint64_t dataLength = 0;

  bool operator==(const ManifestChunk& other) const;
};

struct ManifestEntry {
  std::string storedName;   // the name's bytes as the archive stores them
  bool utf8Name = false;    // general-purpose bit 11 was set on the entry
  std::string name;         // the name on disk (code page 936): DecideDiskName(flags, storedName, "")
  bool directory = false;   // a "d" entry: the name ends in a separator, no content
  std::uint64_t size = 0;   // uncompressed
  std::uint32_t crc = 0;    // CRC-32 of the content
  Sha256Digest sha256;      // of the uncompressed content (of no bytes for a directory)
  std::uint64_t spanOffset = 0;  // archive offset of the entry's local header
  std::uint64_t spanLength = 0;  // local header + name + local extra + compressed data + data descriptor (if any)
  Sha256Digest spanSha256;       // of those raw archive bytes
  std::uint64_t dataStart = 0;   // with chunks: where the compressed data starts in the span
  std::vector<ManifestChunk> chunks;  // empty: the file is deflated as one

  // The archive offset of a chunk's compressed bytes.
  std::uint64_t ChunkDataAt(const ManifestChunk& chunk) const { return spanOffset + dataStart + chunk.dataOffset; }

  bool operator==(const ManifestEntry& other) const;
};

struct Manifest {
  std::uint64_t archiveSize = 0;
  Sha256Digest archiveSha256;
  std::vector<ManifestEntry> entries;  // in ascending span order

  bool operator==(const Manifest& other) const;
};

// The manifest's text. Writes whatever it is given (`name` is not written: it
// follows from the stored name and the flag); only a manifest ParseManifest
// would accept reads back, and then as `manifest` again.
std::string FormatManifest(const Manifest& manifest);

enum class ManifestParse {
  Parsed,
  TooLarge,            // more than kMaxManifestBytes, or more than kMaxManifestEntries entry lines
  BadHeader,           // the first line is not "launcher-manifest <version>"
  UnknownVersion,      // "launcher-manifest N" of a version other than 1 and 2
  Malformed,           // a line that does not read: its fields, a number, hex, the percent-encoding,
                       // a line over kMaxManifestLineBytes, a span too short for its local header and
                       // name, anything after the end line
  RefusedName,         // the installer would refuse the name on disk: it cannot be decided from UTF-8,
                       // holds a NUL byte, is not confined (IsConfinedEntryName), or passes kMaxManifestNameBytes
  KindMismatch,        // a "d" entry whose name does not end in a separator or that has content (size, CRC
                       // and SHA-256 other than those of no bytes), or an "f" entry whose name ends in one
  SpanOutsideArchive,  // offset + length overflows or passes the archive's size
  SpansOutOfOrder,     // a span that starts before the previous one ends (out of order or overlapping)
  DuplicateName,       // two entries of the same name on disk (exact bytes)
  ChunksWrong,         // chunks in a version 1 manifest or on a directory or empty file, chunks that do not
                       // tile the file and its data in order, one over kMaxChunkBytes or its data over
                       // ChunkDataBound, data outside the span, or fewer chunk lines than announced
  Truncated,           // no end line (the text stops first, or its last line has no "\n"), or the end
                       // line's count differs from the entry lines
};

// Reads a manifest. Only on Parsed is `*out` replaced. `line`, when given,
// receives the 1-based number of the line that failed (for DuplicateName the
// later of the two lines; for Truncated the line where the end line was
// expected or the end line itself), or 0 when no one line is at fault
// (TooLarge of the whole input).
ManifestParse ParseManifest(const char* data, std::size_t size, Manifest* out, std::size_t* line = nullptr);

// A few words for a log line ("the name would not install").
const char* DescribeManifestParse(ManifestParse result);

}  // namespace update
