#include "update/install/stream_inflate.h"

#include <cstring>

// The decoding of one symbol is written once and must be inlined into the
// fast loop, where the bit buffer and the pointers live in registers.
#if defined(__GNUC__)
#define INFLATE_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define INFLATE_ALWAYS_INLINE inline
#endif

namespace update {
namespace {

// A table entry: bits 0-3 the code's bits, bits 4-8 the code's bits and the
// extra bits of its length or distance together (dropped at once) or a
// subtable's index bits, bits 9-12 what the entry is, bits 16-31 its value
// (a literal, a base, a subtable's start). An entry with none of the kind
// bits is a code the stream may not use.
constexpr std::uint32_t kLiteral = 0x200;   // value: the byte (or a code length)
constexpr std::uint32_t kBase = 0x400;      // value: a length's or distance's base
constexpr std::uint32_t kEndOfBlock = 0x800;
constexpr std::uint32_t kSubtable = 0x1000;  // value: where the subtable starts

constexpr unsigned kLitRootBits = 10;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kPrecodeBits = 7;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kLitSymbols = 288;
constexpr unsigned kDistSymbols = 32;
constexpr unsigned kPrecodeSymbols = 19;
// Every long code may own a subtable of at most 2^(15 - root) entries.
constexpr std::size_t kLitTableSize = (std::size_t{1} << kLitRootBits) + kLitSymbols * (1u << (kMaxCodeBits - kLitRootBits));
constexpr std::size_t kDistTableSize =
    (std::size_t{1} << kDistRootBits) + kDistSymbols * (1u << (kMaxCodeBits - kDistRootBits));

constexpr std::size_t kHistory = 32 * 1024;  // the farthest a match reaches back
// Room past the output piece for one whole match and the 8-byte copy's overrun.
constexpr std::size_t kWindowSize = kHistory + kInflateOutputPiece + 258 + 16;

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                         33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kPrecodeOrder[kPrecodeSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

std::uint32_t LitPayload(unsigned symbol) {
  if (symbol < 256) return kLiteral | (symbol << 16);
  if (symbol == 256) return kEndOfBlock;
  if (symbol < 286) {
    const unsigned i = symbol - 257;
    return kBase | (std::uint32_t{kLengthBase[i]} << 16) | (std::uint32_t{kLengthExtra[i]} << 4);
  }
  return 0;  // 286 and 287 have fixed codes but may not occur
}

std::uint32_t DistPayload(unsigned symbol) {
  if (symbol < 30) return kBase | (std::uint32_t{kDistBase[symbol]} << 16) | (std::uint32_t{kDistExtra[symbol]} << 4);
  return 0;  // 30 and 31 have fixed codes but may not occur
}

std::uint32_t PrecodePayload(unsigned symbol) { return kLiteral | (symbol << 16); }

unsigned Reversed(unsigned code, unsigned bits) {
  unsigned out = 0;
  for (unsigned i = 0; i < bits; ++i) {
    out = (out << 1) | (code & 1);
    code >>= 1;
  }
  return out;
}

enum class CodeKind { Precode, Symbols };

// Fills a two-level table from a canonical code's lengths. zlib's rules: no
// length set is over-subscribed; a code may be incomplete only when it is
// a single code of one bit (or empty) and codes lengths are never incomplete.
bool BuildTable(const std::uint8_t* lengths, unsigned count, std::uint32_t (*payload)(unsigned), unsigned rootBits,
                std::uint32_t* table, std::size_t capacity, CodeKind kind) {
  unsigned perLength[kMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < count; ++s) ++perLength[lengths[s]];
  perLength[0] = 0;
  unsigned longest = 0;
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    left = left * 2 - static_cast<int>(perLength[len]);
    if (left < 0) return false;
    if (perLength[len] != 0) longest = len;
  }
  if (left > 0 && longest != 0 && (kind == CodeKind::Precode || longest != 1)) return false;
  const std::size_t rootSize = std::size_t{1} << rootBits;
  std::memset(table, 0, rootSize * sizeof *table);
  if (longest == 0) return true;  // no code at all: every entry refuses

  unsigned nextCode[kMaxCodeBits + 1] = {};
  unsigned code = 0;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    code = (code + perLength[len - 1]) << 1;
    nextCode[len] = code;
  }
  unsigned codes[kLitSymbols] = {};
  // The longest code under each root entry sizes that entry's subtable.
  std::uint8_t deepest[std::size_t{1} << kLitRootBits] = {};
  for (unsigned s = 0; s < count; ++s) {
    const unsigned len = lengths[s];
    if (len == 0) continue;
    codes[s] = nextCode[len]++;
    if (len > rootBits) {
      const unsigned root = Reversed(codes[s] >> (len - rootBits), rootBits);
      if (deepest[root] < len) deepest[root] = static_cast<std::uint8_t>(len);
    }
  }
  std::size_t used = rootSize;
  for (std::size_t root = 0; root < rootSize; ++root) {
    if (deepest[root] == 0) continue;
    const unsigned subBits = deepest[root] - rootBits;
    const std::size_t subSize = std::size_t{1} << subBits;
    if (used + subSize > capacity) return false;
    std::memset(table + used, 0, subSize * sizeof *table);
    table[root] = kSubtable | (static_cast<std::uint32_t>(used) << 16) | (subBits << 4);
    used += subSize;
  }
  for (unsigned s = 0; s < count; ++s) {
    const unsigned len = lengths[s];
    if (len == 0) continue;
    if (len <= rootBits) {
      const std::uint32_t entry = payload(s) + (len << 4) + len;
      for (std::size_t i = Reversed(codes[s], len); i < rootSize; i += std::size_t{1} << len) table[i] = entry;
      continue;
    }
    const std::uint32_t pointer = table[Reversed(codes[s] >> (len - rootBits), rootBits)];
    const std::size_t start = pointer >> 16;
    const std::size_t subSize = std::size_t{1} << ((pointer >> 4) & 31);
    const unsigned rest = len - rootBits;
    const std::uint32_t entry = payload(s) + (rest << 4) + rest;
    for (std::size_t i = Reversed(codes[s] & ((1u << rest) - 1), rest); i < subSize; i += std::size_t{1} << rest)
      table[start + i] = entry;
  }
  return true;
}

// The bit buffer is the machine's word, refilled a word at a time: 64 bits
// where registers are that wide (a symbol with both its codes fits one
// refill), 32 elsewhere (a symbol refills between its codes).
using BitBuffer = std::size_t;
constexpr unsigned kBufferBits = sizeof(BitBuffer) * 8;
constexpr unsigned kFilledBits = kBufferBits - 7;  // what a refill leaves at least
static_assert(kFilledBits >= kMaxCodeBits + 5, "a length code and its extra bits fit one refill");
static_assert(kFilledBits >= kMaxCodeBits + kLitRootBits, "a second literal fits after a first");

BitBuffer LoadWord(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  BitBuffer v;
  std::memcpy(&v, p, sizeof v);
  return v;
#else
  BitBuffer v = 0;
  for (std::size_t i = sizeof v; i-- > 0;) v = (v << 8) | p[i];
  return v;
#endif
}

// A root entry, or for a long code the entry of its subtable that the bits
// after the root's select (the root's bits then dropped).
INFLATE_ALWAYS_INLINE std::uint32_t UnderRoot(std::uint32_t entry, const std::uint32_t* table, unsigned rootBits,
                                              BitBuffer& bits, unsigned& count) {
  if ((entry & kSubtable) == 0) return entry;
  bits >>= rootBits;
  count -= rootBits;
  return table[(entry >> 16) + (static_cast<std::uint32_t>(bits) & ((std::uint32_t{1} << ((entry >> 4) & 31)) - 1))];
}

// Tops the buffer up from `in`, which holds a word: bits above the count may
// then hold the bytes that follow, and a later refill puts the same bytes on
// them again.
INFLATE_ALWAYS_INLINE void RefillWord(BitBuffer& bits, unsigned& count, const unsigned char*& in) {
  bits |= LoadWord(in) << count;
  in += (kBufferBits - 1 - count) >> 3;
  count |= kBufferBits - 8;
}

}  // namespace

