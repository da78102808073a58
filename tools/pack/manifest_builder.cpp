#include "tools/pack/manifest_builder.h"

#include <unzip.h>
#include <zlib.h>
#ifdef _WIN32
#include <iowin32.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/crc32.h"
#include "base/stream_position.h"
#include "base/unique_file.h"
#include "tools/pack/version_file.h"
#include "update/incremental/chunk_staging.h"
#include "update/install/entry_name.h"
#include "update/install/entry_name_encoding.h"
#include "update/install/zip_archive.h"
#include "update/install/zip_entry_header.h"
#include "update/install/zip_local_header.h"
#include "update/trust/sha256.h"

namespace pack {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::size_t kCentralHeaderFixedSize = 46;
constexpr std::size_t kLargestDataDescriptor = update::kZipDataDescriptorLengths[1][0];
constexpr std::size_t kCopyBytes = 1 << 16;

std::uint64_t Little(const char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}

// The archive's raw bytes, read at 64-bit offsets.
class RawArchive {
 public:
  explicit RawArchive(const fs::path& path) {
#ifdef _WIN32
    file_.Reset(_wfopen(path.wstring().c_str(), L"rb"));
#else
    file_.Reset(std::fopen(path.c_str(), "rb"));
#endif
    if (file_ && !base::StreamSize(file_.Get(), &size_)) file_.Reset();
  }

  bool IsOpen() const { return static_cast<bool>(file_); }
  std::uint64_t Size() const { return size_; }

  // Exactly `length` bytes at `offset`, all inside the archive.
  bool Read(std::uint64_t offset, std::size_t length, std::string* bytes) {
    if (offset > size_ || length > size_ - offset || !base::SeekTo(file_.Get(), offset)) return false;
    bytes->resize(length);
    return length == 0 || std::fread(&(*bytes)[0], 1, length, file_.Get()) == length;
  }

  // The SHA-256 of `length` bytes at `offset`, all inside the archive.
  bool Digest(std::uint64_t offset, std::uint64_t length, update::Sha256Digest* digest) {
    if (offset > size_ || length > size_ - offset || !base::SeekTo(file_.Get(), offset)) return false;
    update::ArchiveVerifier hasher{update::ArchiveExpectation{}};
    std::vector<char> buffer(kCopyBytes);
    for (std::uint64_t left = length; left > 0;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      if (std::fread(buffer.data(), 1, piece, file_.Get()) != piece) return false;
      hasher.OnBody(buffer.data(), piece);
      left -= piece;
    }
    hasher.Finish();
    *digest = hasher.ReceivedDigest();
    return true;
  }

 private:
  base::UniqueFile file_;
  std::uint64_t size_ = 0;
};

// The archive opened with minizip: wide names on Windows, as it was written.
class UnzipArchive {
 public:
  explicit UnzipArchive(const fs::path& path) {
#ifdef _WIN32
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zip_ = unzOpen2_64(path.wstring().c_str(), &functions);
#else
    zip_ = update::OpenZipForReading(path.c_str());
#endif
  }
  ~UnzipArchive() {
    if (zip_ != nullptr) unzClose(zip_);
  }
  UnzipArchive(const UnzipArchive&) = delete;
  UnzipArchive& operator=(const UnzipArchive&) = delete;
  unzFile Get() const { return zip_; }

