// One composed picture of a layered window: a 32-bit premultiplied DIB
// section kept selected into its own memory DC, so that it can be handed to
// UpdateLayeredWindow again and again without being composed anew.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/guards.h"

namespace ui {

class LayeredFrame {
 public:
  LayeredFrame() = default;
  LayeredFrame(const LayeredFrame&) = delete;
  LayeredFrame& operator=(const LayeredFrame&) = delete;

  // A zero-filled bottom-up surface of the given size; false (and nothing
  // held) when the system refuses it.
  bool Allocate(std::int32_t width, std::int32_t height);
  void Release();

  bool Holds(std::int32_t width, std::int32_t height) const {
    return bits_ != nullptr && width_ == width && height_ == height;
  }
  bool Empty() const { return bits_ == nullptr; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  void* Bits() const { return bits_; }
  HDC Dc() const { return dc_ ? dc_->Get() : nullptr; }

  // Hands the whole frame to `window` at `destination` (screen coordinates)
  // with per-pixel alpha; `dirty` (frame coordinates, may be null) names the
  // only part that differs from what the window showed before.
  bool HandTo(HWND window, POINT destination, const RECT* dirty) const;

 private:
  // Declared in release order reversed: the selection goes first, then the
  // DC, then the bitmap.
  base::GdiObject<HBITMAP> dib_;
  std::optional<base::MemoryDC> dc_;
  std::optional<base::SelectedObject> selected_;
  void* bits_ = nullptr;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

}  // namespace ui
