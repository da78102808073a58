#include "update/manifest/manifest.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/decimal_text.h"
#include "update/install/entry_name.h"
#include "update/install/entry_name_encoding.h"
#include "update/install/zip_local_header.h"

namespace update {

namespace {

const char kHeaderPrefix[] = "launcher-manifest ";
const char kVersion[] = "1";
const char kChunkedVersion[] = "2";  // the same with chunk lines
const char kUpperHex[] = "0123456789ABCDEF";
const char kLowerHex[] = "0123456789abcdef";
// SHA-256 of no bytes: a directory's content.
const char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

constexpr std::size_t kEntryFields = 10;  // "entry" and nine values
constexpr std::size_t kChunksFields = 3;  // "chunks", count, data start
constexpr std::size_t kChunkFields = 6;   // "chunk" and five values
constexpr std::size_t kDigitsOf64Bits = 20;

bool SameDigest(const Sha256Digest& a, const Sha256Digest& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

const Sha256Digest& EmptySha256() {
  static const Sha256Digest digest = [] {
    Sha256Digest d;
    ParseSha256Hex(kEmptySha256, &d);
    return d;
  }();
  return digest;
}


void AppendDigest(std::string* out, const Sha256Digest& digest) {
  char hex[kSha256HexSize];
  FormatSha256Hex(digest, hex);
  out->append(hex, kSha256HexSize - 1);
}

bool IsPlain(unsigned char c) { return c >= 0x21 && c <= 0x7E && c != '%'; }

void AppendEncodedName(std::string* out, std::string_view name) {
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (IsPlain(u)) {
      out->push_back(c);
    } else {
      out->push_back('%');
      out->push_back(kUpperHex[u >> 4]);
      out->push_back(kUpperHex[u & 0x0F]);
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeName(std::string_view field, std::string* name) {
  name->clear();
  for (std::size_t i = 0; i < field.size(); ++i) {
    const unsigned char u = static_cast<unsigned char>(field[i]);
    if (u == '%') {
      if (field.size() - i < 3) return false;
      const int high = HexValue(field[i + 1]);
      const int low = HexValue(field[i + 2]);
      if (high < 0 || low < 0) return false;
      name->push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else if (IsPlain(u)) {
      name->push_back(field[i]);
    } else {
      return false;
    }
  }
  return !name->empty();
}

// Digits only, at most 2^64 - 1 (ParseByteCount's rule, on a field that is
// not terminated).
bool ReadNumber(std::string_view field, std::uint64_t* value) {
  if (field.empty() || field.size() > kDigitsOf64Bits) return false;
  char text[kDigitsOf64Bits + 1];
  std::memcpy(text, field.data(), field.size());
  text[field.size()] = '\0';
  return ParseByteCount(text, value);
}

bool IsLowerHex(std::string_view field, std::size_t length) {
  if (field.size() != length) return false;
  for (char c : field)
    if (std::strchr(kLowerHex, c) == nullptr || c == '\0') return false;
  return true;
}

bool ReadCrc(std::string_view field, std::uint32_t* crc) {
  if (!IsLowerHex(field, 8)) return false;
  std::uint32_t value = 0;
  for (char c : field) value = value << 4 | static_cast<std::uint32_t>(HexValue(c));
  *crc = value;
  return true;
}

bool ReadDigest(std::string_view field, Sha256Digest* digest) {
  if (!IsLowerHex(field, kSha256HexSize - 1)) return false;
  char text[kSha256HexSize];
  std::memcpy(text, field.data(), kSha256HexSize - 1);
  text[kSha256HexSize - 1] = '\0';
  return ParseSha256Hex(text, digest);
}

// Splits `line` at single spaces into exactly `count` fields, none empty; the
// last field takes the rest of the line only when it holds no space either.
bool SplitFields(std::string_view line, std::string_view* fields, std::size_t count) {
  std::size_t n = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i != line.size() && line[i] != ' ') continue;
    if (i == start || n == count) return false;
    fields[n++] = line.substr(start, i - start);
    start = i + 1;
  }
  return n == count;
}

// The lines of the text, each without its "\n"; a last line without one is
// reported as such.
class LineReader {
 public:
  LineReader(const char* data, std::size_t size) : at_(data), end_(data + size) {}

  enum class Next { Line, Unterminated, End };
  Next Read(std::string_view* line) {
    if (at_ == end_) return Next::End;
    ++number_;
    const std::size_t left = static_cast<std::size_t>(end_ - at_);
    const char* lineEnd = static_cast<const char*>(std::memchr(at_, '\n', left));
    if (lineEnd == nullptr) {
      *line = std::string_view(at_, left);
      at_ = end_;
      return Next::Unterminated;
    }
    *line = std::string_view(at_, static_cast<std::size_t>(lineEnd - at_));
    at_ = lineEnd + 1;
    return Next::Line;
  }
  std::size_t Number() const { return number_; }

 private:
  const char* at_;
  const char* end_;
  std::size_t number_ = 0;
};

// One entry line's fields after "entry", checked on their own; the rules
// between entries (order, duplicates) are the caller's.
ManifestParse ReadEntry(const std::string_view (&fields)[kEntryFields], std::uint64_t archiveSize,
                        ManifestEntry* entry) {
  if (fields[1] == "d") entry->directory = true;
  else if (fields[1] != "f") return ManifestParse::Malformed;
  if (fields[2] == "utf8") entry->utf8Name = true;
  else if (fields[2] != "cp936") return ManifestParse::Malformed;
  if (!ReadNumber(fields[3], &entry->size) || !ReadCrc(fields[4], &entry->crc) ||
      !ReadDigest(fields[5], &entry->sha256) || !ReadNumber(fields[6], &entry->spanOffset) ||
      !ReadNumber(fields[7], &entry->spanLength) || !ReadDigest(fields[8], &entry->spanSha256) ||
      !DecodeName(fields[9], &entry->storedName))
    return ManifestParse::Malformed;
  // Every span holds at least its local header and the stored name.
  if (entry->spanLength < kZipLocalHeaderFixedSize + entry->storedName.size()) return ManifestParse::Malformed;

  if (DecideDiskName(entry->utf8Name ? kUtf8NameFlag : 0, entry->storedName, std::string_view(), &entry->name) ==
          DiskNameRule::Unrepresentable ||
      entry->name.find('\0') != std::string::npos || entry->name.size() > kMaxManifestNameBytes ||
      !IsConfinedEntryName(entry->name.c_str()))
    return ManifestParse::RefusedName;

  const bool directoryName = IsDirectoryEntry(entry->name.c_str(), 0);
  if (directoryName != entry->directory) return ManifestParse::KindMismatch;
  if (entry->directory && (entry->size != 0 || entry->crc != 0 || !SameDigest(entry->sha256, EmptySha256())))
    return ManifestParse::KindMismatch;

  if (entry->spanOffset > archiveSize || entry->spanLength > archiveSize - entry->spanOffset)
    return ManifestParse::SpanOutsideArchive;
  return ManifestParse::Parsed;
}

// The chunks of a file entry as they are read: each must start where the
// previous one ended, in the file and in the data; the last must end the file
// and leave the data inside the span.
class ChunkTiling {
 public:
  // A "chunks" line's fields for `entry`.
  ManifestParse Begin(const std::string_view (&fields)[kChunkFields], ManifestEntry* entry) {
    std::uint64_t count = 0;
    if (!ReadNumber(fields[1], &count) || !ReadNumber(fields[2], &entry->dataStart)) return ManifestParse::Malformed;
    if (entry->directory || entry->size == 0 || count == 0 || count > entry->size ||
        entry->dataStart < kZipLocalHeaderFixedSize + entry->storedName.size() || entry->dataStart > entry->spanLength)
      return ManifestParse::ChunksWrong;
    entry_ = entry;
    left_ = count;
    return ManifestParse::Parsed;
  }
  bool Pending() const { return left_ != 0; }

  // A "chunk" line's fields.
  ManifestParse Add(const std::string_view (&fields)[kChunkFields]) {
    ManifestChunk chunk;
    if (!ReadNumber(fields[1], &chunk.offset) || !ReadNumber(fields[2], &chunk.length) ||
        !ReadDigest(fields[3], &chunk.sha256) || !ReadNumber(fields[4], &chunk.dataOffset) ||
        !ReadNumber(fields[5], &chunk.dataLength))
      return ManifestParse::Malformed;
    const std::uint64_t fileEnd = entry_->chunks.empty() ? 0 : entry_->chunks.back().offset + entry_->chunks.back().length;
    const std::uint64_t dataEnd =
        entry_->chunks.empty() ? 0 : entry_->chunks.back().dataOffset + entry_->chunks.back().dataLength;
    const std::uint64_t dataRoom = entry_->spanLength - entry_->dataStart;
    if (chunk.offset != fileEnd || chunk.length == 0 || chunk.length > kMaxChunkBytes ||
        chunk.length > entry_->size - fileEnd || chunk.dataOffset != dataEnd || chunk.dataLength == 0 ||
        chunk.dataLength > ChunkDataBound(chunk.length) || chunk.dataLength > dataRoom - dataEnd)
      return ManifestParse::ChunksWrong;
    entry_->chunks.push_back(chunk);
    --left_;
    if (left_ == 0 && chunk.offset + chunk.length != entry_->size) return ManifestParse::ChunksWrong;
    return ManifestParse::Parsed;
  }

 private:
  ManifestEntry* entry_ = nullptr;
  std::uint64_t left_ = 0;
};

// The first line (1-based) that repeats an earlier entry's name on disk, or 0.
std::size_t FirstDuplicateLine(const std::vector<ManifestEntry>& entries, const std::vector<std::size_t>& lines) {
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return entries[a].name < entries[b].name; });
  std::size_t first = 0;
  bool found = false;
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (entries[order[i]].name != entries[order[i - 1]].name) continue;
    // Equal names sort in file order: the later one of a pair repeats.
    if (!found || order[i] < first) first = order[i];
    found = true;
  }
  return found ? lines[first] : 0;
}

}  // namespace

