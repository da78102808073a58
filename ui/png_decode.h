// Decoding the progress window's PNG files into 32-bit pixel blocks.
#pragma once

#include <cstdint>
#include <vector>

namespace ui {

// Decodes the PNG file at `path` (ANSI path) into rows from top to bottom,
// four bytes a pixel in the order blue, green, red, alpha. Every valid kind of
// PNG is converted: palette, grey and grey with alpha, 16-bit channels and
// images without alpha (alpha 0xFF, or from a tRNS chunk). Returns the size
// of the block in bytes, or -1 when the file cannot be opened or is not a
// readable PNG (corrupt or truncated): then no output is set.
std::int32_t DecodePng(const char* path, std::int32_t* width, std::int32_t* height,
                       std::vector<std::uint8_t>* pixels);

}  // namespace ui
