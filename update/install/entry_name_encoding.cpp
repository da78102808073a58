#include "update/install/entry_name_encoding.h"

#include "base/crc32.h"
#include "update/install/code_page_936.h"

namespace update {

namespace {

std::uint32_t Little16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

std::uint32_t Little32(std::string_view bytes, std::size_t at) {
  return Little16(bytes, at) | Little16(bytes, at + 2) << 16;
}

constexpr std::size_t kBlockHeaderSize = 4;      // id, size
constexpr std::size_t kUnicodePathHeaderSize = 5;  // version, CRC-32
constexpr unsigned char kUnicodePathVersion = 1;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

bool FindUnicodePathName(std::string_view extra, std::string_view storedName, std::string_view* utf8) {
  for (std::size_t at = 0; extra.size() - at >= kBlockHeaderSize;) {
    const std::uint32_t id = Little16(extra, at);
    const std::size_t size = Little16(extra, at + 2);
    at += kBlockHeaderSize;
    if (size > extra.size() - at) return false;
    if (id == kUnicodePathFieldId) {
      const std::string_view field = extra.substr(at, size);
      if (field.size() < kUnicodePathHeaderSize || static_cast<unsigned char>(field[0]) != kUnicodePathVersion)
        return false;
      if (Little32(field, 1) != base::Crc32(0, storedName.data(), storedName.size())) return false;
      *utf8 = field.substr(kUnicodePathHeaderSize);
      return true;
    }
    at += size;
  }
  return false;
}

bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead == 0) return false;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;  // the smallest code point of this length: shorter forms are overlong
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
      least = 0x10000;
    } else {
      return false;  // a continuation byte, an overlong two-byte lead, or beyond U+10FFFF
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if (!IsContinuation(c)) return false;
      code = code << 6 | (c & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

DiskNameRule DecideDiskName(std::uint32_t flags, std::string_view storedName, std::string_view extra,
                            std::string* diskName) {
  diskName->clear();
  std::string_view utf8;
  DiskNameRule rule = DiskNameRule::UnicodePathField;
  if (!FindUnicodePathName(extra, storedName, &utf8)) {
    if ((flags & kUtf8NameFlag) == 0) {
      diskName->assign(storedName);
      return DiskNameRule::StoredCodePage936;
    }
    utf8 = storedName;
    rule = DiskNameRule::StoredUtf8;
  }
  if (!IsWellFormedUtf8(utf8) || !Utf8ToCodePage936(utf8, diskName)) {
    diskName->clear();
    return DiskNameRule::Unrepresentable;
  }
  return rule;
}

}  // namespace update
