#include "ui/irregular_window.h"

#include <gdiplus.h>
#include <shlwapi.h>

#include <string>

#include "base/guards.h"

namespace ui {

void GdiplusImageDeleter::operator()(Gdiplus::Image* image) const { delete image; }

namespace {

constexpr DWORD kMaxSkinFileBytes = 64u << 20;

// The file's bytes as a stream in memory; null when it cannot be read whole.
base::ComPtr<IStream> ReadIntoMemory(const wchar_t* file) {
  base::UniqueHandle handle(::CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!handle.Valid() || !::GetFileSizeEx(handle.Get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > kMaxSkinFileBytes)
    return base::ComPtr<IStream>();
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!::ReadFile(handle.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
    return base::ComPtr<IStream>();
  return base::ComPtr<IStream>(
      ::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
}

// An image from a file, or null when GDI+ could not even allocate the object.
// A file that does not decode still gives an object, whose status is not Ok.
// GDI+ keeps an image's file open for as long as the image lives, which
// would keep a new launcher from replacing the skin while this one shows it:
// the image is decoded from a copy in memory, the file closed at once.
SkinImage LoadSkinImage(const wchar_t* file) {
  const base::ComPtr<IStream> stream = ReadIntoMemory(file);
  if (!stream) return SkinImage(new Gdiplus::Image(file));  // the same failure as ever
  return SkinImage(new Gdiplus::Image(stream.Get()));     // the image holds its own reference
}

bool Loaded(const SkinImage& image) {
  return image && image->GetLastStatus() == Gdiplus::Ok;
}

bool InRect(int x, int y, int left, int top, int width, int height) {
  return x >= left && x < left + width && y >= top && y < top + height;
}

}  // namespace

ZIrregularWindow::ZIrregularWindow() { SetClassName("ZIrregularWindow"); }

ZIrregularWindow::~ZIrregularWindow() { ReleaseImages(); }

bool ZIrregularWindow::Init(HINSTANCE instanceHandle, HWND ownerWindow) {
  ZBaseWnd::Init(instanceHandle, ownerWindow);
  return LoadImages();
}

bool ZIrregularWindow::LoadImages() {
  {
    base::UniqueHandle probe(::CreateFileW(backgroundImageFile, GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe.Valid()) return false;
  }
  backgroundImage = LoadSkinImage(backgroundImageFile);
  if (!Loaded(backgroundImage)) {
    // A file that is there but is no image: behave as if it were missing, so
    // that the window keeps its defined fallback size.
    backgroundImage.reset();
    return false;
  }
  backgroundImageWidth = static_cast<std::int32_t>(backgroundImage->GetWidth());
  backgroundImageHeight = static_cast<std::int32_t>(backgroundImage->GetHeight());

  minNormalImage = LoadSkinImage(minNormalFile);
  minHitImage = LoadSkinImage(minHitFile);
  if (!Loaded(minNormalImage) || !Loaded(minHitImage)) return false;
  minWidth = static_cast<std::int32_t>(minNormalImage->GetWidth());
  minHeight = static_cast<std::int32_t>(minNormalImage->GetHeight());

  closeNormalImage = LoadSkinImage(closeNormalFile);
  closeHitImage = LoadSkinImage(closeHitFile);
  if (!Loaded(closeNormalImage) || !Loaded(closeHitImage)) return false;
  closeWidth = static_cast<std::int32_t>(closeNormalImage->GetWidth());
  closeHeight = static_cast<std::int32_t>(closeNormalImage->GetHeight());
  return true;
}

void ZIrregularWindow::DiscardFrames() {
  for (LayeredFrame& frame : frames_) frame.Release();
  hasShownFrame_ = false;
}

void ZIrregularWindow::ReleaseImages() {
  DiscardFrames();
  backgroundImage.reset();
  minNormalImage.reset();
  minHitImage.reset();
  closeNormalImage.reset();
  closeHitImage.reset();
}

bool ZIrregularWindow::ReloadImages() {
  ReleaseImages();
  return LoadImages();
}

HWND ZIrregularWindow::Create(const char* title, int x, int y, int width, int height,
                              DWORD extendedStyle, DWORD style) {
  const bool haveBackground = backgroundImage != nullptr;
  const int defaultWidth = haveBackground ? backgroundImageWidth : kFallbackWidth;
  const int defaultHeight = haveBackground ? backgroundImageHeight : kFallbackHeight;
  if (x == 0) x = ::GetSystemMetrics(SM_CXSCREEN) / 2 - defaultWidth / 2;
  if (y == 0) y = ::GetSystemMetrics(SM_CYSCREEN) / 2 - defaultHeight / 2;
  if (width == 0) width = defaultWidth;
  if (height == 0) height = defaultHeight;
  return ZBaseWnd::Create(title, x, y, width, height, extendedStyle, style);
}

bool ZIrregularWindow::RegisterWindow() {
  return RegisterFamilyClass(MainWindowProc, ::LoadIconA(instance, MAKEINTRESOURCEA(107)),
                             ::LoadIconA(instance, MAKEINTRESOURCEA(108)));
}

int ZIrregularWindow::DrawNormal() { return DrawState(HoverState::Normal); }
int ZIrregularWindow::DrawMinHover() { return DrawState(HoverState::MinHover); }
int ZIrregularWindow::DrawCloseHover() { return DrawState(HoverState::CloseHover); }

bool ZIrregularWindow::OnMinButton(int x, int y) const {
  return minNormalImage && InRect(x, y, minX, minY, minWidth, minHeight);
}
bool ZIrregularWindow::OnCloseButton(int x, int y) const {
  return closeNormalImage && InRect(x, y, closeX, closeY, closeWidth, closeHeight);
}

HoverState ZIrregularWindow::StateAt(int x, int y) const {
  if (OnMinButton(x, y)) return HoverState::MinHover;
  if (OnCloseButton(x, y)) return HoverState::CloseHover;
  return HoverState::Normal;
}

int ZIrregularWindow::DrawState(HoverState state) { return HandOver(state, false); }
int ZIrregularWindow::ChangeState(HoverState state) { return HandOver(state, true); }

RECT ZIrregularWindow::ButtonArea() const {
  RECT area{0, 0, 0, 0};
  auto add = [&area](const SkinImage& image, int x, int y) {
    if (!image) return;
    const RECT r{x, y, x + static_cast<int>(image->GetWidth()), y + static_cast<int>(image->GetHeight())};
    ::UnionRect(&area, &area, &r);
  };
  add(minNormalImage, minX, minY);
  add(minHitImage, minX, minY);
  add(closeNormalImage, closeX, closeY);
  add(closeHitImage, closeX, closeY);
  return area;
}

int ZIrregularWindow::HandOver(HoverState state, bool buttonsOnly) {
  if (!backgroundImage) return Gdiplus::Ok;

  RECT rect{};
  ::GetWindowRect(window, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (rect.left == rect.right) {  // not sized yet: compose at the background's size
    width = backgroundImageWidth;
    height = backgroundImageHeight;
  }
  if (width <= 0 || height <= 0) return Gdiplus::InvalidParameter;

  LayeredFrame& frame = frames_[static_cast<std::int32_t>(state)];
  int status = Gdiplus::Ok;
  if (!frame.Holds(width, height)) {
    if (!frame.Allocate(width, height)) return Gdiplus::OutOfMemory;
    Gdiplus::Image* minImage = state == HoverState::MinHover ? minHitImage.get() : minNormalImage.get();
    Gdiplus::Image* closeImage =
        state == HoverState::CloseHover ? closeHitImage.get() : closeNormalImage.get();
    status = ComposeFrame(frame, minImage, closeImage);
  }
  // Frames of one size differ only where the buttons are; what the window
  // shows elsewhere is already right.
  const bool partial = buttonsOnly && hasShownFrame_ && shownWidth_ == width && shownHeight_ == height;
  RECT dirty{};
  if (partial) {
    const RECT area = ButtonArea();
    const RECT whole{0, 0, width, height};
    ::IntersectRect(&dirty, &area, &whole);
  }
  if (partial && ::IsRectEmpty(&dirty)) {
    // No button on the surface: the frames are the same picture.
  } else {
    frame.HandTo(window, POINT{rect.left, rect.top}, partial ? &dirty : nullptr);
  }
  ++handOverCount;
  shownWidth_ = width;
  shownHeight_ = height;
  shownState_ = state;
  hasShownFrame_ = true;
  return status;
}

int ZIrregularWindow::ComposeFrame(LayeredFrame& frame, Gdiplus::Image* minImage,
                                   Gdiplus::Image* closeImage) {
  ++composeCount;
  const INT width = frame.Width();
  const INT height = frame.Height();
  // GDI+ draws into the DIB section's bits through a bitmap in premultiplied
  // ARGB, which is what UpdateLayeredWindow's per-pixel alpha expects (a
  // Graphics made on the DC would not keep alpha on every system).
  const INT stride = 4 * width;
  BYTE* lastRow = static_cast<BYTE*>(frame.Bits()) + static_cast<std::size_t>(stride) * (height - 1);
  Gdiplus::Bitmap surface(width, height, -stride, PixelFormat32bppPARGB, lastRow);
  Gdiplus::Graphics graphics(&surface);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeNone);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  const Gdiplus::Status status = graphics.DrawImage(backgroundImage.get(), 0, 0, width, height);
  // The minimise button is drawn last, so it is on top where they overlap.
  if (closeImage) {
    graphics.DrawImage(closeImage, closeX, closeY, static_cast<INT>(closeImage->GetWidth()),
                       static_cast<INT>(closeImage->GetHeight()));
  }
  if (minImage) {
    graphics.DrawImage(minImage, minX, minY, static_cast<INT>(minImage->GetWidth()),
                       static_cast<INT>(minImage->GetHeight()));
  }
  graphics.Flush(Gdiplus::FlushIntentionSync);
  return status;
}

}  // namespace ui
