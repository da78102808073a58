// minizip's file functions for reading the client archive. minizip's own
// stdio functions cast every seek offset to zlib's z_off_t, which is a 32-bit
// long on Windows (both targets), so an archive past 2 GiB cannot be opened:
// its end records and every entry beyond that point are out of reach. These
// seek with 64-bit offsets on every target. Pure: no windows.h.
#pragma once

#include <unzip.h>

namespace update {

void FillZipFileFunctions(zlib_filefunc64_def* functions);

// unzOpen2_64 of `path` with the functions above; null when it fails.
unzFile OpenZipForReading(const char* path);

}  // namespace update
