// zlib's inflater of raw deflate data (a ZIP entry's, or one chunk's), owned:
// ended with its scope. `ready` is false when zlib could not make it.
#pragma once

#include <zlib.h>

namespace update {

struct RawInflate {
  z_stream stream{};
  bool ready = false;
  RawInflate() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
  ~RawInflate() {
    if (ready) inflateEnd(&stream);
  }
  RawInflate(const RawInflate&) = delete;
  RawInflate& operator=(const RawInflate&) = delete;
};

}  // namespace update
