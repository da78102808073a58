#include "ui/png_decode.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace ui {

namespace {

// Images larger than this are refused rather than allocated: a corrupt header
// must not make the launcher ask for gigabytes.
constexpr png_uint_32 kMaxSide = 8192;

void SilentWarning(png_structp, png_const_charp) {}
[[noreturn]] void RecoverFromError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// The libpng part, written so that a longjmp from libpng's error handler
// skips no C++ destructor: ReadInto has only plain locals, and the buffers
// it fills belong to the caller's frame, which the jump does not leave.
struct DecodeState {
  FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<std::uint8_t>* block = nullptr;
  std::vector<png_bytep>* rows = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
};

bool ReadInto(DecodeState* state) {
  if (setjmp(png_jmpbuf(state->png))) return false;  // libpng reported an error
  png_init_io(state->png, state->file);
  png_read_info(state->png, state->info);

  const png_uint_32 width = png_get_image_width(state->png, state->info);
  const png_uint_32 height = png_get_image_height(state->png, state->info);
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;

  // Every kind of PNG becomes 8-bit BGRA.
  const int colourType = png_get_color_type(state->png, state->info);
  png_set_expand(state->png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
  png_set_strip_16(state->png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(state->png);
  png_set_filler(state->png, 0xFF, PNG_FILLER_AFTER);  // no-op when alpha is present
  png_set_bgr(state->png);
  png_set_interlace_handling(state->png);
  png_read_update_info(state->png, state->info);
  if (png_get_rowbytes(state->png, state->info) != static_cast<png_size_t>(width) * 4) return false;

  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  state->block->resize(stride * height);
  state->rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y) (*state->rows)[y] = state->block->data() + stride * y;
  png_read_image(state->png, state->rows->data());
  png_read_end(state->png, nullptr);
  state->width = width;
  state->height = height;
  return true;
}

}  // namespace

std::int32_t DecodePng(const char* path, std::int32_t* width, std::int32_t* height,
                       std::vector<std::uint8_t>* pixels) {
  std::vector<std::uint8_t> block;
  std::vector<png_bytep> rows;
  DecodeState state;
  state.block = &block;
  state.rows = &rows;
  state.file = std::fopen(path, "rb");
  if (!state.file) return -1;

  bool ok = false;
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, RecoverFromError,
                                     SilentWarning);
  if (state.png) state.info = png_create_info_struct(state.png);
  if (state.info) ok = ReadInto(&state);

  png_destroy_read_struct(state.png ? &state.png : nullptr, state.info ? &state.info : nullptr,
                          nullptr);
  std::fclose(state.file);
  if (!ok) return -1;
  pixels->swap(block);
  *width = static_cast<std::int32_t>(state.width);
  *height = static_cast<std::int32_t>(state.height);
  return *width * *height * 4;
}

}  // namespace ui
