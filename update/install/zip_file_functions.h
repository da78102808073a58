// minizip's file functions for reading the client archive. minizip's own
// stdio functions cast every seek offset to zlib's z_off_t, which is a 32-bit
// long on Windows (both targets), so an archive past 2 GiB cannot be opened:
// its end records and every entry beyond that point are out of reach. These
// seek with 64-bit offsets on every target. Pure: no windows.h.
#pragma once

#include <unzip.h>

#include <cstddef>
#include <cstdint>

namespace update {

void FillZipFileFunctions(zlib_filefunc64_def* functions);

// The reads of the file itself that a stream opened by those functions has
// made so far (refills of its windows and reads past them).
std::uint64_t ZipStreamFileReads(voidpf stream);

// `count` bytes at `offset` of a stream opened by those functions, through
// its windows: a small read that they hold costs no read of the file (an
// entry's data mostly lies in the window that minizip's read of its local
// header has just filled). False unless all `count` bytes were read.
bool ReadZipStream(voidpf stream, std::uint64_t offset, void* out, std::size_t count);

// The `count` bytes at `offset` of such a stream where one of its windows
// holds them all, without a copy; valid until the stream's next read.
// Null where no window holds them all: read them with ReadZipStream.
const unsigned char* ZipStreamWindowView(voidpf stream, std::uint64_t offset, std::size_t count);

// unzOpen2_64 of `path` with the functions above; null when it fails. When
// `stream` is given, it receives the stream the archive reads through (null
// when the archive could not be opened), valid until unzClose.
unzFile OpenZipForReading(const char* path, voidpf* stream = nullptr);

}  // namespace update
