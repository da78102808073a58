// Stand-in for the game client: shows the parameters the launcher handed it
// and its working directory, and records both in tlvr-started.txt next to
// itself so that a script can check what arrived. With the environment
// variable TLVR_CLOSE_AFTER_MS set it closes itself after that many
// milliseconds (the unattended demo uses this).
#include "base/guards.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr UINT_PTR kCloseTimer = 1;
std::string g_text;

std::string ModuleDirectory() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::string dir(path, n);
  size_t slash = dir.find_last_of("\\/");
  return slash == std::string::npos ? "." : dir.substr(0, slash);
}

std::string CurrentDirectory() {
  char path[MAX_PATH] = {};
  DWORD n = GetCurrentDirectoryA(MAX_PATH, path);
  return (n == 0 || n >= MAX_PATH) ? std::string("?") : std::string(path, n);
}

// Written in the ANSI code page, as the game received it.
void RecordStart(const std::string& params, const std::string& cwd) {
  const std::string file = ModuleDirectory() + "\\tlvr-started.txt";
  FILE* raw = nullptr;
  if (fopen_s(&raw, file.c_str(), "wb") != 0 || raw == nullptr) return;
  base::UniqueFile out(raw);
  std::fprintf(out.Get(), "params=%s\r\ncwd=%s\r\n", params.c_str(), cwd.c_str());
}

void OnPaint(HWND window) {
  base::PaintScope paint(window);
  HDC dc = paint.Get();
  RECT area;
  GetClientRect(window, &area);
  base::GdiObject<HBRUSH> fill(CreateSolidBrush(RGB(24, 32, 48)));
  FillRect(dc, &area, fill.Get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 220, 120));
  base::SelectedObject font(dc, GetStockObject(DEFAULT_GUI_FONT));
  InflateRect(&area, -20, -20);
  DrawTextA(dc, g_text.c_str(), static_cast<int>(g_text.size()), &area, DT_LEFT | DT_TOP | DT_WORDBREAK);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_TIMER:
      if (wParam == kCloseTimer) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  const std::string params = commandLine != nullptr ? commandLine : "";
  const std::string cwd = CurrentDirectory();
  RecordStart(params, cwd);
  g_text = "TLVR demo client started\r\n\r\nParameters:\r\n  " + params + "\r\n\r\nWorking directory:\r\n  " + cwd;

  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = "TLVRDemoClient";
  if (!RegisterClassExA(&wc)) return 1;
  HWND window = CreateWindowExA(0, wc.lpszClassName, "TLVR (demo client)", WS_OVERLAPPEDWINDOW, 200, 200,
                                640, 360, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, show == 0 ? SW_SHOWNORMAL : show);
  UpdateWindow(window);

  char closeAfter[32] = {};
  if (GetEnvironmentVariableA("TLVR_CLOSE_AFTER_MS", closeAfter, sizeof closeAfter) > 0) {
    const long ms = std::strtol(closeAfter, nullptr, 10);
    if (ms > 0) SetTimer(window, kCloseTimer, static_cast<UINT>(ms), nullptr);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
