#include "ui/base_wnd.h"

#include <string>

#include "base/bounded_format.h"
#include "base/guards.h"

namespace ui {

ZBaseWnd::ZBaseWnd() { SetClassName("ZBaseWnd"); }

void ZBaseWnd::SetClassName(const char* name) { base::CopyInto(className, name); }

bool ZBaseWnd::Init(HINSTANCE instanceHandle, HWND ownerWindow) {
  instance = instanceHandle;
  owner = ownerWindow;
  return true;
}

HWND ZBaseWnd::Create(const char* title, int x, int y, int width, int height,
                      DWORD extendedStyle, DWORD style) {
  if (!RegisterWindow()) ReportRegisterFailure();
  window = ::CreateWindowExA(extendedStyle, className, title, style, x, y, width, height,
                             owner, nullptr, instance, nullptr);
  if (showOnCreate) {
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
  }
  return window;
}

bool ZBaseWnd::RegisterFamilyClass(WNDPROC procedure, HICON largeIcon, HICON smallIcon) {
  if (classRegistered) return true;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = largeIcon;
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  wc.hIconSm = smallIcon;
  classRegistered = ::RegisterClassExA(&wc) != 0 ? 1 : 0;
  return classRegistered != 0;
}

namespace {
constexpr const char kRegisterFailureFormat[] = "%s failed with error %d: %s";
constexpr const char kOperation[] = "RegisterWindow";

// The system's text for an error code, owned until the end of the scope.
struct SystemText {
  base::LocalMemory<char*> text;
  explicit SystemText(unsigned long code) {
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(text.Put()),
                     0, nullptr);
  }
  const char* Get() const { return text.Get() ? text.Get() : ""; }
};
}  // namespace

std::size_t RegisterFailureTextSize(unsigned long errorCode) {
  SystemText system(errorCode);
  // format + operation + up to 11 digits of a signed code + system text + NUL
  return sizeof(kRegisterFailureFormat) + sizeof(kOperation) + 12 + std::char_traits<char>::length(system.Get()) + 1;
}

void FormatRegisterFailure(unsigned long errorCode, char* out, std::size_t outSize) {
  SystemText system(errorCode);
  base::FormatTruncated(out, outSize, kRegisterFailureFormat, kOperation,
                        static_cast<int>(errorCode), system.Get());
}

void ReportRegisterFailure() {
  const DWORD code = ::GetLastError();
  std::string text(RegisterFailureTextSize(code), '\0');
  FormatRegisterFailure(code, &text[0], text.size());
  ::MessageBoxA(nullptr, text.c_str(), "Error", MB_OK);
  ::ExitProcess(code);
}

LRESULT CALLBACK BaseWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
    case WM_SIZE:
      return 0;
    case WM_DESTROY:
    case WM_ERASEBKGND:
      return 1;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace ui
