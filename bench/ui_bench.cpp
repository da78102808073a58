// Measurements of the window framework (numbers for the notes, not tests):
//   - one full DrawLayered of the main window at the demo skin's size
//     (1000 x 600 with per-pixel alpha, two 24 x 24 buttons);
//   - the progress window's animation thread while nothing moves: wake-ups
//     per second and CPU time over 10 s.
#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "png_writer.h"
#include "base/bounded_format.h"
#include "ui/irregular_window.h"
#include "ui/progress_bar.h"
#include "ui/window_set.h"

namespace {

std::string Folder() {
  char base[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, base);
  std::string dir = std::string(base) + "ui_bench\\";
  ::CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

void SetPath(wchar_t (&target)[512], const std::string& path) {
  ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, target, 512);
}

double Milliseconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER frequency) {
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Pump(DWORD ms) {
  const DWORD end = ::GetTickCount() + ms;
  while (static_cast<LONG>(::GetTickCount() - end) < 0) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

double CpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(thread, &created, &exited, &kernel, &user);
  auto ms = [](FILETIME t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

}  // namespace

int main() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  const std::string dir = Folder();
  const int width = 1000, height = 600;
  std::vector<std::uint32_t> bg(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t alpha = (x < 10 || y < 10 || x >= width - 10 || y >= height - 10) ? 0 : 230;
      bg[static_cast<std::size_t>(y) * width + x] =
          (alpha << 24) | (static_cast<std::uint32_t>(x * 255 / width) << 16) | (y * 255 / height);
    }
  testpng::WriteRgba(dir + "bg.png", width, height, bg);
  testpng::WriteSolid(dir + "b_n.png", 24, 24, 0xFF4060A0);
  testpng::WriteSolid(dir + "b_h.png", 24, 24, 0xFFF0C040);
  testpng::WriteSolid(dir + "p_bg.png", 820, 140, 0xFF1C2A44);
  testpng::WriteSolid(dir + "p_bar.png", 700, 12, 0xFFF0A030);

  ui::ZIrregularWindow main;
  SetPath(main.backgroundImageFile, dir + "bg.png");
  SetPath(main.minNormalFile, dir + "b_n.png");
  SetPath(main.minHitFile, dir + "b_h.png");
  SetPath(main.closeNormalFile, dir + "b_n.png");
  SetPath(main.closeHitFile, dir + "b_h.png");
  main.minX = 928;
  main.minY = 20;
  main.closeX = 958;
  main.closeY = 20;
  ui::ZProgressBar progress;
  base::CopyInto(progress.backgroundFile, (dir + "p_bg.png").c_str());
  base::CopyInto(progress.upperBarFile, (dir + "p_bar.png").c_str());
  base::CopyInto(progress.lowerBarFile, (dir + "p_bar.png").c_str());
  ui::WindowSet set;
  set.mainWindow = &main;
  set.progressBar = &progress;
  ui::SetWindowSet(&set);

  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  main.Init(instance, nullptr);
  main.Create("bench", 0, 0, 0, 0, WS_EX_LAYERED, WS_POPUP | WS_VISIBLE | WS_SYSMENU);
  Pump(200);

  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    LARGE_INTEGER a, b;
    ::QueryPerformanceCounter(&a);
    (i % 2 ? main.DrawMinHover() : main.DrawNormal());
    ::QueryPerformanceCounter(&b);
    times.push_back(Milliseconds(a, b, frequency));
  }
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (double t : times) sum += t;
  std::printf("DrawLayered %dx%d: median %.2f ms, mean %.2f ms, p90 %.2f ms over %zu draws\n", width,
              height, times[times.size() / 2], sum / times.size(), times[times.size() * 9 / 10],
              times.size());

  progress.Init(instance, main.Window());
  progress.Create("ProgressBar", 0, 0, 0, 0, 0, WS_POPUP | WS_VISIBLE | WS_BORDER);
  ::ShowWindow(progress.Window(), SW_HIDE);
  Pump(100);
  const std::uint32_t passes0 = progress.passCount, paints0 = progress.paintCount;
  const double cpu0 = CpuMs(progress.animationThread.Handle());
  LARGE_INTEGER a, b;
  ::QueryPerformanceCounter(&a);
  Pump(10000);
  ::QueryPerformanceCounter(&b);
  const double seconds = Milliseconds(a, b, frequency) / 1000.0;
  const double cpu = CpuMs(progress.animationThread.Handle()) - cpu0;
  std::printf("animation thread idle: %.0f wake-ups/s, %.1f ms CPU over %.1f s (%.2f%% of a core), %u paints\n",
              (progress.passCount - passes0) / seconds, cpu, seconds, cpu / (seconds * 10.0),
              progress.paintCount - paints0);

  progress.StopAnimation();
  ui::SetWindowSet(nullptr);
  ::DestroyWindow(progress.Window());
  ::DestroyWindow(main.Window());
  return 0;
}