struct StreamInflater::Tables {
  std::uint32_t fixedLit[kLitTableSize];
  std::uint32_t fixedDist[kDistTableSize];
  std::uint32_t lit[kLitTableSize];
  std::uint32_t dist[kDistTableSize];
  std::uint32_t precode[std::size_t{1} << kPrecodeBits];
  std::uint8_t lengths[kLitSymbols + kDistSymbols];
};

namespace {

enum class Symbol { Literal, Match, EndOfBlock, Bad, Stopped };  // Stopped: the source failed

// One stream's decoding: the bit buffer, the input piece and the output.
class Decoder {
 public:
  Decoder(StreamInflater::Tables& tables, unsigned char* window, InflateSource& source, InflateSink& sink)
      : t_(tables), window_(window), out_(window), flushFrom_(window), limit_(window + kInflateOutputPiece), source_(source),
        sink_(sink) {}

  InflateResult Run() {
    bool final = false;
    while (!final) {
      if (!Need(3)) return Failed();
      final = (bits_ & 1) != 0;
      const unsigned type = static_cast<unsigned>(bits_ >> 1) & 3;
      Drop(3);
      bool good = false;
      if (type == 0) good = StoredBlock();
      else if (type == 1) good = HuffmanBlock(t_.fixedLit, t_.fixedDist);
      else if (type == 2) good = DynamicTables() && HuffmanBlock(t_.lit, t_.dist);
      if (!good) return Failed();
    }
    if (!Flush()) return Failed();
    const unsigned bufferedBytes = count_ >> 3;
    if (overrun_ > bufferedBytes) return Failed();  // bits past the data were used
    InflateResult result;
    result.outcome = InflateOutcome::Ended;
    result.trailingBytes = (bufferedBytes - overrun_) + static_cast<std::uint64_t>(inEnd_ - in_);
    return result;
  }

