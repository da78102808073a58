// Deflate data inflated two ways: by zlib, the reference, and by the
// launcher's streaming inflater fed in pieces of a given size. The tests and
// the fuzz target compare the two.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "update/install/stream_inflate.h"

namespace test_support {

struct Inflated {
  bool ended = false;            // the final block ended
  std::string bytes;             // the output (whole only when ended)
  std::size_t trailingBytes = 0; // input bytes after the stream's end
};

// zlib over the whole input at once.
inline Inflated InflateWithZlib(const std::string& deflated) {
  Inflated result;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return result;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  z.avail_in = static_cast<uInt>(deflated.size());
  char out[64 * 1024];
  int status = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(out);
    z.avail_out = sizeof out;
    status = inflate(&z, Z_NO_FLUSH);
    result.bytes.append(out, sizeof out - z.avail_out);
  } while (status == Z_OK && (z.avail_out == 0 || z.avail_in > 0));
  result.ended = status == Z_STREAM_END;
  result.trailingBytes = z.avail_in;
  inflateEnd(&z);
  return result;
}

// Pieces of at most `piece` bytes, each in a buffer of its own (a read past
// a piece is a read past its allocation).
class PiecesSource : public update::InflateSource {
 public:
  PiecesSource(const std::string& data, std::size_t piece) : data_(data), piece_(std::max<std::size_t>(piece, 1)) {}
  bool NextPiece(const unsigned char** data, std::size_t* size) override {
    const std::size_t n = std::min(piece_, data_.size() - at_);
    current_.assign(data_, at_, n);
    at_ += n;
    *data = reinterpret_cast<const unsigned char*>(current_.data());
    *size = n;
    return true;
  }
  std::size_t Unasked() const { return data_.size() - at_; }

 private:
  const std::string& data_;
  const std::size_t piece_;
  std::size_t at_ = 0;
  std::string current_;
};

class StringSink : public update::InflateSink {
 public:
  bool Take(const unsigned char* data, std::size_t size) override {
    largestPiece = std::max(largestPiece, size);
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
  std::size_t largestPiece = 0;
};

inline Inflated InflateInPieces(update::StreamInflater& inflater, const std::string& deflated, std::size_t piece) {
  PiecesSource source(deflated, piece);
  StringSink sink;
  const update::InflateResult result = inflater.Inflate(source, sink);
  Inflated out;
  out.ended = result.outcome == update::InflateOutcome::Ended;
  out.bytes = std::move(sink.bytes);
  // zlib counts all that follows; the inflater only what it was given.
  out.trailingBytes = static_cast<std::size_t>(result.trailingBytes) + source.Unasked();
  return out;
}

}  // namespace test_support