bool ManifestChunk::operator==(const ManifestChunk& other) const {
  return offset == other.offset && length == other.length && SameDigest(sha256, other.sha256) &&
         dataOffset == other.dataOffset && dataLength == other.dataLength;
}

bool ManifestEntry::operator==(const ManifestEntry& other) const {
  return storedName == other.storedName && utf8Name == other.utf8Name && name == other.name &&
         directory == other.directory && size == other.size && crc == other.crc &&
         SameDigest(sha256, other.sha256) && spanOffset == other.spanOffset && spanLength == other.spanLength &&
         SameDigest(spanSha256, other.spanSha256) && dataStart == other.dataStart && chunks == other.chunks;
}

bool Manifest::operator==(const Manifest& other) const {
  return archiveSize == other.archiveSize && SameDigest(archiveSha256, other.archiveSha256) &&
         entries == other.entries;
}

std::string FormatManifest(const Manifest& manifest) {
  std::string text = kHeaderPrefix;
  const bool chunked = std::any_of(manifest.entries.begin(), manifest.entries.end(),
                                   [](const ManifestEntry& entry) { return !entry.chunks.empty(); });
  text += chunked ? kChunkedVersion : kVersion;
  text += "\narchive ";
  base::AppendDecimal(&text, manifest.archiveSize);
  text += ' ';
  AppendDigest(&text, manifest.archiveSha256);
  text += '\n';
  for (const ManifestEntry& entry : manifest.entries) {
    text += entry.directory ? "entry d " : "entry f ";
    text += entry.utf8Name ? "utf8 " : "cp936 ";
    base::AppendDecimal(&text, entry.size);
    text += ' ';
    for (int shift = 28; shift >= 0; shift -= 4) text += kLowerHex[(entry.crc >> shift) & 0xF];
    text += ' ';
    AppendDigest(&text, entry.sha256);
    text += ' ';
    base::AppendDecimal(&text, entry.spanOffset);
    text += ' ';
    base::AppendDecimal(&text, entry.spanLength);
    text += ' ';
    AppendDigest(&text, entry.spanSha256);
    text += ' ';
    AppendEncodedName(&text, entry.storedName);
    text += '\n';
    if (entry.chunks.empty()) continue;
    text += "chunks ";
    base::AppendDecimal(&text, entry.chunks.size());
    text += ' ';
    base::AppendDecimal(&text, entry.dataStart);
    text += '\n';
    for (const ManifestChunk& chunk : entry.chunks) {
      text += "chunk ";
      base::AppendDecimal(&text, chunk.offset);
      text += ' ';
      base::AppendDecimal(&text, chunk.length);
      text += ' ';
      AppendDigest(&text, chunk.sha256);
      text += ' ';
      base::AppendDecimal(&text, chunk.dataOffset);
      text += ' ';
      base::AppendDecimal(&text, chunk.dataLength);
      text += '\n';
    }
  }
  text += "end ";
  base::AppendDecimal(&text, manifest.entries.size());
  text += '\n';
  return text;
}

