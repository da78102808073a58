// Writes small PNG files of every kind for the tests (libpng's writer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testpng {

struct PngImage {
  int width = 0;
  int height = 0;
  int bitDepth = 8;
  int colourType = 6;  // PNG_COLOR_TYPE_*: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  bool interlaced = false;
  std::vector<std::uint8_t> palette;  // RGB triples for colour type 3
  std::vector<std::uint8_t> trns;     // palette alphas for colour type 3
  // Packed rows as libpng wants them (16-bit samples big-endian).
  std::vector<std::vector<std::uint8_t>> rows;
};

bool WritePng(const std::string& path, const PngImage& image);

// An 8-bit RGBA image from straight (not premultiplied) pixels, 0xAARRGGBB each.
bool WriteRgba(const std::string& path, int width, int height,
               const std::vector<std::uint32_t>& argb);

// A filled rectangle image of one straight ARGB colour.
bool WriteSolid(const std::string& path, int width, int height, std::uint32_t argb);

// The bytes of a file (for making truncated and corrupt copies).
std::vector<std::uint8_t> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace testpng
