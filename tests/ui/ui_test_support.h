// Shared pieces of the window tests: GDI+ start-up, a skin written to a
// temporary folder, screen captures and the gallery, message pumping, a
// message recorder and a stand-in for the page host.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/window_set.h"

namespace uitest {

// A folder of its own under the system's temporary folder (ANSI path, ends in "\").
std::string TempFolder(const char* name);
std::wstring Wide(const std::string& text);

// A copy of part of the screen, as an in-process BitBlt from the screen DC.
struct Shot {
  RECT rect{};
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, rows top to bottom
  std::uint32_t At(int screenX, int screenY) const;
};
Shot Capture(const RECT& screenRect);
Shot CaptureWindow(HWND window);
// Saves a shot as a PNG under the build tree's gallery folder.
void SaveToGallery(const char* name, const Shot& shot);

bool Near(std::uint32_t actual, std::uint32_t expected, int tolerance = 3);
std::string Hex(std::uint32_t colour);

// Captures the screen point until its colour is near `expected` (the
// compositor draws a little later than the call that changed the window).
// Returns the last colour seen.
std::uint32_t WaitForColour(int screenX, int screenY, std::uint32_t expected, int timeoutMs = 2000);

// Handles this thread's messages for `ms` milliseconds; true when WM_QUIT came.
bool PumpFor(int ms, WPARAM* quitCode = nullptr);
// Handles messages until WM_QUIT or the timeout; true when WM_QUIT came.
bool RunUntilQuit(int timeoutMs, WPARAM* quitCode = nullptr);
// Removes every message waiting in this thread's queue (WM_QUIT included).
void DrainQueue();

// Records the sent messages of chosen kinds that reach this thread's windows,
// with the window's visibility at that moment.
struct Recorded {
  HWND window;
  UINT message;
  WPARAM wParam;
  bool visible;
};
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  std::vector<Recorded> Of(HWND window, UINT message) const;

 private:
  HHOOK hook_;
};

// A popup owned by the main window that stands in for the page host.
class StandInHost : public ui::PageHostView {
 public:
  StandInHost(HWND owner, int offsetX, int offsetY, int width, int height);
  ~StandInHost();
  HWND GetHostWindow() override { return window_; }
  void ShowAtOffset() override;
  void PlaceAtOffset() override;
  RECT ExpectedRect() const;  // the owner's top-left plus the offset, at the host's size

  int showAtOffsetCalls = 0;

 private:
  HWND owner_;
  HWND window_ = nullptr;
  int offsetX_, offsetY_, width_, height_;
};

// The main window's and the progress bar's class names are registered per
// object; tests that build several objects unregister between them.
void UnregisterFamilyClasses();

}  // namespace uitest
