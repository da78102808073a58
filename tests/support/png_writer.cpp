#include "tests/support/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "base/unique_file.h"
#include "tests/support/file_bytes.h"

namespace testpng {

namespace {
bool WriteWith(FILE* file, const PngImage& image, png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType,
               image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (std::size_t i = 0; i + 2 < image.palette.size(); i += 3)
    palette.push_back({image.palette[i], image.palette[i + 1], image.palette[i + 2]});
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!image.trns.empty())
    png_set_tRNS(png, info, image.trns.data(), static_cast<int>(image.trns.size()), nullptr);
  std::vector<png_bytep> rows;
  for (const auto& row : image.rows) rows.push_back(const_cast<png_bytep>(row.data()));
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}
}  // namespace

bool WritePng(const std::string& path, const PngImage& image) {
  base::UniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  const bool ok = info && WriteWith(file.Get(), image, png, info);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  return ok;
}

bool WriteRgba(const std::string& path, int width, int height,
               const std::vector<std::uint32_t>& argb) {
  PngImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = argb[static_cast<std::size_t>(y) * width + x];
      row.push_back(static_cast<std::uint8_t>(p >> 16));
      row.push_back(static_cast<std::uint8_t>(p >> 8));
      row.push_back(static_cast<std::uint8_t>(p));
      row.push_back(static_cast<std::uint8_t>(p >> 24));
    }
    image.rows.push_back(row);
  }
  return WritePng(path, image);
}

bool WriteSolid(const std::string& path, int width, int height, std::uint32_t argb) {
  return WriteRgba(path, width, height,
                   std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, argb));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  const std::string bytes = testing_files::ReadWholeFile(path);
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return testing_files::WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace testpng
