// How an archive entry's stored name becomes the name of its file on disk.
// The launcher names files in code page 936 (ANSI file calls throughout);
// archivers other than the pack tool store non-ASCII names in UTF-8 and say
// so, with the language-encoding flag (general-purpose bit 11) or with an
// Info-ZIP Unicode Path extra field (0x7075) beside a name in another code
// page. The rule, decided once for every reader of entry names
// (installation in place and staged, verification, repair):
//   1. a Unicode Path field of version 1 whose CRC-32 is that of the stored
//      name gives the name, as UTF-8 (a field of another version or CRC is
//      passed over: the header's name holds);
//   2. else, with bit 11 set, the stored name is UTF-8;
//   3. else the stored name is code page 936 already and is taken as it is.
// UTF-8 is converted to code page 936 (update/install/code_page_936.h); a name that
// is not well-formed UTF-8 or holds a character code page 936 lacks cannot
// be represented, and the entry is refused. Pure: no windows.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace update {

// General-purpose bit 11: the stored name (and comment) are UTF-8.
constexpr std::uint32_t kUtf8NameFlag = 1u << 11;
// Info-ZIP Unicode Path extra field: version (1 byte, 1), CRC-32 of the
// header's stored name (4 bytes, little-endian), then the UTF-8 name.
constexpr std::uint16_t kUnicodePathFieldId = 0x7075;

// The UTF-8 name of the Unicode Path field in `extra` (a ZIP extra field: a
// list of blocks, each a 2-byte id, a 2-byte size and that many bytes) when
// there is one of version 1 whose CRC-32 matches `storedName`. Only the first
// 0x7075 block counts; a block that overruns `extra` ends the list.
bool FindUnicodePathName(std::string_view extra, std::string_view storedName, std::string_view* utf8);

// True for well-formed UTF-8 (shortest forms only, no surrogates, nothing
// above U+10FFFF) without a NUL character, which no file name can hold.
bool IsWellFormedUtf8(std::string_view text);

// Which rule named the file, or that none could.
enum class DiskNameRule {
  StoredCodePage936,  // no flag, no matching field: the stored bytes as they are
  StoredUtf8,         // bit 11: the stored name, converted from UTF-8
  UnicodePathField,   // a matching 0x7075 field's name, converted from UTF-8
  Unrepresentable,    // the UTF-8 name is malformed or holds a character code page 936 lacks
};

// Decides the name on disk, in code page 936, from the entry's
// general-purpose `flags`, its `storedName` bytes and its `extra` field.
// `diskName` is empty when the rule is Unrepresentable. The result still has
// to pass the confinement and length checks every name passes.
DiskNameRule DecideDiskName(std::uint32_t flags, std::string_view storedName, std::string_view extra,
                            std::string* diskName);

}  // namespace update
