// Start-up latency seen from outside, as a player's desktop sees it:
//   first-paint EXE DIR X Y COLOUR   starts EXE in DIR and waits until the
//                                    screen shows COLOUR (0xRRGGBB) at client
//                                    point (X, Y) of its main window: process
//                                    start to its first layered paint;
//   first-window                     the anchor: starts this program itself
//                                    with "plain-window", which shows a plain
//                                    window and ends at its first paint;
//   spawn-game GAME                  the part of a game start that is the
//                                    system's: from ShellExecuteA of GAME (the
//                                    bench's clock game) to the moment it
//                                    records as its start;
// Each prints "ms=..." (bench/run reads it).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/guards.h"

namespace {

double Now() {
  LARGE_INTEGER f, t;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

bool Start(const std::string& commandLine, const char* directory, PROCESS_INFORMATION* info) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string mutableLine = commandLine;
  return ::CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                          info) != FALSE;
}

struct Search {
  DWORD process;
  HWND found;
};
BOOL CALLBACK FindMain(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  if (owner == search->process && std::string(name) == "ZIrregularWindow") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

bool Near(COLORREF seen, unsigned rgb) {
  const int dr = static_cast<int>(GetRValue(seen)) - static_cast<int>((rgb >> 16) & 0xFF);
  const int dg = static_cast<int>(GetGValue(seen)) - static_cast<int>((rgb >> 8) & 0xFF);
  const int db = static_cast<int>(GetBValue(seen)) - static_cast<int>(rgb & 0xFF);
  return std::abs(dr) <= 3 && std::abs(dg) <= 3 && std::abs(db) <= 3;
}

int FirstPaint(const char* exe, const char* directory, int x, int y, unsigned colour) {
  PROCESS_INFORMATION info{};
  const double start = Now();
  if (!Start(std::string("\"") + exe + "\"", directory, &info)) return 1;
  base::UniqueHandle process(info.hProcess), thread(info.hThread);
  base::ScreenDC screen;
  double seen = -1;
  while (Now() - start < 20000) {
    Search search{info.dwProcessId, nullptr};
    ::EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      RECT rect{};
      ::GetWindowRect(search.found, &rect);
      if (Near(::GetPixel(screen.Get(), rect.left + x, rect.top + y), colour)) {
        seen = Now() - start;
        break;
      }
    }
    ::Sleep(1);
  }
  std::printf("ms=%.1f\n", seen);
  ::TerminateProcess(process.Get(), 0);
  ::WaitForSingleObject(process.Get(), 5000);
  return seen < 0 ? 1 : 0;
}

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    ::BeginPaint(window, &paint);
    ::EndPaint(window, &paint);
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

int PlainWindow() {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "BenchPlain";
  ::RegisterClassExA(&wc);
  ::CreateWindowExA(0, "BenchPlain", "plain", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr,
                    wc.hInstance, nullptr);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
  return 0;
}

int FirstWindow() {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, sizeof self);
  PROCESS_INFORMATION info{};
  const double start = Now();
  if (!Start(std::string("\"") + self + "\" plain-window", nullptr, &info)) return 1;
  base::UniqueHandle process(info.hProcess), thread(info.hThread);
  const bool ended = ::WaitForSingleObject(process.Get(), 20000) == WAIT_OBJECT_0;
  std::printf("ms=%.1f\n", ended ? Now() - start : -1.0);
  return ended ? 0 : 1;
}

double UnixMs() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;
}

int SpawnGame(const std::string& game) {
  const std::string folder = game.substr(0, game.find_last_of('\\'));
  const std::string record = folder + "\\clock-game.txt";
  ::DeleteFileA(record.c_str());
  const double start = UnixMs();
  if (reinterpret_cast<INT_PTR>(::ShellExecuteA(nullptr, "open", game.c_str(), "spawn", folder.c_str(),
                                                 SW_SHOWNORMAL)) <= 32)
    return 1;
  for (int i = 0; i < 5000; ++i) {
    base::UniqueFile in(std::fopen(record.c_str(), "rb"));
    double started = 0;
    if (in && std::fscanf(in.Get(), "started_ms=%lf", &started) == 1) {
      std::printf("ms=%.1f\n", started - start);
      return 0;
    }
    ::Sleep(1);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "first-paint" && argc == 7)
    return FirstPaint(argv[2], argv[3], static_cast<int>(std::strtol(argv[4], nullptr, 10)),
                      static_cast<int>(std::strtol(argv[5], nullptr, 10)),
                      static_cast<unsigned>(std::strtoul(argv[6], nullptr, 16)));
  if (mode == "first-window") return FirstWindow();
  if (mode == "plain-window") return PlainWindow();
  if (mode == "spawn-game" && argc == 3) return SpawnGame(argv[2]);
  std::fprintf(stderr, "usage: latency_bench first-paint EXE DIR X Y RRGGBB | first-window\n");
  return 2;
}
