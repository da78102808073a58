// Measurements of the window framework, one per mode; bench/run calls each
// and reads the "key=value" line it prints.
//   hover            mouse moves over a 1000 x 600 main window (the demo
//                    skin's size, per-pixel alpha, two 24 x 24 buttons) with a
//                    page host beside it: moves that change the hover state,
//                    moves that keep it, and, as the anchor, the same state
//                    changes with the frame composed anew on every move;
//   target-latency   the progress window: from a new target being stored to
//                    the paint that shows it;
//   idle-floor       a plain window in its message loop and nothing else: the
//                    whole-process floor Wine itself sets, for the idle figures.
#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/bounded_format.h"
#include "tests/support/png_writer.h"
#include "tests/ui/ui_test_support.h"
#include "ui/irregular_window.h"
#include "ui/progress_bar.h"
#include "ui/window_set.h"

namespace {

void SetPath(wchar_t (&target)[512], const std::string& path) {
  ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, target, 512);
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Spread {
  double median, p90;
};
Spread Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 9 / 10]};
}

// The tests' stand-in for the page host, at the page's place in the demo skin.
class BenchHost : public uitest::StandInHost {
 public:
  explicit BenchHost(HWND owner) : StandInHost(owner, 40, 90, 920, 470) {}
  // As the page host does: no move when it is already in place.
  void PlaceAtOffset() override {
    RECT now{};
    ::GetWindowRect(GetHostWindow(), &now);
    const RECT expected = ExpectedRect();
    if (::EqualRect(&now, &expected)) return;
    StandInHost::PlaceAtOffset();
  }
};

std::string WriteSkin() {
  const std::string dir = uitest::TempFolder("bench");
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
  return dir;
}

int Hover() {
  const std::string dir = WriteSkin();
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
  ui::WindowSet set;
  set.mainWindow = &main;
  ui::SetWindowSet(&set);
  main.Init(::GetModuleHandleA(nullptr), nullptr);
  const HWND window = main.Create("bench", 0, 0, 0, 0, WS_EX_LAYERED, WS_POPUP | WS_VISIBLE | WS_SYSMENU);
  BenchHost host(window);
  set.pageHost = &host;
  uitest::PumpFor(300);

  const LPARAM onMin = MAKELPARAM(930, 25), onClose = MAKELPARAM(960, 25), offButtons = MAKELPARAM(500, 40), offToo = MAKELPARAM(501, 41);
  auto timeMoves = [&](int count, LPARAM first, LPARAM second) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
      const double a = Now();
      ::SendMessageA(window, WM_MOUSEMOVE, 0, i % 2 ? second : first);
      times.push_back(Now() - a);
    }
    return times;
  };
  timeMoves(4, onMin, offButtons);  // both frames composed once
  const std::uint32_t composed = main.composeCount, handed = main.handOverCount;
  const Spread change = Summarise(timeMoves(200, onMin, offButtons));
  const std::uint32_t changeHandOvers = main.handOverCount - handed;
  const std::uint32_t changeComposes = main.composeCount - composed;
  const Spread buttons = Summarise(timeMoves(200, onMin, onClose));
  // Where a change's time goes: the frame's hand-over alone, and the page
  // host's re-showing that a move off the buttons adds.
  std::vector<double> handOver, hostShow;
  for (int i = 0; i < 200; ++i) {
    double a = Now();
    main.ChangeState(i % 2 ? ui::HoverState::Normal : ui::HoverState::MinHover);
    handOver.push_back(Now() - a);
    a = Now();
    host.ShowAtOffset();
    hostShow.push_back(Now() - a);
  }
  const Spread handOverOnly = Summarise(handOver), hostOnly = Summarise(hostShow);
  const std::uint32_t handed2 = main.handOverCount;
  const Spread same = Summarise(timeMoves(200, offButtons, offToo));
  const std::uint32_t sameHandOvers = main.handOverCount - handed2;

  // The anchor: what every move cost when each one composed the frame anew.
  std::vector<double> recompose;
  for (int i = 0; i < 200; ++i) {
    main.DiscardFrames();
    const double a = Now();
    ::SendMessageA(window, WM_MOUSEMOVE, 0, i % 2 ? offButtons : onMin);
    recompose.push_back(Now() - a);
  }
  const Spread anchor = Summarise(recompose);

  // The windows' part of the IntoGame hand-over: page view to progress view
  // (hide the main window and the page host, show the progress window).
  ui::ZProgressBar progress;
  base::CopyInto(progress.backgroundFile, (dir + "p_bg.png").c_str());
  base::CopyInto(progress.upperBarFile, (dir + "p_bar.png").c_str());
  base::CopyInto(progress.lowerBarFile, (dir + "p_bar.png").c_str());
  set.progressBar = &progress;
  progress.Init(::GetModuleHandleA(nullptr), window);
  progress.Create("ProgressBar", 0, 0, 0, 0, 0, WS_POPUP | WS_VISIBLE | WS_BORDER);
  ::ShowWindow(progress.Window(), SW_HIDE);
  uitest::PumpFor(100);
  std::vector<double> switches;
  for (int i = 0; i < 10; ++i) {
    const double a = Now();
    ui::SetViewState(2);
    switches.push_back(Now() - a);
    uitest::PumpFor(30);
    ui::SetViewState(1);
    uitest::PumpFor(30);
  }
  const Spread viewSwitch = Summarise(switches);
  progress.StopAnimation();
  ::DestroyWindow(progress.Window());
  set.progressBar = nullptr;
  std::printf(
      "change_median_ms=%.4f change_p90_ms=%.4f change_handovers=%u change_composes=%u "
      "same_median_ms=%.4f same_p90_ms=%.4f same_handovers=%u "
      "recompose_median_ms=%.4f recompose_p90_ms=%.4f buttons_median_ms=%.4f handover_median_ms=%.4f "
      "hostshow_median_ms=%.4f progress_view_median_ms=%.3f\n",
      change.median, change.p90, changeHandOvers, changeComposes, same.median, same.p90, sameHandOvers,
      anchor.median, anchor.p90, buttons.median, handOverOnly.median, hostOnly.median, viewSwitch.median);
  ui::SetWindowSet(nullptr);
  ::DestroyWindow(window);
  return 0;
}