ManifestParse ParseManifest(const char* data, std::size_t size, Manifest* out, std::size_t* line) {
  std::size_t failedLine = 0;
  if (line == nullptr) line = &failedLine;
  *line = 0;
  if (size > kMaxManifestBytes) return ManifestParse::TooLarge;
  if (data == nullptr && size != 0) return ManifestParse::BadHeader;
  LineReader in(data, size);
  std::string_view text;
  auto fail = [&](ManifestParse result) {
    *line = in.Number();
    return result;
  };
  // A line expected where the text ends, or one that ends without its "\n".
  auto cut = [&](LineReader::Next next) {
    *line = in.Number() + (next == LineReader::Next::End ? 1 : 0);
    return ManifestParse::Truncated;
  };

  LineReader::Next next = in.Read(&text);
  const std::string_view prefix(kHeaderPrefix);
  if (next == LineReader::Next::End || text.substr(0, prefix.size()) != prefix) return fail(ManifestParse::BadHeader);
  const bool chunksAllowed = text.substr(prefix.size()) == kChunkedVersion;
  if (text.substr(prefix.size()) != kVersion && !chunksAllowed) {
    std::uint64_t version = 0;
    return fail(ReadNumber(text.substr(prefix.size()), &version) ? ManifestParse::UnknownVersion
                                                                 : ManifestParse::BadHeader);
  }
  // Past the header, a line without its "\n" is a manifest cut short,
  // whatever the line says.
  if (next == LineReader::Next::Unterminated) return fail(ManifestParse::Truncated);

  Manifest manifest;
  std::string_view fields[kEntryFields];
  if ((next = in.Read(&text)) != LineReader::Next::Line) return cut(next);
  if (text.size() > kMaxManifestLineBytes || !SplitFields(text, fields, 3) || fields[0] != "archive" ||
      !ReadNumber(fields[1], &manifest.archiveSize) || !ReadDigest(fields[2], &manifest.archiveSha256))
    return fail(ManifestParse::Malformed);

  std::vector<std::size_t> entryLineNumbers;  // chunk lines may stand between entry lines
  std::uint64_t spansEnd = 0;  // where the previous span ends
  ChunkTiling chunks;
  bool afterEntryLine = false;  // a "chunks" line may follow an entry line only
  for (;;) {
    if ((next = in.Read(&text)) != LineReader::Next::Line) return cut(next);
    if (text.size() > kMaxManifestLineBytes) return fail(ManifestParse::Malformed);
    const bool wasEntryLine = afterEntryLine;
    afterEntryLine = false;
    if (text.substr(0, 6) == "chunk ") {
      std::string_view chunkFields[kChunkFields];
      if (!SplitFields(text, chunkFields, kChunkFields)) return fail(ManifestParse::Malformed);
      if (!chunks.Pending()) return fail(ManifestParse::ChunksWrong);
      const ManifestParse added = chunks.Add(chunkFields);
      if (added != ManifestParse::Parsed) return fail(added);
      continue;
    }
    if (chunks.Pending()) return fail(ManifestParse::ChunksWrong);  // fewer chunk lines than announced
    if (text.substr(0, 7) == "chunks ") {
      std::string_view chunkFields[kChunkFields];
      if (!SplitFields(text, chunkFields, kChunksFields)) return fail(ManifestParse::Malformed);
      if (!chunksAllowed || !wasEntryLine) return fail(ManifestParse::ChunksWrong);
      const ManifestParse begun = chunks.Begin(chunkFields, &manifest.entries.back());
      if (begun != ManifestParse::Parsed) return fail(begun);
      continue;
    }
    if (text.substr(0, 4) == "end ") {
      std::uint64_t count = 0;
      if (!ReadNumber(text.substr(4), &count)) return fail(ManifestParse::Malformed);
      if (count != manifest.entries.size()) return fail(ManifestParse::Truncated);
      break;
    }
    if (!SplitFields(text, fields, kEntryFields) || fields[0] != "entry") return fail(ManifestParse::Malformed);
    afterEntryLine = true;
    entryLineNumbers.push_back(in.Number());
    if (manifest.entries.size() == kMaxManifestEntries) return fail(ManifestParse::TooLarge);
    ManifestEntry entry;
    const ManifestParse read = ReadEntry(fields, manifest.archiveSize, &entry);
    if (read != ManifestParse::Parsed) return fail(read);
    if (entry.spanOffset < spansEnd) return fail(ManifestParse::SpansOutOfOrder);
    spansEnd = entry.spanOffset + entry.spanLength;
    manifest.entries.push_back(std::move(entry));
  }
  if (in.Read(&text) != LineReader::Next::End) return fail(ManifestParse::Malformed);

  const std::size_t duplicate = FirstDuplicateLine(manifest.entries, entryLineNumbers);
  if (duplicate != 0) {
    *line = duplicate;
    return ManifestParse::DuplicateName;
  }
  *out = std::move(manifest);
  return ManifestParse::Parsed;
}

const char* DescribeManifestParse(ManifestParse result) {
  switch (result) {
    case ManifestParse::Parsed: return "parsed";
    case ManifestParse::TooLarge: return "too large";
    case ManifestParse::BadHeader: return "not a manifest";
    case ManifestParse::UnknownVersion: return "a manifest of an unknown version";
    case ManifestParse::Malformed: return "a malformed line";
    case ManifestParse::RefusedName: return "a name that would not install";
    case ManifestParse::KindMismatch: return "a directory that is not one, or a file named as a directory";
    case ManifestParse::SpanOutsideArchive: return "a span outside the archive";
    case ManifestParse::SpansOutOfOrder: return "spans out of order or overlapping";
    case ManifestParse::DuplicateName: return "a name given twice";
    case ManifestParse::ChunksWrong: return "chunks that do not tile their file";
    case ManifestParse::Truncated: return "cut short (no end line, or a wrong entry count)";
  }
  return "unknown";
}

}  // namespace update
