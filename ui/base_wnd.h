// The root of the launcher's window family: one object stands for one
// top-level window and for its window class.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ui {

class ZBaseWnd {
 public:
  ZBaseWnd();
  // Not virtual: each object is deleted through its concrete type. The Win32
  // window is destroyed by the main window's close sequence, not here.
  ~ZBaseWnd() = default;
  ZBaseWnd(const ZBaseWnd&) = delete;
  ZBaseWnd& operator=(const ZBaseWnd&) = delete;

  // Stores the module instance and the owner window.
  virtual bool Init(HINSTANCE instanceHandle, HWND ownerWindow);
  // Registers the class if needed, creates the window, shows it
  // (SW_SHOWNORMAL) and updates it, unless showOnCreate is false. Returns the
  // new window (null on failure).
  virtual HWND Create(const char* title, int x, int y, int width, int height,
                      DWORD extendedStyle, DWORD style);
  // The family's reserved three-value operation; nothing uses it.
  virtual std::int32_t Reserved(std::int32_t, std::int32_t, std::int32_t) { return 0; }
  // Each concrete class registers its own window class.
  virtual bool RegisterWindow() = 0;

  HWND Window() const { return window; }
  HWND Owner() const { return owner; }
  HINSTANCE Instance() const { return instance; }
  const char* ClassName() const { return className; }

  // False: Create leaves the window hidden (a new launcher's self-test
  // creates its windows without showing them).
  bool showOnCreate = true;

 protected:
  // Fills and registers a WNDCLASSEXA with the family's common parameters.
  bool RegisterFamilyClass(WNDPROC procedure, HICON largeIcon, HICON smallIcon);
  // Sets the Win32 class name (bounded copy into className).
  void SetClassName(const char* name);

  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HWND owner = nullptr;
  std::uint8_t classRegistered = 0;
  char className[128] = {};
};

// Shows "RegisterWindow failed with error N: <system text>" (caption "Error")
// and ends the process with the error code. Never returns.
[[noreturn]] void ReportRegisterFailure();

// Composes the text of that box into `out`; the whole system text always fits
// because the buffer is sized from it. Exposed for tests.
void FormatRegisterFailure(unsigned long errorCode, char* out, std::size_t outSize);
std::size_t RegisterFailureTextSize(unsigned long errorCode);

// The plain window procedure of the page host's class: WM_CREATE and WM_SIZE
// give 0, WM_DESTROY and WM_ERASEBKGND give 1, the rest DefWindowProcA.
LRESULT CALLBACK BaseWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
