#include "ui/layered_frame.h"

namespace ui {

bool LayeredFrame::Allocate(std::int32_t width, std::int32_t height) {
  Release();
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: rows run bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(4) * static_cast<DWORD>(width) * static_cast<DWORD>(height);
  void* bits = nullptr;
  base::GdiObject<HBITMAP> dib(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib || bits == nullptr) return false;
  dib_ = std::move(dib);
  dc_.emplace(nullptr);
  if (!*dc_) {
    Release();
    return false;
  }
  selected_.emplace(dc_->Get(), dib_.Get());
  bits_ = bits;
  width_ = width;
  height_ = height;
  return true;
}

void LayeredFrame::Release() {
  selected_.reset();
  dc_.reset();
  dib_.Reset();
  bits_ = nullptr;
  width_ = 0;
  height_ = 0;
}

bool LayeredFrame::HandTo(HWND window, POINT destination, const RECT* dirty) const {
  if (Empty()) return false;
  base::ScreenDC screen;
  SIZE size{width_, height_};
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UPDATELAYEREDWINDOWINFO info{};
  info.cbSize = sizeof info;
  info.hdcDst = screen.Get();
  info.pptDst = &destination;
  info.psize = &size;
  info.hdcSrc = Dc();
  info.pptSrc = &source;
  info.crKey = 0;
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  info.prcDirty = dirty;
  return ::UpdateLayeredWindowIndirect(window, &info) != FALSE;
}

}  // namespace ui
