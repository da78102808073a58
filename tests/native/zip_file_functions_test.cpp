// The archive's file functions serve minizip's seeks and reads from a window:
// every sequence of them must give exactly the file's bytes, wherever the
// window stands, for reads inside it, across its end, larger than it and past
// the end of the file.
#include "update/install/zip_file_functions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"

namespace {

constexpr std::size_t kFileBytes = 300 * 1000;

std::string Pattern() {
  std::string bytes(kFileBytes, '\0');
  std::uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

struct Step {
  int origin;           // ZLIB_FILEFUNC_SEEK_*, or -1 for no seek
  std::int64_t offset;
  std::size_t read;     // bytes asked for
};

TEST(ZipFileFunctions, SeeksAndReadsGiveTheFilesBytes) {
  const std::string bytes = Pattern();
  const std::string path = ::testing::TempDir() + "zip_file_functions_test.bin";
  ASSERT_TRUE(testing_files::WriteWholeFile(path, bytes));
  const std::vector<std::vector<Step>> cases = {
      {{ZLIB_FILEFUNC_SEEK_SET, 0, 30}, {-1, 0, 16384}, {-1, 0, 16384}, {-1, 0, 70000}},
      {{ZLIB_FILEFUNC_SEEK_SET, 65530, 12}, {ZLIB_FILEFUNC_SEEK_SET, 10, 5}, {ZLIB_FILEFUNC_SEEK_CUR, 100, 46}},
      {{ZLIB_FILEFUNC_SEEK_END, -22, 22}, {ZLIB_FILEFUNC_SEEK_END, -1024, 1024}, {ZLIB_FILEFUNC_SEEK_SET, 5, 1}},
      {{ZLIB_FILEFUNC_SEEK_SET, kFileBytes - 100, 4096}, {-1, 0, 10}, {ZLIB_FILEFUNC_SEEK_SET, kFileBytes + 5, 8}},
      {{ZLIB_FILEFUNC_SEEK_SET, 1000, 200000}, {ZLIB_FILEFUNC_SEEK_SET, 1500, 100}, {-1, 0, 65536}},
      // Two places in turn (a header, then data), and a third that takes the older window.
      {{ZLIB_FILEFUNC_SEEK_SET, 250000, 46}, {ZLIB_FILEFUNC_SEEK_SET, 3000, 16384}, {ZLIB_FILEFUNC_SEEK_SET, 250046, 46},
       {ZLIB_FILEFUNC_SEEK_SET, 19384, 16384}, {ZLIB_FILEFUNC_SEEK_SET, 150000, 30}, {ZLIB_FILEFUNC_SEEK_SET, 250092, 46},
       {ZLIB_FILEFUNC_SEEK_SET, 3000, 10}},
  };
  zlib_filefunc64_def functions;
  update::FillZipFileFunctions(&functions);
  for (std::size_t c = 0; c < cases.size(); ++c) {
    voidpf stream = functions.zopen64_file(nullptr, path.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    ASSERT_NE(nullptr, stream);
    std::uint64_t expected = 0;
    for (const Step& step : cases[c]) {
      if (step.origin >= 0) {
        ASSERT_EQ(0, functions.zseek64_file(nullptr, stream, static_cast<ZPOS64_T>(step.offset), step.origin));
        expected = static_cast<std::uint64_t>(
            (step.origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
             : step.origin == ZLIB_FILEFUNC_SEEK_END ? static_cast<std::int64_t>(kFileBytes)
                                                     : static_cast<std::int64_t>(expected)) +
            step.offset);
      }
      std::string got(step.read, '\0');
      const uLong n = functions.zread_file(nullptr, stream, &got[0], static_cast<uLong>(step.read));
      const std::string want = expected < kFileBytes ? bytes.substr(expected, step.read) : std::string();
      EXPECT_EQ(want.size(), n) << "case " << c << " at " << expected;
      EXPECT_TRUE(got.compare(0, n, want) == 0) << "case " << c << " at " << expected;
      expected += n;
      EXPECT_EQ(expected, functions.ztell64_file(nullptr, stream)) << "case " << c;
    }
    EXPECT_EQ(0, functions.zerror_file(nullptr, stream));
    EXPECT_EQ(0, functions.zclose_file(nullptr, stream));
  }
  std::remove(path.c_str());
}

// Extraction goes from an entry's header in the central directory to its data
// and back to the next header: once both places are read, going between them
// reads the file no more, and a third place refills the one used longer ago.
TEST(ZipFileFunctions, TwoPlacesInTurnReadTheFileOnceEach) {
  const std::string path = ::testing::TempDir() + "zip_file_functions_turns.bin";
  ASSERT_TRUE(testing_files::WriteWholeFile(path, Pattern()));
  zlib_filefunc64_def functions;
  update::FillZipFileFunctions(&functions);
  voidpf stream = functions.zopen64_file(nullptr, path.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
  ASSERT_NE(nullptr, stream);
  char piece[64];
  const auto readAt = [&](std::uint64_t offset) {
    EXPECT_EQ(0, functions.zseek64_file(nullptr, stream, offset, ZLIB_FILEFUNC_SEEK_SET));
    EXPECT_EQ(sizeof piece, functions.zread_file(nullptr, stream, piece, sizeof piece));
  };
  for (std::uint64_t entry = 0; entry < 20; ++entry) {
    readAt(260000 + entry * 46);  // the header
    readAt(1000 + entry * 2000);  // the data
  }
  EXPECT_EQ(2u, update::ZipStreamFileReads(stream));
  readAt(260000);  // the header's window is now the one used last...
  readAt(150000);  // ...so a third place takes the data's
  readAt(260000);
  EXPECT_EQ(3u, update::ZipStreamFileReads(stream));
  readAt(1000);
  EXPECT_EQ(4u, update::ZipStreamFileReads(stream));
  EXPECT_EQ(0, functions.zclose_file(nullptr, stream));
  std::remove(path.c_str());
}

// A small entry's data is read right after minizip has read its local
// header: from the window that read filled, without reading the file again;
// what the windows do not hold is read from the file, and every read gives
// the file's bytes. Data that one window holds whole is also there to view
// without a copy; data that runs past a window's end is not.
TEST(ZipFileFunctions, DataRightAfterAHeaderComesFromItsWindow) {
  const std::string bytes = Pattern();
  const std::string path = ::testing::TempDir() + "zip_file_functions_data.bin";
  ASSERT_TRUE(testing_files::WriteWholeFile(path, bytes));
  zlib_filefunc64_def functions;
  update::FillZipFileFunctions(&functions);
  voidpf stream = functions.zopen64_file(nullptr, path.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
  ASSERT_NE(nullptr, stream);
  char header[46];
  ASSERT_EQ(0, functions.zseek64_file(nullptr, stream, 5000, ZLIB_FILEFUNC_SEEK_SET));
  ASSERT_EQ(sizeof header, functions.zread_file(nullptr, stream, header, sizeof header));
  const std::uint64_t afterHeader = update::ZipStreamFileReads(stream);
  struct Read {
    std::uint64_t at;
    std::size_t count;
    std::uint64_t fileReads;  // of the file, after this read
    bool viewable;            // before it, one window holds it all
  };
  const Read reads[] = {
      {5046, 30000, afterHeader, true},               // inside the header's window
      {5000 + 65536 - 1000, 1000, afterHeader, true},  // up to its last byte
      {5046 + 30000, 40000, afterHeader + 1, false},  // past its end: the rest refills a window
      {200000, 90000, afterHeader + 2, false},        // larger than a window: straight from the file
      {kFileBytes - 10, 10, afterHeader + 3, false},
  };
  for (const Read& r : reads) {
    const unsigned char* view = update::ZipStreamWindowView(stream, r.at, r.count);
    ASSERT_EQ(r.viewable, view != nullptr) << r.at;
    if (view != nullptr) {
      EXPECT_TRUE(std::string(reinterpret_cast<const char*>(view), r.count) == bytes.substr(r.at, r.count)) << r.at;
    }
    std::string got(r.count, '\0');
    ASSERT_TRUE(update::ReadZipStream(stream, r.at, &got[0], r.count)) << r.at;
    EXPECT_TRUE(got == bytes.substr(r.at, r.count)) << r.at;
    EXPECT_EQ(r.fileReads, update::ZipStreamFileReads(stream)) << r.at;
  }
  char past[8];
  EXPECT_FALSE(update::ReadZipStream(stream, kFileBytes - 4, past, sizeof past));
  EXPECT_EQ(0, functions.zclose_file(nullptr, stream));
  std::remove(path.c_str());
}

}  // namespace
