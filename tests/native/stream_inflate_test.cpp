// The streaming inflater against zlib: the same output for every kind of
// block and every piece size, and the same verdict on damaged streams.
#include "update/install/stream_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "tests/support/inflate_oracle.h"

namespace {

using test_support::Inflated;
using test_support::InflateInPieces;
using test_support::InflateWithZlib;

std::string Deflate(const std::string& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, strategy), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string TextLike(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"client ", "update ", "texture ", "model ", "sound ", "level ", "patch\n"};
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < size) out += kWords[rng() % 7];
  out.resize(size);
  return out;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

// Matches at every short distance, where the copy cannot go a word at a time.
std::string ShortPeriods(std::size_t size) {
  std::string out;
  for (std::size_t period = 1; out.size() < size; period = period % 9 + 1)
    for (int i = 0; i < 300; ++i) out += static_cast<char>('a' + static_cast<int>(i % period));
  out.resize(size);
  return out;
}

TEST(StreamInflate, GivesZlibsOutputForEveryKindOfBlockAndPieceSize) {
  struct Case {
    const char* name;
    std::string data;
    int level;
    int strategy;
  };
  const Case cases[] = {
      {"empty", "", 6, Z_DEFAULT_STRATEGY},
      {"one byte", "x", 6, Z_DEFAULT_STRATEGY},
      {"text, level 1", TextLike(3 << 20, 1), 1, Z_DEFAULT_STRATEGY},
      {"text, level 9", TextLike(1 << 20, 2), 9, Z_DEFAULT_STRATEGY},
      {"text, fixed codes", TextLike(1 << 20, 3), 6, Z_FIXED},
      {"text, codes only", TextLike(1 << 20, 4), 6, Z_HUFFMAN_ONLY},
      {"noise (stored blocks)", Noise(1 << 20, 5), 1, Z_DEFAULT_STRATEGY},
      {"stored, level 0", TextLike(300 * 1024, 6), 0, Z_DEFAULT_STRATEGY},
      {"zeros (runs of distance 1)", std::string(2 << 20, '\0'), 6, Z_RLE},
      {"short periods", ShortPeriods(1 << 20), 6, Z_DEFAULT_STRATEGY},
      {"text and noise", TextLike(400 * 1024, 7) + Noise(200 * 1024, 8) + TextLike(400 * 1024, 7), 6,
       Z_DEFAULT_STRATEGY},
  };
  update::StreamInflater inflater;  // one inflater for every stream, as the installer uses it
  for (const Case& c : cases) {
    const std::string deflated = Deflate(c.data, c.level, c.strategy);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, deflated.size()}) {
      if (piece == 1 && c.data.size() > (1u << 20)) continue;  // a byte a time: only for the smaller cases
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Inflated ours = InflateInPieces(inflater, deflated, piece);
      ASSERT_TRUE(ours.ended);
      EXPECT_EQ(ours.trailingBytes, 0u);
      ASSERT_EQ(ours.bytes.size(), c.data.size());
      EXPECT_TRUE(ours.bytes == c.data);
    }
  }
}

TEST(StreamInflate, CountsWhatFollowsTheStreamAndRefusesEveryCut) {
  const std::string data = TextLike(20000, 9) + Noise(3000, 10) + TextLike(5000, 11);
  const std::string deflated = Deflate(data, 6, Z_DEFAULT_STRATEGY);
  update::StreamInflater inflater;
  const Inflated followed = InflateInPieces(inflater, deflated + "tail", 1000);
  ASSERT_TRUE(followed.ended);
  EXPECT_EQ(followed.trailingBytes, 4u);
  EXPECT_TRUE(followed.bytes == data);
  for (std::size_t cut = 0; cut < deflated.size(); ++cut) {
    const Inflated ours = InflateInPieces(inflater, deflated.substr(0, cut), 97);
    ASSERT_FALSE(ours.ended) << "cut after " << cut << " of " << deflated.size() << " bytes";
  }
}

