// What an update with a manifest has to do, decided before anything is
// fetched: which entries of the new version must come from the archive (their
// content differs from what the installed manifest says, or their file in
// Game is missing or of another size; with no installed manifest, a check of
// Game by size and then CRC-32 decides), which files and directories the new
// version dropped, and the byte ranges that fetch the needed entries'
// spans. Pure: no windows.h; Game is looked at through InstalledFiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest/manifest.h"

namespace update {

// Two spans are fetched in one request when at most this many bytes lie
// between them: fewer requests, at the price of a few unneeded bytes.
constexpr std::uint64_t kMaxSpanGap = 256 * 1024;

// What the plan needs to know of the files in Game, by their names below it.
class InstalledFiles {
 public:
  virtual ~InstalledFiles() = default;
  // True, with its size, when Game holds a file of that name.
  virtual bool FileSize(const std::string& name, std::uint64_t* size) = 0;
  // True, with the CRC-32 of its content, when the file could be read whole.
  virtual bool FileCrc(const std::string& name, std::uint32_t* crc) = 0;
};

// One request: [offset, offset + length) of the archive, covering the spans
// of `entries` (indices into the new manifest, in ascending span order) and
// the gaps between them.
struct FetchRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::vector<std::size_t> entries;
};

struct FetchPlan {
  std::vector<std::size_t> fetch;           // new file entries whose content is fetched, in manifest order
  std::vector<FetchRange> ranges;           // the requests that fetch them, in ascending offset order
  std::uint64_t spanBytes = 0;              // the needed spans' bytes alone
  std::uint64_t rangeBytes = 0;             // the requests' bytes, gaps included
  bool wholeArchive = false;                // the needed bytes exceed half the archive: fetch it in one request
  std::vector<std::string> removedFiles;    // named by the installed manifest only, in its order
  std::vector<std::string> removedDirectories;  // likewise, deepest first; removed only when left empty
};

// Whether two names below Game name the same file: Windows compares them
// without regard to the case of ASCII letters, and "/" and "\" both separate
// levels. A trailing separator (a directory entry's) does not count.
bool SameDiskName(const std::string& a, const std::string& b);

// Joins spans into requests: a span joins the previous request when it
// begins at most `maxGap` bytes after that request's end. Spans must be in
// ascending, non-overlapping order (as a parsed manifest's are).
std::vector<FetchRange> CoalesceSpans(const Manifest& manifest, const std::vector<std::size_t>& entries,
                                      std::uint64_t maxGap = kMaxSpanGap);

// Whether an update that needs `rangeBytes` of an archive of `archiveSize`
// bytes does better to fetch it whole: when it needs more than half.
bool NeedsWholeArchive(std::uint64_t rangeBytes, std::uint64_t archiveSize);

// The plan for updating Game, described by `installed` (null: a client
// installed without a manifest, which gets no removals), to `target`.
FetchPlan PlanFetch(const Manifest& target, const Manifest* installed, InstalledFiles& game);

}  // namespace update
