// minizip's file functions for reading the client archive. minizip's own
// stdio functions cast every seek offset to zlib's z_off_t, which is a 32-bit
// long on Windows (both targets), so an archive past 2 GiB cannot be opened:
// its end records and every entry beyond that point are out of reach. These
// seek with 64-bit offsets on every target. Pure: no windows.h.
#pragma once

#include <unzip.h>

#include <cstdint>

namespace update {

void FillZipFileFunctions(zlib_filefunc64_def* functions);

// The reads of the file itself that a stream opened by those functions has
// made so far (refills of its windows and reads past them).
std::uint64_t ZipStreamFileReads(voidpf stream);

// unzOpen2_64 of `path` with the functions above; null when it fails.
unzFile OpenZipForReading(const char* path);

}  // namespace update
