// Chunks read ahead on several threads are handed on in order, each with its
// own bytes and verdict, never more than the window ahead of the writer, and
// really read at the same time; the helpers end when the reader is dropped
// part way.
#include "update/incremental/chunk_read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::string BytesOf(std::size_t index) { return "chunk " + std::to_string(index); }

TEST(ChunkReadAhead, HandsEveryChunkOnInOrderWithinItsWindow) {
  struct Case {
    std::size_t count;
    unsigned threads;
  };
  const Case cases[] = {{0, 1}, {1, 1}, {7, 1}, {1, 4}, {5, 2}, {100, 2}, {100, 4}, {3, 8}};
  for (const Case& c : cases) {
    std::atomic<std::size_t> handed{0};
    std::atomic<bool> beyondWindow{false};
    update::ChunkReadAhead chunks(c.count, c.threads, [&](unsigned worker, std::size_t index, std::string* bytes) {
      if (worker >= c.threads) beyondWindow = true;
      // `handed` is set just after Next returns, so it may lag by one chunk.
      if (index >= handed.load() + 1 + c.threads * update::ChunkReadAhead::kAheadPerThread) beyondWindow = true;
      *bytes = BytesOf(index);
      return index % 3 != 1;  // every third chunk, from the second, is bad
    });
    std::string bytes;
    for (std::size_t i = 0; i < c.count; ++i) {
      const bool good = chunks.Next(&bytes);
      EXPECT_EQ(i % 3 != 1, good) << c.count << "/" << c.threads << " chunk " << i;
      EXPECT_EQ(BytesOf(i), bytes) << c.count << "/" << c.threads;
      handed = i + 1;
    }
    EXPECT_FALSE(chunks.Next(&bytes)) << "past the last chunk";
    EXPECT_FALSE(beyondWindow.load()) << c.count << "/" << c.threads;
  }
}

TEST(ChunkReadAhead, ReadsOnSeveralThreadsAtOnce) {
  // The first two reads each wait for the other to begin: only two threads
  // reading at the same time get past.
  std::atomic<int> reading{0};
  std::atomic<bool> together{true};
  update::ChunkReadAhead chunks(8, 2, [&](unsigned, std::size_t index, std::string* bytes) {
    if (index < 2) {
      ++reading;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (reading.load() < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      if (reading.load() < 2) together = false;
    }
    *bytes = BytesOf(index);
    return true;
  });
  ASSERT_EQ(2u, chunks.Threads());
  std::string bytes;
  for (std::size_t i = 0; i < 8; ++i) ASSERT_TRUE(chunks.Next(&bytes));
  EXPECT_TRUE(together.load());
}

TEST(ChunkReadAhead, DroppedPartWayStopsWithinTheWindow) {
  std::atomic<std::size_t> reads{0};
  {
    update::ChunkReadAhead chunks(1000, 3, [&](unsigned, std::size_t index, std::string* bytes) {
      ++reads;
      *bytes = BytesOf(index);
      return true;
    });
    std::string bytes;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(chunks.Next(&bytes));
  }
  EXPECT_LE(reads.load(), 4u + 3 * update::ChunkReadAhead::kAheadPerThread);
}

}  // namespace
