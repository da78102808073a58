// The skinned main window: a layered window whose outline, translucency and
// two buttons come from five PNG images composed with GDI+.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>

#include "ui/base_wnd.h"
#include "ui/layered_frame.h"

namespace Gdiplus {
class Image;
}

namespace ui {

// The three pictures the main window can show: no button lit, or one of the
// two lit because the mouse is over it.
enum class HoverState : std::int32_t { Normal = 0, MinHover = 1, CloseHover = 2 };
constexpr std::int32_t kHoverStateCount = 3;

struct GdiplusImageDeleter {
  void operator()(Gdiplus::Image* image) const;
};
using SkinImage = std::unique_ptr<Gdiplus::Image, GdiplusImageDeleter>;

class ZIrregularWindow : public ZBaseWnd {
 public:
  // Size a window takes when its background image could not be loaded: a
  // small plain window at the centre of the screen that draws nothing.
  static constexpr std::int32_t kFallbackWidth = 320;
  static constexpr std::int32_t kFallbackHeight = 200;

  ZIrregularWindow();
  // Virtual so that deleting through this type is safe for the progress bar too.
  virtual ~ZIrregularWindow();

  // Stores both and loads the images; false when an image did not load.
  bool Init(HINSTANCE instanceHandle, HWND ownerWindow) override;
  // x or y of 0 centres the window; width or height of 0 take the
  // background's size.
  HWND Create(const char* title, int x, int y, int width, int height, DWORD extendedStyle,
              DWORD style) override;
  bool RegisterWindow() override;

  // Each hands the whole frame of its state to the window.
  virtual int DrawNormal();
  virtual int DrawMinHover();
  virtual int DrawCloseHover();
  virtual bool ReloadImages();

  // Background first (false at once when its file does not exist), then the
  // minimise pair, then the close pair; stops at the first image that fails.
  bool LoadImages();
  // Frees the images and the frames composed from them.
  void ReleaseImages();

  // Hands the frame of `state` to UpdateLayeredWindow. The frame is composed
  // (background and that state's two button images into a 32-bit
  // premultiplied surface of the window's size) only the first time it is
  // needed for the loaded skin and size; later hand-overs reuse it. Returns a
  // GDI+ status (0 when all went well).
  int DrawState(HoverState state);
  // The same for a hover change: when the window already shows a frame of
  // this size, only the two buttons' rectangles (the only pixels in which
  // the states differ) are handed over again.
  int ChangeState(HoverState state);
  // Frees the composed frames; each is composed again when it is next needed.
  void DiscardFrames();
  // The state whose frame the window was last given; Normal before any.
  HoverState ShownState() const { return shownState_; }
  // Whether any frame has been handed over since the window was created or
  // the skin was loaded.
  bool HasShownFrame() const { return hasShownFrame_; }

  // The state a mouse at client (x, y) lights: the minimise button first.
  HoverState StateAt(int x, int y) const;

  // Hit tests in client pixels; a button exists only while its normal image does.
  bool OnMinButton(int x, int y) const;
  bool OnCloseButton(int x, int y) const;

  HMENU trayMenu = nullptr;
  NOTIFYICONDATAA trayIcon{};

  SkinImage minNormalImage;
  SkinImage minHitImage;
  std::int32_t minWidth = 0;
  std::int32_t minHeight = 0;
  std::int32_t minX = 909;
  std::int32_t minY = 65;

  SkinImage closeNormalImage;
  SkinImage closeHitImage;
  std::int32_t closeWidth = 0;
  std::int32_t closeHeight = 0;
  std::int32_t closeX = 940;
  std::int32_t closeY = 65;

  SkinImage backgroundImage;
  std::int32_t backgroundImageWidth = 0;   // 0 until the background has loaded
  std::int32_t backgroundImageHeight = 0;

  wchar_t minNormalFile[512] = L"min_n.png";
  wchar_t minHitFile[512] = L"min_h.png";
  wchar_t closeNormalFile[512] = L"close_n.png";
  wchar_t closeHitFile[512] = L"close_h.png";
  wchar_t backgroundImageFile[512] = L"bgc.png";

  // Counters for tests and measurements: frames composed, frames handed over.
  std::uint32_t composeCount = 0;
  std::uint32_t handOverCount = 0;

 private:
  int HandOver(HoverState state, bool buttonsOnly);
  int ComposeFrame(LayeredFrame& frame, Gdiplus::Image* minImage, Gdiplus::Image* closeImage);
  // The part of a frame the buttons cover in any state (frame coordinates).
  RECT ButtonArea() const;

  LayeredFrame frames_[kHoverStateCount];
  HoverState shownState_ = HoverState::Normal;
  bool hasShownFrame_ = false;
  std::int32_t shownWidth_ = 0;
  std::int32_t shownHeight_ = 0;
};

// The window procedure of the "ZIrregularWindow" class (the main window's
// behaviour). It reaches its objects through GetWindowSet().
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
