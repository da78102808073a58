// Unpacking the client archive straight over a directory with minizip. The
// update itself goes through staging (update/install/staging.h), which shares the
// archive reading; this in-place form is the measure staging is held to.
#pragma once

namespace progress { struct ProgressTargets; }

namespace update {

// Unpacks every entry of the ZIP archive at `archivePath` below
// `targetDirectory`, replacing files that exist and leaving others alone.
// The share of entries done goes to progress->upperTarget (when not null).
// False when the archive cannot be read, an entry name would reach outside
// the target directory (checked for all entries before anything is written),
// or a file entry cannot be written or its data is corrupt. A directory entry
// whose levels cannot be made is logged and passed over.
bool InstallArchive(const char* targetDirectory, const char* archivePath,
                    progress::ProgressTargets* progress = nullptr);

}  // namespace update