 private:
  unzFile zip_ = nullptr;
};

// An archive without entries is its end record alone, which minizip cannot open.
bool IsEmptyArchive(RawArchive& raw) {
  constexpr std::size_t kEndRecordSize = 22;
  std::string end;
  return raw.Size() == kEndRecordSize && raw.Read(0, kEndRecordSize, &end) && Little(end.data(), 4) == 0x06054b50 &&
         Little(end.data() + 8, 2) == 0 && Little(end.data() + 10, 2) == 0;
}

// The local header offset of the entry whose central directory record starts
// at `position`, with the record's name checked against `storedName`.
bool LocalHeaderOffset(RawArchive& raw, std::uint64_t position, const std::string& storedName,
                       std::uint64_t* offset) {
  std::string record;
  if (!raw.Read(position, kCentralHeaderFixedSize, &record) || Little(record.data(), 4) != kCentralHeaderSignature)
    return false;
  const std::uint32_t compressed32 = static_cast<std::uint32_t>(Little(record.data() + 20, 4));
  const std::uint32_t uncompressed32 = static_cast<std::uint32_t>(Little(record.data() + 24, 4));
  const std::size_t nameLength = static_cast<std::size_t>(Little(record.data() + 28, 2));
  const std::size_t extraLength = static_cast<std::size_t>(Little(record.data() + 30, 2));
  const std::uint32_t offset32 = static_cast<std::uint32_t>(Little(record.data() + 42, 4));
  std::string nameAndExtra;
  if (!raw.Read(position + kCentralHeaderFixedSize, nameLength + extraLength, &nameAndExtra) ||
      nameAndExtra.compare(0, nameLength, storedName) != 0 || nameLength != storedName.size())
    return false;
  if (offset32 != update::kZip64Marker) {
    *offset = offset32;
    return true;
  }
  // The central zip64 block holds, in order, each of the uncompressed size,
  // the compressed size and the offset whose 32-bit field is the marker.
  std::string_view zip64;
  if (!update::FindZipExtraField(std::string_view(nameAndExtra).substr(nameLength), update::kZip64FieldId, &zip64))
    return false;
  const std::size_t at = (uncompressed32 == update::kZip64Marker ? 8 : 0) +
                         (compressed32 == update::kZip64Marker ? 8 : 0);
  if (zip64.size() < at + 8) return false;
  *offset = Little(zip64.data() + at, 8);
  return true;
}

// The SHA-256 of the current entry's content, inflated by minizip, with its
// CRC-32 checked and its length compared with the declared size.
bool ContentDigest(unzFile zip, std::uint64_t size, update::Sha256Digest* digest) {
  update::OpenZipEntry entry(zip);
  if (!entry.IsOpen()) return false;
  update::ArchiveVerifier hasher{update::ArchiveExpectation{}};
  std::vector<char> buffer(kCopyBytes);
  int got = 0;
  while ((got = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0)
    hasher.OnBody(buffer.data(), static_cast<std::size_t>(got));
  if (got < 0 || !entry.Close()) return false;
  hasher.Finish();
  *digest = hasher.ReceivedDigest();
  return hasher.Received() == size;
}

// The chunks the writer made for `entry`, whose compressed data starts at
// `dataStart` of its span and holds `dataSize` bytes: every chunk inflated
// alone from the archive's bytes, its length checked and its SHA-256 taken.
// Chunks that each inflate alone, none but the last ending the stream, are
// together the entry's one deflate stream: the content's SHA-256 and CRC-32
// are taken from them too, and the CRC-32 must be the directory's.
bool DescribeChunks(RawArchive& raw, const std::vector<update::ManifestChunk>& written, std::uint64_t dataStart,
                    std::uint64_t dataSize, update::ManifestEntry* entry, std::string* error) {
  entry->dataStart = dataStart;
  entry->chunks = written;
  std::uint64_t fileEnd = 0;
  std::uint64_t dataEnd = 0;
  std::string compressed;
  std::string bytes;
  update::Sha256 content;
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < entry->chunks.size(); ++i) {
    update::ManifestChunk& chunk = entry->chunks[i];
    bool ended = false;
    if (chunk.offset != fileEnd || chunk.dataOffset != dataEnd || chunk.dataLength > update::ChunkDataBound(chunk.length) ||
        !raw.Read(entry->ChunkDataAt(chunk), static_cast<std::size_t>(chunk.dataLength), &compressed) ||
        !update::InflateChunkAlone(compressed.data(), compressed.size(), chunk.length, &bytes, &ended) ||
        ended != (i + 1 == entry->chunks.size())) {
      *error = entry->storedName + ": its chunk at " + std::to_string(chunk.offset) + " does not inflate alone";
      return false;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    update::Sha256::Digest(data, bytes.size(), chunk.sha256.bytes);
    content.Update(data, bytes.size());
    crc = base::Crc32(crc, data, bytes.size());
    fileEnd += chunk.length;
    dataEnd += chunk.dataLength;
  }
  if (fileEnd != entry->size || dataEnd != dataSize || crc != entry->crc) {
    *error = entry->storedName + ": its chunks do not give it";
    return false;
  }
  content.Final(entry->sha256.bytes);
  return true;
}

// One entry, the archive's current one.
bool DescribeEntry(unzFile zip, RawArchive& raw, const ChunkLayout* layout, update::ManifestEntry* entry,
                   std::string* error) {
  unz_file_info64 info;
  update::ZipEntryHeader header;
  unz64_file_pos position;
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      !update::ReadZipEntryHeader(zip, &header) || unzGetFilePos64(zip, &position) != UNZ_OK) {
    *error = "cannot read an entry of the archive's directory";
    return false;
  }
  entry->storedName = header.storedName;
  const std::string& label = header.storedName;
  entry->utf8Name = (info.flag & update::kUtf8NameFlag) != 0;
  // The manifest names an entry by its stored name and flag alone; the
  // installer would also read a Unicode Path field, so both must agree.
  update::DecideDiskName(entry->utf8Name ? update::kUtf8NameFlag : 0, entry->storedName, std::string_view(),
                         &entry->name);
  if (!header.nameUsable || entry->name != header.name) {
    *error = label + ": its name on disk cannot be told from its stored name and flag";
    return false;
  }
  entry->directory = update::IsDirectoryEntry(header.name, header.attributes);
  entry->size = info.uncompressed_size;
  entry->crc = static_cast<std::uint32_t>(info.crc);

  std::uint64_t offset = 0;
  std::string local;
  if (!LocalHeaderOffset(raw, position.pos_in_zip_directory, entry->storedName, &offset) ||
      !raw.Read(offset, update::kZipLocalHeaderFixedSize, &local)) {
    *error = label + ": its local header cannot be found";
    return false;
  }
  // The fixed part tells how long the local name and extra field are.
  const std::size_t headerSize = update::kZipLocalHeaderFixedSize + static_cast<std::size_t>(Little(local.data() + 26, 2)) +
                                 static_cast<std::size_t>(Little(local.data() + 28, 2));
  update::ZipLocalHeader parsed;
  if (!raw.Read(offset, headerSize, &local) || !update::ParseZipLocalHeader(local.data(), local.size(), &parsed) ||
      parsed.name != entry->storedName) {
    *error = label + ": its local header is damaged or names another entry";
    return false;
  }
  const std::uint64_t dataStart = offset + parsed.headerSize;
  std::uint64_t spanLength = parsed.headerSize;
  if (info.compressed_size > raw.Size() - dataStart) {
    *error = label + ": its data runs past the archive's end";
    return false;
  }
  spanLength += info.compressed_size;
  if ((parsed.flags & update::kZipDataDescriptorFlag) != 0) {
    const std::uint64_t descriptorAt = dataStart + info.compressed_size;
    const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(kLargestDataDescriptor,
                                                                                   raw.Size() - descriptorAt));
    std::string descriptor;
    std::size_t descriptorLength = 0;
    const update::ZipDataFacts facts{entry->crc, info.compressed_size, info.uncompressed_size};
    if (!raw.Read(descriptorAt, available, &descriptor) ||
        !update::MatchZipDataDescriptor(descriptor.data(), descriptor.size(), parsed.hasZip64Field, facts,
                                        &descriptorLength)) {
      *error = label + ": its data descriptor does not match the archive's directory";
      return false;
    }
    spanLength += descriptorLength;
  }
  entry->spanOffset = offset;
  entry->spanLength = spanLength;
  if (!raw.Digest(offset, spanLength, &entry->spanSha256)) {
    *error = label + ": its bytes cannot be read";
    return false;
  }
  const auto chunked = layout == nullptr ? ChunkLayout::const_iterator() : layout->find(entry->storedName);
  if (layout != nullptr && chunked != layout->end())
    return DescribeChunks(raw, chunked->second, parsed.headerSize, info.compressed_size, entry, error);
  if (!ContentDigest(zip, entry->size, &entry->sha256)) {
    *error = label + ": its content cannot be read back or fails its CRC-32";
    return false;
  }
  return true;
}

}  // namespace

