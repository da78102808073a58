#include "update/install/commit_journal.h"

#include <cstring>
#include <unordered_map>

#include "base/crc32.h"
#include "base/decimal_text.h"
#include "update/disk_name.h"
#include "update/install/entry_name.h"

namespace update {

namespace {

const char kHeader[] = "launcher-commit 1\n";
const char kEnd[] = "end ";
const char kHexDigits[] = "0123456789abcdef";


// A cursor over the journal's bytes that reads one field at a time and
// refuses anything not written by FormatJournal.
class Reader {
 public:
  Reader(const char* data, std::size_t size) : at_(data), end_(data + size) {}

  bool Literal(const char* text) {
    const std::size_t length = std::strlen(text);
    if (static_cast<std::size_t>(end_ - at_) < length || std::memcmp(at_, text, length) != 0) return false;
    at_ += length;
    return true;
  }

  // Decimal digits without sign or leading zero (except "0"), at most `limit`.
  bool Unsigned(std::uint64_t limit, std::uint64_t* value) {
    if (at_ == end_ || *at_ < '0' || *at_ > '9') return false;
    if (*at_ == '0' && end_ - at_ > 1 && at_[1] >= '0' && at_[1] <= '9') return false;
    std::uint64_t v = 0;
    while (at_ != end_ && *at_ >= '0' && *at_ <= '9') {
      const std::uint64_t digit = static_cast<std::uint64_t>(*at_ - '0');
      if (v > (limit - digit) / 10) return false;
      v = v * 10 + digit;
      ++at_;
    }
    *value = v;
    return true;
  }

  bool Signed32(std::int32_t* value) {
    const bool negative = Literal("-");
    std::uint64_t magnitude = 0;
    if (!Unsigned(negative ? 2147483648u : 2147483647u, &magnitude)) return false;
    if (negative && magnitude == 0) return false;
    *value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                      : static_cast<std::int32_t>(magnitude);
    return true;
  }

  // The rest of the line (not empty, no NUL or CR), and the line end.
  bool RestOfLine(std::string* text) {
    const char* lineEnd = static_cast<const char*>(std::memchr(at_, '\n', static_cast<std::size_t>(end_ - at_)));
    if (lineEnd == nullptr || lineEnd == at_) return false;
    text->assign(at_, static_cast<std::size_t>(lineEnd - at_));
    if (text->find('\0') != std::string::npos || text->find('\r') != std::string::npos) return false;
    at_ = lineEnd + 1;
    return true;
  }

  bool Hex32(std::uint32_t* value) {
    if (end_ - at_ < 8) return false;
    std::uint32_t v = 0;
    for (int i = 0; i < 8; ++i) {
      const char* digit = std::strchr(kHexDigits, at_[i]);
      if (at_[i] == '\0' || digit == nullptr) return false;
      v = (v << 4) | static_cast<std::uint32_t>(digit - kHexDigits);
    }
    at_ += 8;
    *value = v;
    return true;
  }

  const char* Position() const { return at_; }
  bool AtEnd() const { return at_ == end_; }

