#include "update/install/zip_file_functions.h"

#include <cstdint>
#include <cstdio>

#include "base/stream_position.h"

namespace update {

namespace {

voidpf ZCALLBACK OpenStream(voidpf, const void* path, int mode) {
  // The launcher only reads archives; any other mode is refused.
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || path == nullptr) return nullptr;
  return std::fopen(static_cast<const char*>(path), "rb");
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
  return static_cast<uLong>(std::fread(buffer, 1, size, static_cast<FILE*>(stream)));
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream) {
  std::uint64_t position = 0;
  // minizip takes (ZPOS64_T)-1 for a failed tell.
  if (!base::StreamPosition(static_cast<FILE*>(stream), &position)) return static_cast<ZPOS64_T>(-1);
  return position;
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  base::SeekOrigin from;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: from = base::SeekOrigin::Start; break;
    case ZLIB_FILEFUNC_SEEK_CUR: from = base::SeekOrigin::Current; break;
    case ZLIB_FILEFUNC_SEEK_END: from = base::SeekOrigin::End; break;
    default: return -1;
  }
  return base::SeekBy(static_cast<FILE*>(stream), static_cast<std::int64_t>(offset), from) ? 0 : -1;
}

int ZCALLBACK CloseStream(voidpf, voidpf stream) { return std::fclose(static_cast<FILE*>(stream)) == 0 ? 0 : -1; }

int ZCALLBACK StreamError(voidpf, voidpf stream) { return std::ferror(static_cast<FILE*>(stream)); }

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

unzFile OpenZipForReading(const char* path) {
  zlib_filefunc64_def functions;
  FillZipFileFunctions(&functions);
  return unzOpen2_64(path, &functions);
}

}  // namespace update