// Damage anywhere (the block headers, the code lengths, the codes, the stored
// lengths) gets zlib's verdict: a stream that still ends ends with zlib's
// output, and one that zlib refuses is refused.
TEST(StreamInflate, GivesZlibsVerdictOnDamagedStreams) {
  const std::string sources[] = {
      Deflate(TextLike(6000, 12), 9, Z_DEFAULT_STRATEGY), Deflate(TextLike(6000, 13), 6, Z_FIXED),
      Deflate(Noise(700, 14) + TextLike(3000, 15), 1, Z_DEFAULT_STRATEGY), Deflate(ShortPeriods(5000), 6, Z_RLE)};
  update::StreamInflater inflater;
  std::mt19937 rng(16);
  int ended = 0;
  int refused = 0;
  for (const std::string& deflated : sources) {
    for (int round = 0; round < 1500; ++round) {
      std::string damaged = deflated;
      const int flips = 1 + static_cast<int>(rng() % 3);
      for (int i = 0; i < flips; ++i) {
        // Most damage near the start, where the block header and its tables are.
        const std::size_t at = rng() % 2 ? rng() % std::min<std::size_t>(damaged.size(), 64) : rng() % damaged.size();
        damaged[at] = static_cast<char>(damaged[at] ^ (1 << (rng() % 8)));
      }
      const Inflated expected = InflateWithZlib(damaged);
      const Inflated ours = InflateInPieces(inflater, damaged, 1 + rng() % 300);
      ASSERT_EQ(ours.ended, expected.ended) << "round " << round;
      if (!expected.ended) {
        ++refused;
        continue;
      }
      ++ended;
      ASSERT_TRUE(ours.bytes == expected.bytes) << "round " << round;
      ASSERT_EQ(ours.trailingBytes, expected.trailingBytes) << "round " << round;
    }
  }
  // Both verdicts were reached often enough to mean something.
  EXPECT_GT(ended, 100);
  EXPECT_GT(refused, 1000);
}

class FailingSource : public update::InflateSource {
 public:
  explicit FailingSource(const std::string& data) : data_(data) {}
  bool NextPiece(const unsigned char** data, std::size_t* size) override {
    if (given_) return false;
    given_ = true;
    *data = reinterpret_cast<const unsigned char*>(data_.data());
    *size = data_.size() / 2;
    return true;
  }

 private:
  const std::string& data_;
  bool given_ = false;
};

class RefusingSink : public update::InflateSink {
 public:
  bool Take(const unsigned char*, std::size_t size) override {
    taken += size;
    return taken <= 300 * 1024;
  }
  std::size_t taken = 0;
};

TEST(StreamInflate, ReportsTheSourcesAndTheSinksFailureAndGivesBoundedPieces) {
  const std::string data = TextLike(4 << 20, 17);
  const std::string deflated = Deflate(data, 6, Z_DEFAULT_STRATEGY);
  update::StreamInflater inflater;
  FailingSource failing(deflated);
  test_support::StringSink sink;
  EXPECT_EQ(inflater.Inflate(failing, sink).outcome, update::InflateOutcome::SourceFailed);

  test_support::PiecesSource source(deflated, 65536);
  RefusingSink refusing;
  EXPECT_EQ(inflater.Inflate(source, refusing).outcome, update::InflateOutcome::SinkStopped);
  // It stopped at the piece refused, the second.
  EXPECT_GT(refusing.taken, update::kInflateOutputPiece + 258);
  EXPECT_LE(refusing.taken, 2 * (update::kInflateOutputPiece + 258));

  test_support::PiecesSource whole(deflated, deflated.size());
  test_support::StringSink pieces;
  ASSERT_EQ(inflater.Inflate(whole, pieces).outcome, update::InflateOutcome::Ended);
  EXPECT_GE(pieces.largestPiece, update::kInflateOutputPiece);
  EXPECT_LE(pieces.largestPiece, update::kInflateOutputPiece + 258);
  EXPECT_TRUE(pieces.bytes == data);
}

}  // namespace