 private:
  const char* at_;
  const char* end_;
};

// The line tag of every kind; a File's and a TreeFile's line also holds numbers.
const char* KindTag(JournalEntryKind kind) {
  switch (kind) {
    case JournalEntryKind::File: return "f ";
    case JournalEntryKind::Directory: return "d ";
    case JournalEntryKind::RemovedFile: return "rf ";
    case JournalEntryKind::RemovedDirectory: return "rd ";
    case JournalEntryKind::Tree: return "t ";
    case JournalEntryKind::TreeFile: return "tf ";
    case JournalEntryKind::TreeDirectory: return "td ";
  }
  return "d ";
}

bool IsWritableName(const std::string& name) {
  return !name.empty() && name.find('\n') == std::string::npos && name.find('\r') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string EightDigits(std::uint32_t number) {
  std::string digits;
  base::AppendDecimal(&digits, number);
  if (digits.size() < 8) digits.insert(0, 8 - digits.size(), '0');
  return digits;
}

}  // namespace

std::string StagedFileName(std::uint32_t number) {
  return EightDigits(number / kStagedFilesPerFolder) + "\\" + EightDigits(number);
}

std::string StagedTreeName(const std::string& name) { return "tree\\" + name; }

std::vector<std::size_t> HoldingTrees(const JournalRecord& record) {
  std::vector<std::size_t> holders(record.entries.size(), kNoTree);
  std::unordered_map<std::string, std::size_t> trees;  // a Tree's key -> its first entry
  for (std::size_t i = 0; i < record.entries.size(); ++i) {
    const JournalEntry& entry = record.entries[i];
    if (entry.kind == JournalEntryKind::Tree) {
      trees.emplace(DiskNameKey(entry.name), i);
      continue;
    }
    if (entry.kind != JournalEntryKind::TreeFile && entry.kind != JournalEntryKind::TreeDirectory) continue;
    // Every "/" of a key separates levels: the folders that hold the entry
    // are the key's parts before one, and for a directory the whole key.
    const std::string key = DiskNameKey(entry.name);
    for (std::size_t end = key.find('/');; end = key.find('/', end + 1)) {
      const bool whole = end == std::string::npos;
      if (whole && entry.kind != JournalEntryKind::TreeDirectory) break;
      const auto found = trees.find(whole ? key : key.substr(0, end));
      if (found != trees.end()) {
        holders[i] = found->second;
        break;
      }
      if (whole) break;
    }
  }
  return holders;
}

namespace {

// Every TreeFile and TreeDirectory lies in a Tree named before it, and every
// Tree is named without a trailing separator.
bool TreesHoldTheirEntries(const JournalRecord& record) {
  const std::vector<std::size_t> holders = HoldingTrees(record);
  for (std::size_t i = 0; i < record.entries.size(); ++i) {
    const JournalEntry& entry = record.entries[i];
    if (entry.kind == JournalEntryKind::Tree && IsDirectoryEntry(entry.name.c_str(), 0)) return false;
    if ((entry.kind == JournalEntryKind::TreeFile || entry.kind == JournalEntryKind::TreeDirectory) &&
        holders[i] == kNoTree)
      return false;
  }
  return true;
}

}  // namespace

bool FormatJournal(const JournalRecord& record, std::string* out) {
  if (!TreesHoldTheirEntries(record)) return false;
  std::string text = kHeader;
  text += "version ";
  if (record.version < 0) text += '-';
  base::AppendDecimal(&text, record.version < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(record.version))
                                           : static_cast<std::uint64_t>(record.version));
  text += "\nentries ";
  base::AppendDecimal(&text, record.entries.size());
  text += '\n';
  for (const JournalEntry& entry : record.entries) {
    if (!IsWritableName(entry.name)) return false;
    if (entry.kind == JournalEntryKind::File) {
      text += "f ";
      base::AppendDecimal(&text, entry.staged);
      text += ' ';
      base::AppendDecimal(&text, entry.size);
      text += ' ';
    } else if (entry.kind == JournalEntryKind::TreeFile) {
      text += "tf ";
      base::AppendDecimal(&text, entry.size);
      text += ' ';
    } else {
      text += KindTag(entry.kind);
    }
    text += entry.name;
    text += '\n';
  }
  const std::uint32_t crc = base::Crc32(0, text.data(), text.size());
  text += kEnd;
  for (int shift = 28; shift >= 0; shift -= 4) text += kHexDigits[(crc >> shift) & 0xF];
  text += '\n';
  *out = std::move(text);
  return true;
}

JournalParse ParseJournal(const char* data, std::size_t size, JournalRecord* out) {
  if (data == nullptr || out == nullptr) return JournalParse::Damaged;
  Reader in(data, size);
  JournalRecord record;
  std::uint64_t count = 0;
  if (!in.Literal(kHeader) || !in.Literal("version ") || !in.Signed32(&record.version) || !in.Literal("\n") ||
      !in.Literal("entries ") || !in.Unsigned(size, &count) || !in.Literal("\n"))
    return JournalParse::Damaged;
  // Each entry takes at least four bytes ("d x\n"): a count beyond that is a lie.
  if (count > size / 4) return JournalParse::Damaged;
  record.entries.reserve(static_cast<std::size_t>(count));
  bool anyFile = false;
  std::uint32_t lastStaged = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    JournalEntry entry;
    if (in.Literal("f ")) {
      std::uint64_t staged = 0;
      if (!in.Unsigned(0xFFFFFFFFu, &staged) || !in.Literal(" ") || !in.Unsigned(UINT64_MAX, &entry.size) ||
          !in.Literal(" "))
        return JournalParse::Damaged;
      entry.staged = static_cast<std::uint32_t>(staged);
      if (anyFile && entry.staged <= lastStaged) return JournalParse::Damaged;
      anyFile = true;
      lastStaged = entry.staged;
    } else if (in.Literal("d ")) {
      entry.kind = JournalEntryKind::Directory;
    } else if (in.Literal("rf ")) {
      entry.kind = JournalEntryKind::RemovedFile;
    } else if (in.Literal("rd ")) {
      entry.kind = JournalEntryKind::RemovedDirectory;
    } else if (in.Literal("t ")) {
      entry.kind = JournalEntryKind::Tree;
    } else if (in.Literal("tf ")) {
      entry.kind = JournalEntryKind::TreeFile;
      if (!in.Unsigned(UINT64_MAX, &entry.size) || !in.Literal(" ")) return JournalParse::Damaged;
    } else if (in.Literal("td ")) {
      entry.kind = JournalEntryKind::TreeDirectory;
    } else {
      return JournalParse::Damaged;
    }
    if (!in.RestOfLine(&entry.name) || !IsConfinedEntryName(entry.name.c_str())) return JournalParse::Damaged;
    record.entries.push_back(std::move(entry));
  }
  const std::size_t covered = static_cast<std::size_t>(in.Position() - data);
  std::uint32_t crc = 0;
  if (!in.Literal(kEnd) || !in.Hex32(&crc) || !in.Literal("\n") || !in.AtEnd()) return JournalParse::Damaged;
  if (crc != base::Crc32(0, data, covered)) return JournalParse::Damaged;
  if (!TreesHoldTheirEntries(record)) return JournalParse::Damaged;
  *out = std::move(record);
  return JournalParse::Valid;
}

}  // namespace update
