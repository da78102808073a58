#include "ui/png_decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/png_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testpng::PngImage;

std::string TempPath(const std::string& name) { return testing::TempDir() + "png_decode_" + name; }

PngImage Image(int width, int height, int depth, int type, std::vector<Bytes> rows) {
  PngImage image;
  image.width = width;
  image.height = height;
  image.bitDepth = depth;
  image.colourType = type;
  image.rows = std::move(rows);
  return image;
}

struct KindCase {
  const char* name;
  PngImage image;
  Bytes bgra;  // expected decoded pixels
};

std::vector<KindCase> KindCases() {
  std::vector<KindCase> cases;
  cases.push_back({"rgba8", Image(2, 1, 8, 6, {{10, 20, 30, 40, 50, 60, 70, 255}}),
                   {30, 20, 10, 40, 70, 60, 50, 255}});
  cases.push_back({"rgb8_no_alpha", Image(2, 1, 8, 2, {{10, 20, 30, 40, 50, 60}}),
                   {30, 20, 10, 255, 60, 50, 40, 255}});
  cases.push_back({"grey8", Image(2, 1, 8, 0, {{7, 200}}), {7, 7, 7, 255, 200, 200, 200, 255}});
  cases.push_back({"grey_alpha8", Image(2, 1, 8, 4, {{7, 100, 200, 0}}),
                   {7, 7, 7, 100, 200, 200, 200, 0}});
  cases.push_back({"grey1", Image(3, 1, 1, 0, {{0xA0}}), {255, 255, 255, 255, 0, 0, 0, 255,
                                                         255, 255, 255, 255}});
  {
    KindCase palette{"palette8_trns", Image(2, 1, 8, 3, {{0, 1}}),
                     {0, 0, 255, 128, 255, 0, 0, 255}};
    palette.image.palette = {255, 0, 0, 0, 0, 255};
    palette.image.trns = {128};
    cases.push_back(palette);
  }
  {
    KindCase palette{"palette2", Image(3, 1, 2, 3, {{0x10}}),
                     {0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255}};
    palette.image.palette = {255, 0, 0, 0, 0, 255};
    cases.push_back(palette);
  }
  cases.push_back({"rgba16", Image(1, 1, 16, 6, {{0x12, 0x12, 0x56, 0x56, 0x9A, 0x9A, 0xFF, 0xFF}}),
                   {0x9A, 0x56, 0x12, 0xFF}});
  cases.push_back({"rgb16", Image(1, 1, 16, 2, {{0x12, 0x12, 0x56, 0x56, 0x9A, 0x9A}}),
                   {0x9A, 0x56, 0x12, 0xFF}});
  {
    // Interlaced: rows come back in order.
    std::vector<Bytes> rows;
    Bytes expected;
    for (int y = 0; y < 5; ++y) {
      Bytes row;
      for (int x = 0; x < 5; ++x) {
        const std::uint8_t r = static_cast<std::uint8_t>(x * 40), g = static_cast<std::uint8_t>(y * 50);
        row.insert(row.end(), {r, g, 7});
        expected.insert(expected.end(), {7, g, r, 255});
      }
      rows.push_back(row);
    }
    KindCase interlaced{"rgb8_interlaced", Image(5, 5, 8, 2, rows), expected};
    interlaced.image.interlaced = true;
    cases.push_back(interlaced);
  }
  return cases;
}

TEST(DecodePng, EveryValidKindBecomesEightBitBgra) {
  for (const KindCase& c : KindCases()) {
    const std::string path = TempPath(std::string(c.name) + ".png");
    ASSERT_TRUE(testpng::WritePng(path, c.image)) << c.name;
    std::int32_t width = 0, height = 0;
    Bytes pixels;
    const std::int32_t size = ui::DecodePng(path.c_str(), &width, &height, &pixels);
    EXPECT_EQ(size, c.image.width * c.image.height * 4) << c.name;
    EXPECT_EQ(width, c.image.width) << c.name;
    EXPECT_EQ(height, c.image.height) << c.name;
    EXPECT_EQ(pixels, c.bgra) << c.name;
  }
}

// Broken inputs: each must give -1 and leave every output as it was.
TEST(DecodePng, BrokenFilesBehaveLikeMissingOnes) {
  const std::string good = TempPath("good.png");
  std::vector<std::uint32_t> argb(64 * 64);
  for (std::size_t i = 0; i < argb.size(); ++i) argb[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u);
  ASSERT_TRUE(testpng::WriteRgba(good, 64, 64, argb));
  const Bytes bytes = testpng::ReadFile(good);
  ASSERT_GT(bytes.size(), 200u);

  Bytes flipped = bytes;  // damaged image data: the chunk's CRC no longer matches
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16; ++i) flipped[i] ^= 0x5A;
  Bytes badHeader = bytes;  // IHDR width 0
  badHeader[16] = badHeader[17] = badHeader[18] = badHeader[19] = 0;

  struct BrokenCase {
    const char* name;
    Bytes content;
  } cases[] = {
      {"empty", {}},
      {"signature_only", Bytes(bytes.begin(), bytes.begin() + 8)},
      {"truncated_header", Bytes(bytes.begin(), bytes.begin() + 20)},
      {"truncated_data", Bytes(bytes.begin(), bytes.begin() + bytes.size() / 2)},
      {"damaged_data", flipped},
      {"bad_header", badHeader},
      {"not_a_png", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}},
  };
  for (const BrokenCase& c : cases) {
    const std::string path = TempPath(std::string(c.name) + ".png");
    ASSERT_TRUE(testpng::WriteFile(path, c.content)) << c.name;
    std::int32_t width = -7, height = -8;
    Bytes pixels{1, 2, 3};
    EXPECT_EQ(ui::DecodePng(path.c_str(), &width, &height, &pixels), -1) << c.name;
    EXPECT_EQ(width, -7) << c.name;
    EXPECT_EQ(height, -8) << c.name;
    EXPECT_EQ(pixels, (Bytes{1, 2, 3})) << c.name;
  }
  std::int32_t width = 0, height = 0;
  Bytes pixels;
  EXPECT_EQ(ui::DecodePng(TempPath("does_not_exist.png").c_str(), &width, &height, &pixels), -1);
}

TEST(DecodePng, RefusesImagesTooLargeToAllocate) {
  const std::string path = TempPath("wide.png");
  ASSERT_TRUE(testpng::WritePng(path, Image(9000, 1, 8, 0, {Bytes(9000, 3)})));
  std::int32_t width = 0, height = 0;
  Bytes pixels;
  EXPECT_EQ(ui::DecodePng(path.c_str(), &width, &height, &pixels), -1);
}

}  // namespace
