#include "update/install/zip_file_functions.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/stream_position.h"
#include "base/unique_file.h"

namespace update {

namespace {

// minizip seeks before every read, reads compressed data 16 KiB at a time and
// headers a few dozen bytes at a time; through a plain stream each of those is
// a system call (under Wine several). The archive is read instead through
// windows of kWindowBytes: a seek only moves the position, a small read
// outside the windows refills one of them once, and a read of a window or
// more goes straight to the file. There are two windows because extraction
// alternates between two places of the archive: an entry's header in the
// central directory at its end, then the entry's data; with one window each
// entry would read both afresh.
constexpr std::size_t kWindowBytes = 64 * 1024;
constexpr std::size_t kWindows = 2;

struct Window {
  std::uint64_t start = 0;
  std::size_t length = 0;
  std::uint64_t lastUse = 0;  // the read that used it last: the older one is refilled
  bool Holds(std::uint64_t offset) const { return offset >= start && offset - start < length; }
  bool HoldsAll(std::uint64_t offset, std::size_t count) const {
    return Holds(offset) && count <= length - (offset - start);
  }
};

struct WindowedArchive {
  base::UniqueFile file;
  std::uint64_t size = 0;          // of the whole file, for seeks from its end
  std::uint64_t position = 0;      // where the next read starts
  std::uint64_t filePosition = 0;  // where the stream itself stands
  std::uint64_t uses = 0;
  std::uint64_t fileReads = 0;     // reads of the file itself, for the tests
  bool failed = false;
  Window windows[kWindows];
  unsigned char bytes[kWindows][kWindowBytes];

  bool MoveFileTo(std::uint64_t offset) {
    if (offset == filePosition) return true;
    if (!base::SeekTo(file.Get(), offset)) return false;
    filePosition = offset;
    return true;
  }

  // Reads from the stream at `position`; false on an error (a short read at
  // the end is not one).
  bool ReadFile(unsigned char* out, std::size_t count, std::size_t* got) {
    *got = 0;
    ++fileReads;
    if (!MoveFileTo(position)) return false;
    *got = std::fread(out, 1, count, file.Get());
    filePosition += *got;
    return *got == count || !std::ferror(file.Get());
  }

  std::size_t Read(unsigned char* out, std::size_t count) {
    std::size_t done = 0;
    ++uses;
    while (done < count) {
      std::size_t w = 0;
      while (w < kWindows && !windows[w].Holds(position)) ++w;
      if (w < kWindows) {
        Window& window = windows[w];
        window.lastUse = uses;
        const std::size_t offset = static_cast<std::size_t>(position - window.start);
        const std::size_t piece = std::min(count - done, window.length - offset);
        std::memcpy(out + done, bytes[w] + offset, piece);
        done += piece;
        position += piece;
        continue;
      }
      std::size_t got = 0;
      if (count - done >= kWindowBytes) {
        const bool ok = ReadFile(out + done, count - done, &got);
        done += got;
        position += got;
        if (!ok) failed = true;
        break;
      }
      w = 0;
      for (std::size_t i = 1; i < kWindows; ++i)
        if (windows[i].lastUse < windows[w].lastUse) w = i;
      const bool ok = ReadFile(bytes[w], kWindowBytes, &got);
      windows[w].start = position;
      windows[w].length = got;
      windows[w].lastUse = uses;
      if (!ok) failed = true;
      if (got == 0) break;
    }
    return done;
  }
};

WindowedArchive* Archive(voidpf stream) { return static_cast<WindowedArchive*>(stream); }

// `opaque`, when given, is where the opened stream is also handed out (see
// OpenZipForReading).
voidpf ZCALLBACK OpenStream(voidpf opaque, const void* path, int mode) {
  // The launcher only reads archives; any other mode is refused.
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || path == nullptr) return nullptr;
  auto archive = std::make_unique<WindowedArchive>();
  archive->file.Reset(std::fopen(static_cast<const char*>(path), "rb"));
  if (!archive->file || !base::StreamSize(archive->file.Get(), &archive->size)) return nullptr;
  if (opaque != nullptr) *static_cast<voidpf*>(opaque) = archive.get();
  return archive.release();
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
  return static_cast<uLong>(Archive(stream)->Read(static_cast<unsigned char*>(buffer), size));
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream) { return Archive(stream)->position; }

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  WindowedArchive* archive = Archive(stream);
  std::uint64_t from = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: from = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: from = archive->position; break;
    case ZLIB_FILEFUNC_SEEK_END: from = archive->size; break;
    default: return -1;
  }
  // minizip passes offsets back from the end as their two's complement.
  const std::uint64_t target = from + offset;
  const bool backwards = static_cast<std::int64_t>(offset) < 0;
  if (backwards ? target > from : target < from) return -1;
  archive->position = target;
  return 0;
}

int ZCALLBACK CloseStream(voidpf, voidpf stream) {
  std::unique_ptr<WindowedArchive> archive(Archive(stream));
  return archive->file.Close() ? 0 : -1;
}

int ZCALLBACK StreamError(voidpf, voidpf stream) { return Archive(stream)->failed ? 1 : 0; }

}  // namespace

void FillZipFileFunctions(zlib_filefunc64_def* functions) {
  functions->zopen64_file = &OpenStream;
  functions->zread_file = &ReadStream;
  functions->zwrite_file = &WriteStream;
  functions->ztell64_file = &TellStream;
  functions->zseek64_file = &SeekStream;
  functions->zclose_file = &CloseStream;
  functions->zerror_file = &StreamError;
  functions->opaque = nullptr;
}

std::uint64_t ZipStreamFileReads(voidpf stream) { return Archive(stream)->fileReads; }

bool ReadZipStream(voidpf stream, std::uint64_t offset, void* out, std::size_t count) {
  WindowedArchive* archive = Archive(stream);
  archive->position = offset;
  return archive->Read(static_cast<unsigned char*>(out), count) == count && !archive->failed;
}

const unsigned char* ZipStreamWindowView(voidpf stream, std::uint64_t offset, std::size_t count) {
  WindowedArchive* archive = Archive(stream);
  for (std::size_t w = 0; w < kWindows; ++w) {
    Window& window = archive->windows[w];
    if (!window.HoldsAll(offset, count)) continue;
    window.lastUse = ++archive->uses;
    archive->position = offset + count;
    return archive->bytes[w] + (offset - window.start);
  }
  return nullptr;
}

unzFile OpenZipForReading(const char* path, voidpf* stream) {
  zlib_filefunc64_def functions;
  FillZipFileFunctions(&functions);
  // minizip opens the stream once, inside unzOpen2_64, and passes `opaque`
  // to nothing else that reads it.
  voidpf opened = nullptr;
  functions.opaque = &opened;
  unzFile archive = unzOpen2_64(path, &functions);
  if (stream != nullptr) *stream = archive != nullptr ? opened : nullptr;
  return archive;
}

}  // namespace update