bool BuildManifest(const fs::path& archive, update::Manifest* manifest, std::string* error, const ChunkLayout* layout) {
  update::Manifest built;
  if (!DigestFile(archive, &built.archiveSha256, &built.archiveSize)) {
    *error = archive.u8string() + ": cannot be read back";
    return false;
  }
  RawArchive raw(archive);
  if (!raw.IsOpen() || raw.Size() != built.archiveSize) {
    *error = archive.u8string() + ": cannot be read back";
    return false;
  }
  UnzipArchive zip(archive);
  if (zip.Get() == nullptr) {
    if (!IsEmptyArchive(raw)) {
      *error = archive.u8string() + ": cannot be opened as an archive";
      return false;
    }
  } else {
    int rc = unzGoToFirstFile(zip.Get());
    for (; rc == UNZ_OK; rc = unzGoToNextFile(zip.Get())) {
      update::ManifestEntry entry;
      if (!DescribeEntry(zip.Get(), raw, layout, &entry, error)) {
        *error = archive.u8string() + ": " + *error;
        return false;
      }
      built.entries.push_back(std::move(entry));
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
      *error = archive.u8string() + ": its directory cannot be read to the end";
      return false;
    }
  }
  // Spans in archive order, which the directory need not follow.
  std::stable_sort(built.entries.begin(), built.entries.end(),
                   [](const update::ManifestEntry& a, const update::ManifestEntry& b) {
                     return a.spanOffset < b.spanOffset;
                   });
  const std::string text = update::FormatManifest(built);
  update::Manifest reread;
  std::size_t line = 0;
  const update::ManifestParse parsed = update::ParseManifest(text.data(), text.size(), &reread, &line);
  if (parsed != update::ManifestParse::Parsed || !(reread == built)) {
    *error = archive.u8string() + ": the launcher would refuse its manifest (line " + std::to_string(line) + ": " +
             update::DescribeManifestParse(parsed) + ")";
    return false;
  }
  *manifest = std::move(built);
  return true;
}

}  // namespace pack