 private:
  InflateResult Failed() const {
    InflateResult result;
    result.outcome = failure_;
    return result;
  }
  bool Bad() {
    failure_ = InflateOutcome::BadData;
    return false;
  }

  void Drop(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  std::uint32_t Peek(unsigned n) const { return static_cast<std::uint32_t>(bits_) & ((std::uint32_t{1} << n) - 1); }
  bool Need(unsigned n) { return count_ >= n || Refill(); }

  // Fills the buffer to at least kFilledBits.
  bool Refill() {
    if (inEnd_ - in_ >= static_cast<std::ptrdiff_t>(sizeof(BitBuffer))) {
      RefillWord(bits_, count_, in_);
      return true;
    }
    return RefillByBytes();
  }
  // The source's next piece in place of the spent one, or its end noted;
  // false when it could not read.
  bool TakePiece() {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    if (!source_.NextPiece(&data, &size)) {
      failure_ = InflateOutcome::SourceFailed;
      return false;
    }
    if (size == 0) {
      sourceEnded_ = true;
    } else {
      in_ = data;
      inEnd_ = data + size;
    }
    return true;
  }
  bool RefillByBytes() {
    while (count_ <= kBufferBits - 8) {
      if (in_ == inEnd_ && !sourceEnded_) {
        if (!TakePiece()) return false;
        continue;
      }
      BitBuffer byte = 0;
      if (in_ != inEnd_) {
        byte = *in_++;
      } else if (++overrun_ > sizeof(BitBuffer)) {
        return Bad();  // the stream runs on past its data
      }
      bits_ |= byte << count_;
      count_ += 8;
    }
    return true;
  }

  bool Flush() {
    if (out_ != flushFrom_ && !sink_.Take(flushFrom_, static_cast<std::size_t>(out_ - flushFrom_))) {
      failure_ = InflateOutcome::SinkStopped;
      return false;
    }
    if (static_cast<std::size_t>(out_ - window_) > kHistory) {
      std::memmove(window_, out_ - kHistory, kHistory);
      out_ = window_ + kHistory;
    }
    flushFrom_ = out_;
    limit_ = out_ + kInflateOutputPiece;
    return true;
  }
  bool MakeRoom() { return out_ < limit_ || Flush(); }

  bool StoredBlock() {
    Drop(count_ & 7);
    // LEN and NLEN, then the bytes: first those already in the bit buffer.
    if (!Need(16)) return false;
    const unsigned length = Peek(16);
    Drop(16);
    if (!Need(16)) return false;
    const unsigned complement = Peek(16);
    Drop(16);
    if ((length ^ 0xffff) != complement) return Bad();
    unsigned left = length;
    while (left > 0 && count_ >= 8) {
      if (!MakeRoom()) return false;
      if (overrun_ * 8 >= count_) return Bad();  // this byte is past the data
      *out_++ = static_cast<unsigned char>(bits_);
      Drop(8);
      --left;
    }
    if (left == 0) return true;
    // The buffer is empty: the rest comes straight from the pieces.
    bits_ = 0;
    count_ = 0;
    while (left > 0) {
      if (in_ == inEnd_) {
        if (sourceEnded_) return Bad();  // the block runs on past the data
        if (!TakePiece()) return false;
        continue;
      }
      if (!MakeRoom()) return false;
      std::size_t n = static_cast<std::size_t>(inEnd_ - in_);
      const std::size_t room = static_cast<std::size_t>(limit_ - out_);
      if (n > room) n = room;
      if (n > left) n = left;
      std::memcpy(out_, in_, n);
      out_ += n;
      in_ += n;
      left -= static_cast<unsigned>(n);
    }
    return true;
  }

  bool DynamicTables() {
    if (!Need(14)) return false;
    const unsigned litCount = Peek(5) + 257;
    const unsigned distCount = (static_cast<unsigned>(bits_ >> 5) & 31) + 1;
    const unsigned precodeCount = (static_cast<unsigned>(bits_ >> 10) & 15) + 4;
    Drop(14);
    if (litCount > 286 || distCount > 30) return Bad();
    std::uint8_t precodeLengths[kPrecodeSymbols] = {};
    for (unsigned i = 0; i < precodeCount; ++i) {
      if (!Need(3)) return false;
      precodeLengths[kPrecodeOrder[i]] = static_cast<std::uint8_t>(Peek(3));
      Drop(3);
    }
    if (!BuildTable(precodeLengths, kPrecodeSymbols, PrecodePayload, kPrecodeBits, t_.precode,
                    std::size_t{1} << kPrecodeBits, CodeKind::Precode))
      return Bad();
    const unsigned total = litCount + distCount;
    std::uint8_t* lengths = t_.lengths;
    unsigned i = 0;
    while (i < total) {
      if (!Need(kPrecodeBits + 7)) return false;
      const std::uint32_t entry = t_.precode[Peek(kPrecodeBits)];
      if ((entry & kLiteral) == 0) return Bad();
      Drop(entry & 15);
      const unsigned symbol = entry >> 16;
      if (symbol < 16) {
        lengths[i++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      std::uint8_t value = 0;
      unsigned repeat = 0;
      if (symbol == 16) {
        if (i == 0) return Bad();
        value = lengths[i - 1];
        repeat = 3 + Peek(2);
        Drop(2);
      } else if (symbol == 17) {
        repeat = 3 + Peek(3);
        Drop(3);
      } else {
        repeat = 11 + Peek(7);
        Drop(7);
      }
      if (repeat > total - i) return Bad();
      std::memset(lengths + i, value, repeat);
      i += repeat;
    }
    if (lengths[256] == 0) return Bad();  // a block must be able to end
    if (!BuildTable(lengths, litCount, LitPayload, kLitRootBits, t_.lit, kLitTableSize, CodeKind::Symbols) ||
        !BuildTable(lengths + litCount, distCount, DistPayload, kDistRootBits, t_.dist, kDistTableSize,
                    CodeKind::Symbols))
      return Bad();
    return true;
  }

  // A block's symbols: as many as possible in the fast loop, and one at a
  // time the careful way where the input piece or the output piece ends.
  bool HuffmanBlock(const std::uint32_t* lit, const std::uint32_t* dist) {
    const auto refill = [this] { return Refill(); };
    for (;;) {
      Symbol symbol = FastSymbols(lit, dist);
      if (symbol == Symbol::Literal || symbol == Symbol::Match) {
        if (!MakeRoom() || !Refill()) return false;
        symbol = DecodeSymbol(bits_, count_, out_, window_, lit, dist, refill);
      }
      if (symbol == Symbol::EndOfBlock) return true;
      if (symbol == Symbol::Stopped) return false;
      if (symbol == Symbol::Bad) return Bad();
    }
  }

  // Symbols while the piece holds words to refill from and the output has
  // room, kept in locals (a byte written through a pointer could be any
  // member). Each symbol's successor is looked up before the symbol's bytes
  // are written, so that the table's load overlaps the copy. Literal or
  // Match: the loop ran out of input or room.
  Symbol FastSymbols(const std::uint32_t* lit, const std::uint32_t* dist) {
    // A symbol refills at most three times.
    constexpr std::ptrdiff_t kInputNeeded = 4 * sizeof(BitBuffer);
    if (inEnd_ - in_ < kInputNeeded || out_ >= limit_) return Symbol::Literal;
    BitBuffer bits = bits_;
    unsigned count = count_;
    const unsigned char* in = in_;
    unsigned char* out = out_;
    unsigned char* const window = window_;
    const unsigned char* const inLast = inEnd_ - kInputNeeded;
    unsigned char* const limit = limit_;
    const auto refill = [&bits, &count, &in] {
      RefillWord(bits, count, in);
      return true;
    };
    const auto peek = [&bits](unsigned n) {
      return static_cast<std::uint32_t>(bits) & ((std::uint32_t{1} << n) - 1);
    };
    Symbol symbol = Symbol::Literal;
    RefillWord(bits, count, in);
    std::uint32_t entry = lit[peek(kLitRootBits)];
    for (;;) {
      entry = UnderRoot(entry, lit, kLitRootBits, bits, count);
      if (entry & kLiteral) {
        bits >>= entry & 15;
        count -= entry & 15;
        *out++ = static_cast<unsigned char>(entry >> 16);
        if (in > inLast || out >= limit) break;
        RefillWord(bits, count, in);
        entry = lit[peek(kLitRootBits)];
        continue;
      }
      std::size_t length = 0;
      std::size_t distance = 0;
      symbol = DecodeMatch(bits, count, entry, dist, refill, &length, &distance);
      if (symbol != Symbol::Match) break;
      if (distance > static_cast<std::size_t>(out - window)) {  // before the stream's start
        symbol = Symbol::Bad;
        break;
      }
      if (in > inLast || out + length >= limit) {
        CopyMatch(out, distance, length);
        break;
      }
      RefillWord(bits, count, in);
      entry = lit[peek(kLitRootBits)];
      CopyMatch(out, distance, length);
    }
    bits_ = bits;
    count_ = count;
    in_ = in;
    out_ = out;
    return symbol;
  }

  // One symbol from a buffer of at least kFilledBits into output with room
  // for a whole match.
  template <class Refill>
  static INFLATE_ALWAYS_INLINE Symbol DecodeSymbol(BitBuffer& bits, unsigned& count, unsigned char*& out,
                                                   unsigned char* window, const std::uint32_t* lit,
                                                   const std::uint32_t* dist, const Refill& refill) {
    const std::uint32_t entry =
        UnderRoot(lit[static_cast<std::uint32_t>(bits) & ((1u << kLitRootBits) - 1)], lit, kLitRootBits, bits, count);
    if (entry & kLiteral) {
      bits >>= entry & 15;
      count -= entry & 15;
      *out++ = static_cast<unsigned char>(entry >> 16);
      return Symbol::Literal;
    }
    std::size_t length = 0;
    std::size_t distance = 0;
    const Symbol symbol = DecodeMatch(bits, count, entry, dist, refill, &length, &distance);
    if (symbol != Symbol::Match) return symbol;
    if (distance > static_cast<std::size_t>(out - window)) return Symbol::Bad;  // before the stream's start
    CopyMatch(out, distance, length);
    return Symbol::Match;
  }

  // The rest of a symbol whose length/literal entry is not a literal: the
  // end of the block, a bad code, or a length and then its distance. A
  // narrow buffer is refilled before the distance code, and before the
  // distance's extra bits when those need it.
  template <class Refill>
  static INFLATE_ALWAYS_INLINE Symbol DecodeMatch(BitBuffer& bits, unsigned& count, std::uint32_t entry,
                                                  const std::uint32_t* dist, const Refill& refill, std::size_t* length,
                                                  std::size_t* distance) {
    const auto peek = [&bits](unsigned n) {
      return static_cast<std::uint32_t>(bits) & ((std::uint32_t{1} << n) - 1);
    };
    const auto drop = [&bits, &count](unsigned n) {
      bits >>= n;
      count -= n;
    };
    if ((entry & kBase) == 0) {
      drop(entry & 15);
      return entry & kEndOfBlock ? Symbol::EndOfBlock : Symbol::Bad;
    }
    const unsigned lengthBits = (entry >> 4) & 31;
    *length = (entry >> 16) + (peek(lengthBits) >> (entry & 15));
    drop(lengthBits);
    // The length took at most 20 bits; the distance takes at most 28.
    if (kFilledBits < 20 + 28 && !refill()) return Symbol::Stopped;
    entry = UnderRoot(dist[peek(kDistRootBits)], dist, kDistRootBits, bits, count);
    if ((entry & kBase) == 0) return Symbol::Bad;
    const unsigned distanceBits = (entry >> 4) & 31;
    *distance = entry >> 16;
    if (kFilledBits >= 28 || count >= distanceBits) {
      *distance += peek(distanceBits) >> (entry & 15);
      drop(distanceBits);
    } else {
      drop(entry & 15);
      if (!refill()) return Symbol::Stopped;
      const unsigned extra = distanceBits - (entry & 15);
      *distance += peek(extra);
      drop(extra);
    }
    return Symbol::Match;
  }

  static INFLATE_ALWAYS_INLINE void CopyMatch(unsigned char*& out, std::size_t distance, std::size_t length) {
    const unsigned char* from = out - distance;
    unsigned char* const end = out + length;
    if (distance >= 8) {
      // Eight bytes at a time: each read lies wholly before its write. The
      // first 16 go unconditionally (most matches are that short), and the
      // last copy may run up to 15 bytes past the match into the window's room.
      unsigned char* to = out;
      std::memcpy(to, from, 8);
      std::memcpy(to + 8, from + 8, 8);
      to += 16;
      from += 16;
      while (to < end) {
        std::memcpy(to, from, 8);
        to += 8;
        from += 8;
      }
    } else if (distance == 1) {
      std::memset(out, *from, length);
    } else {
      for (unsigned char* to = out; to < end;) *to++ = *from++;
    }
    out = end;
  }

  StreamInflater::Tables& t_;
  unsigned char* const window_;
  unsigned char* out_;
  unsigned char* flushFrom_;
  unsigned char* limit_;  // where the output piece is full
  InflateSource& source_;
  InflateSink& sink_;
  const unsigned char* in_ = nullptr;
  const unsigned char* inEnd_ = nullptr;
  BitBuffer bits_ = 0;
  unsigned count_ = 0;
  unsigned overrun_ = 0;  // zero bytes put in the buffer past the data's end
  bool sourceEnded_ = false;
  InflateOutcome failure_ = InflateOutcome::BadData;
};

}  // namespace

StreamInflater::StreamInflater() : tables_(std::make_unique<Tables>()), window_(std::make_unique<unsigned char[]>(kWindowSize)) {
  std::uint8_t lengths[kLitSymbols];
  for (unsigned s = 0; s < kLitSymbols; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  BuildTable(lengths, kLitSymbols, LitPayload, kLitRootBits, tables_->fixedLit, kLitTableSize, CodeKind::Symbols);
  for (unsigned s = 0; s < kDistSymbols; ++s) lengths[s] = 5;
  BuildTable(lengths, kDistSymbols, DistPayload, kDistRootBits, tables_->fixedDist, kDistTableSize, CodeKind::Symbols);
}

StreamInflater::~StreamInflater() = default;

InflateResult StreamInflater::Inflate(InflateSource& source, InflateSink& sink) {
  return Decoder(*tables_, window_.get(), source, sink).Run();
}

}  // namespace update