int TargetLatency() {
  const std::string dir = WriteSkin();
  ui::ZProgressBar progress;
  base::CopyInto(progress.backgroundFile, (dir + "p_bg.png").c_str());
  base::CopyInto(progress.upperBarFile, (dir + "p_bar.png").c_str());
  base::CopyInto(progress.lowerBarFile, (dir + "p_bar.png").c_str());
  ui::WindowSet set;
  set.progressBar = &progress;
  ui::SetWindowSet(&set);
  progress.Init(::GetModuleHandleA(nullptr), nullptr);
  progress.Create("ProgressBar", 0, 0, 0, 0, 0, WS_POPUP | WS_VISIBLE | WS_BORDER);
  uitest::PumpFor(300);
  std::vector<double> times;
  for (int i = 1; i <= 40; ++i) {
    uitest::PumpFor(30);  // asleep again at the last target
    const std::uint32_t paints = progress.paintCount;
    const double a = Now();
    progress.targets.upperTarget = i;  // one point up: one step, one paint
    while (progress.paintCount == paints || progress.UpperValue() != i) {
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
      if (Now() - a > 2000) break;
    }
    times.push_back(Now() - a);
  }
  const Spread spread = Summarise(times);
  std::printf("target_median_ms=%.3f target_p90_ms=%.3f wakes=%u\n", spread.median, spread.p90,
              progress.wakeCount.load());
  progress.StopAnimation();
  ui::SetWindowSet(nullptr);
  ::DestroyWindow(progress.Window());
  return 0;
}

int IdleFloor() {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = ::DefWindowProcA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = "BenchIdle";
  ::RegisterClassExA(&wc);
  ::CreateWindowExA(0, "BenchIdle", "idle", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr,
                    wc.hInstance, nullptr);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hover") return Hover();
  if (mode == "target-latency") return TargetLatency();
  if (mode == "idle-floor") return IdleFloor();
  std::fprintf(stderr, "usage: ui_bench hover|target-latency|idle-floor\n");
  return 2;
}
