#include "ui_test_support.h"

#include <cstdio>
#include <cstdlib>

#include "base/guards.h"
#include "tests/support/png_writer.h"

namespace uitest {

std::string TempFolder(const char* name) {
  char base[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, base);
  std::string folder = std::string(base) + "ui_tests_" + std::to_string(::GetCurrentProcessId()) +
                       "_" + name + "\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

std::wstring Wide(const std::string& text) {
  std::wstring out(text.size() + 1, L'\0');
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0],
                                      static_cast<int>(out.size()));
  out.resize(n > 0 ? n - 1 : 0);
  return out;
}

std::uint32_t Shot::At(int screenX, int screenY) const {
  const int x = screenX - rect.left, y = screenY - rect.top;
  const int width = rect.right - rect.left;
  if (x < 0 || y < 0 || x >= width || y >= rect.bottom - rect.top) return 0xFFFFFFFFu;
  return pixels[static_cast<std::size_t>(y) * width + x];
}

Shot Capture(const RECT& screenRect) {
  Shot shot;
  shot.rect = screenRect;
  const int width = screenRect.right - screenRect.left, height = screenRect.bottom - screenRect.top;
  if (width <= 0 || height <= 0) return shot;
  base::ScreenDC screen;
  base::MemoryDC memory(screen.Get());
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  base::GdiObject<HBITMAP> dib(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib) return shot;
  {
    base::SelectedObject selected(memory.Get(), dib.Get());
    ::BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), screenRect.left, screenRect.top,
             SRCCOPY | CAPTUREBLT);
    ::GdiFlush();
  }
  const auto* p = static_cast<const std::uint32_t*>(bits);
  shot.pixels.assign(p, p + static_cast<std::size_t>(width) * height);
  for (auto& px : shot.pixels) px &= 0x00FFFFFFu;
  return shot;
}

Shot CaptureWindow(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return Capture(rect);
}

void SaveToGallery(const char* name, const Shot& shot) {
  char exe[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  dir = dir.substr(0, dir.find_last_of('\\'));  // tests\ui
  dir = dir.substr(0, dir.find_last_of('\\'));  // tests
  dir = dir.substr(0, dir.find_last_of('\\')) + "\\gallery";
  ::CreateDirectoryA(dir.c_str(), nullptr);
  std::vector<std::uint32_t> argb(shot.pixels);
  for (auto& px : argb) px |= 0xFF000000u;
  testpng::WriteRgba(dir + "\\" + name + ".png", shot.rect.right - shot.rect.left,
                     shot.rect.bottom - shot.rect.top, argb);
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift : {0, 8, 16}) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

std::string Hex(std::uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof(text), "%06X", static_cast<unsigned>(colour & 0xFFFFFF));
  return text;
}

std::uint32_t WaitForColour(int x, int y, std::uint32_t expected, int timeoutMs) {
  std::uint32_t seen = 0;
  for (int waited = 0;; waited += 20) {
    RECT one{x, y, x + 1, y + 1};
    seen = Capture(one).At(x, y);
    if (Near(seen, expected) || waited >= timeoutMs) return seen;
    PumpFor(20);
  }
}

bool PumpFor(int ms, WPARAM* quitCode) {
  const DWORD end = ::GetTickCount() + static_cast<DWORD>(ms);
  bool quit = false;
  do {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        if (quitCode) *quitCode = msg.wParam;
        quit = true;
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    if (quit) return true;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  } while (static_cast<LONG>(::GetTickCount() - end) < 0);
  return quit;
}

bool RunUntilQuit(int timeoutMs, WPARAM* quitCode) {
  for (int waited = 0; waited < timeoutMs; waited += 20)
    if (PumpFor(20, quitCode)) return true;
  return false;
}

void DrainQueue() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageA(&msg);
  }
}

namespace {
std::vector<Recorded>* g_recorded = nullptr;

LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && g_recorded) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == WM_DESTROY || sent->message == WM_SYSCOMMAND)
      g_recorded->push_back({sent->hwnd, sent->message, sent->wParam,
                             ::IsWindowVisible(sent->hwnd) != FALSE});
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
}  // namespace

MessageRecorder::MessageRecorder() {
  g_recorded = new std::vector<Recorded>();
  hook_ = ::SetWindowsHookExA(WH_CALLWNDPROC, RecordSent, nullptr, ::GetCurrentThreadId());
}

MessageRecorder::~MessageRecorder() {
  ::UnhookWindowsHookEx(hook_);
  delete g_recorded;
  g_recorded = nullptr;
}

std::vector<Recorded> MessageRecorder::Of(HWND window, UINT message) const {
  std::vector<Recorded> out;
  for (const Recorded& r : *g_recorded)
    if (r.window == window && r.message == message) out.push_back(r);
  return out;
}

StandInHost::StandInHost(HWND owner, int offsetX, int offsetY, int width, int height)
    : owner_(owner), offsetX_(offsetX), offsetY_(offsetY), width_(width), height_(height) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = ::DefWindowProcA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = "UiTestStandInHost";
  ::RegisterClassExA(&wc);  // fails harmlessly when it exists already
  RECT owned{};
  ::GetWindowRect(owner, &owned);
  window_ = ::CreateWindowExA(0, "UiTestStandInHost", "WebBrowser", WS_POPUP | WS_VISIBLE,
                              owned.left + offsetX, owned.top + offsetY, width, height, owner,
                              nullptr, wc.hInstance, nullptr);
}

StandInHost::~StandInHost() {
  if (::IsWindow(window_)) ::DestroyWindow(window_);
}

void StandInHost::ShowAtOffset() {
  ++showAtOffsetCalls;
  ::ShowWindow(window_, SW_RESTORE);
  ::ShowWindow(window_, SW_SHOWNORMAL);
  PlaceAtOffset();
  ::UpdateWindow(window_);
}

void StandInHost::PlaceAtOffset() {
  if (!owner_ || !window_) return;
  RECT owned{};
  ::GetWindowRect(owner_, &owned);
  ::MoveWindow(window_, owned.left + offsetX_, owned.top + offsetY_, width_, height_, TRUE);
}

RECT StandInHost::ExpectedRect() const {
  RECT owned{};
  ::GetWindowRect(owner_, &owned);
  return RECT{owned.left + offsetX_, owned.top + offsetY_, owned.left + offsetX_ + width_,
              owned.top + offsetY_ + height_};
}

void UnregisterFamilyClasses() {
  ::UnregisterClassA("ZIrregularWindow", ::GetModuleHandleA(nullptr));
  ::UnregisterClassA("ZProgressBar", ::GetModuleHandleA(nullptr));
}

}  // namespace uitest
