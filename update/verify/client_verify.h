// Verification of the installed client against the archive it was installed
// from: every file entry of the archive's central directory is compared with
// the file of the same name under the client directory, by size first and
// then by the CRC-32 of its bytes. Only files the archive names are read;
// nothing is written. Pure: stdio, minizip and zlib, no windows.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace update {

enum class EntryDamage : std::uint8_t {
  Missing,         // no file of that name can be opened for reading
  SizeDiffers,     // its size is not the size the archive declares
  ContentDiffers,  // the size is right, the CRC-32 (or a read) is not
};

struct DamagedEntry {
  std::string name;  // the entry's name on disk, below the client directory (update/install/zip_entry_header.h)
  EntryDamage damage;
};

enum class VerifyOutcome : std::uint8_t {
  Verified,           // every file entry was compared; `damaged` lists the differences
  ArchiveUnreadable,  // the archive cannot be opened or its directory read (or declares absurd sizes)
  EntryRefused,       // an entry name cannot be represented, would reach outside the client directory or not fit
};

struct VerifyReport {
  VerifyOutcome outcome = VerifyOutcome::ArchiveUnreadable;
  std::uint64_t filesChecked = 0;  // file entries compared
  std::uint64_t bytesRead = 0;     // bytes of the client read and checksummed
  std::uint32_t threads = 0;       // threads that shared the reading (this one and its helpers)
  std::vector<DamagedEntry> damaged;
  std::string refusedName;  // the refused entry's name as the archive stores it (EntryRefused only)
};

// Told, as the verification goes, how many of the bytes that the archive's
// file entries declare are done (read, or passed over for a file found
// missing or of the wrong size). Files are read by several threads; the calls
// come from any of them, one at a time, with `done` never going back.
// `total` is the same in every call; the last call has done == total.
using VerifyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Verifies every file entry of the ZIP archive at `archivePath` against
// `clientDirectory` ("<clientDirectory>/<entry name>"). Directory entries are
// passed over. Entry names follow the installer's rules: a name that is not
// confined to the client directory refuses the whole verification before any
// file is read. An archive without entries verifies with nothing to compare.
// With `only`, just the file entries of those names are compared (after a
// mend, to see what it brought into place). `threads` reading threads share
// the files' pieces (never more than there are pieces); 0 takes the default,
// VerifyDefaultThreads().
VerifyReport VerifyClient(const char* clientDirectory, const char* archivePath,
                          const VerifyProgress& progress = nullptr, const std::vector<std::string>* only = nullptr,
                          unsigned threads = 0);

// The default number of reading threads: one per hardware thread, at most
// kVerifyMaxDefaultThreads (more gains little against a disk, and leaves the
// player's other programs less).
unsigned VerifyDefaultThreads();
constexpr unsigned kVerifyMaxDefaultThreads = 4;

// The upper bar's percentage for `done` of `total` bytes (100 when there is
// nothing to do); never above 100.
std::int32_t VerifyPercent(std::uint64_t done, std::uint64_t total);

// The block size in which files are read: large, so that verifying costs
// little more than reading the files once.
constexpr std::size_t kVerifyBlockSize = 1u << 20;
// Files are shared out among the verifying threads in pieces of this size;
// the CRCs of a file's pieces are joined in order.
constexpr std::uint64_t kVerifyPieceSize = 8 * static_cast<std::uint64_t>(kVerifyBlockSize);

}  // namespace update
