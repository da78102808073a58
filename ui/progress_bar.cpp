#include "ui/progress_bar.h"

#include <cstring>
#include <vector>

#include "base/bounded_format.h"
#include "ui/animation_step.h"
#include "ui/png_decode.h"
#include "ui/stage_line.h"
#include "ui/window_set.h"

namespace ui {

namespace {

struct DecodedImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;

  bool Decode(const char* path) { return DecodePng(path, &width, &height, &pixels) >= 0; }
  HBITMAP MakeBitmap() const { return ::CreateBitmap(width, height, 1, 32, pixels.data()); }
};

// Copies the left part of a bar bitmap that `value` percent reveals.
void DrawBar(HDC target, HDC scratch, HBITMAP bar, int x, int y, std::int32_t value) {
  if (!bar) return;
  BITMAP info{};
  if (::GetObjectA(bar, sizeof(info), &info) == 0) return;
  const int width = RevealedWidth(value, info.bmWidth);
  if (width == 0) return;
  base::SelectedObject selected(scratch, bar);
  ::BitBlt(target, x, y, width, info.bmHeight, scratch, 0, 0, SRCCOPY);
}

void DrawPercent(HDC dc, int y, std::int32_t value) {
  char text[64];
  if (!base::FormatInto(text, sizeof(text), "%d %%", static_cast<int>(value))) return;
  ::TextOutA(dc, 748, y - 5, text, static_cast<int>(std::strlen(text)));
}

LineUnit LineUnitOf(progress::CountUnit unit) {
  switch (unit) {
    case progress::CountUnit::Bytes: return LineUnit::Bytes;
    case progress::CountUnit::Files: return LineUnit::Files;
    case progress::CountUnit::None: break;
  }
  return LineUnit::None;
}

}  // namespace

ZProgressBar::ZProgressBar() { SetClassName("ZProgressBar"); }

ZProgressBar::~ZProgressBar() { StopAnimation(); }

bool ZProgressBar::Init(HINSTANCE instanceHandle, HWND ownerWindow) {
  ZBaseWnd::Init(instanceHandle, ownerWindow);
  return LoadBitmaps();
}

bool ZProgressBar::LoadBitmaps() {
  DecodedImage upper;
  DecodedImage lower;
  DecodedImage background;
  if (!upper.Decode(upperBarFile) || !lower.Decode(lowerBarFile) ||
      !background.Decode(backgroundFile)) {
    backgroundWidth = kFallbackWidth;
    backgroundHeight = kFallbackHeight;
    return false;
  }
  upperBarBitmap.Reset(upper.MakeBitmap());
  lowerBarBitmap.Reset(lower.MakeBitmap());
  backgroundBitmap.Reset(background.MakeBitmap());
  backgroundWidth = background.width;
  backgroundHeight = background.height;
  return true;  // the pixel blocks go with the DecodedImage objects here
}

bool ZProgressBar::ReloadImages() {
  upperBarBitmap.Reset();
  lowerBarBitmap.Reset();
  backgroundBitmap.Reset();
  return LoadBitmaps();
}

HWND ZProgressBar::Create(const char* title, int x, int y, int width, int height,
                          DWORD extendedStyle, DWORD style) {
  if (width == 0) width = backgroundWidth;
  if (height == 0) height = backgroundHeight;
  if (x == 0) x = ::GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
  if (y == 0) y = ::GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
  ZBaseWnd::Create(title, x, y, width, height, extendedStyle, style);
  if (window && !animationThread.Started()) {
    stopAnimation.store(false);
    animationThread.Start(&ZProgressBar::AnimationThreadProc, this);
  }
  return window;
}

bool ZProgressBar::RegisterWindow() { return RegisterFamilyClass(ProgressBarProc, nullptr, nullptr); }

void ZProgressBar::ShowCentered() {
  ::SetForegroundWindow(window);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - backgroundWidth) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - backgroundHeight) / 2;
  ::MoveWindow(window, x, y, backgroundWidth, backgroundHeight, TRUE);
  ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);  // above the main window
  ::ShowWindow(window, SW_RESTORE);
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::UpdateWindow(window);
}

void ZProgressBar::Compose(HDC dc) {
  base::MemoryDC scratch(dc);
  if (backgroundBitmap) {
    base::SelectedObject selected(scratch.Get(), backgroundBitmap.Get());
    ::BitBlt(dc, 0, 0, backgroundWidth, backgroundHeight, scratch.Get(), 0, 0, SRCCOPY);
  } else {
    RECT all{0, 0, backgroundWidth, backgroundHeight};
    ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_WINDOW));
  }
  // Read each value once so that the bar and its text agree.
  const std::int32_t upper = UpperValue();
  const std::int32_t lower = LowerValue();
  DrawBar(dc, scratch.Get(), upperBarBitmap.Get(), upperBarX, upperBarY, upper);
  DrawBar(dc, scratch.Get(), lowerBarBitmap.Get(), lowerBarX, lowerBarY, lower);

  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(255, 200, 0));
  DrawPercent(dc, upperBarY, upper);
  DrawPercent(dc, lowerBarY, lower);
  // An index without a text repeats the text of the last valid one.
  if (const char* text = StageText(targets.stageIndex.load(std::memory_order_relaxed)))
    base::CopyInto(stageText, text);
  const std::string line = ComposeStageLine(dc);
  if (!line.empty()) ::TextOutA(dc, kStageTextX, kStageTextY, line.c_str(), static_cast<int>(line.size()));
  std::lock_guard<std::mutex> lock(lineMutex_);
  drawnLine_ = line;
}

std::string ZProgressBar::ComposeStageLine(HDC dc) {
  StageLineParts parts;
  parts.stageText = stageText;
  const std::int32_t stage = targets.stageIndex.load(std::memory_order_relaxed);
  const std::int64_t done = targets.count.done.load(std::memory_order_acquire);
  const LineUnit unit = LineUnitOf(targets.count.Unit());
  if (StageShowsCount(stage, unit)) {
    parts.unit = unit;
    parts.done = done;
    parts.total = targets.count.total.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(lineMutex_);
    parts.speedKnown = estimate_.SpeedKnown();
    parts.bytesPerSecond = estimate_.BytesPerSecond();
    parts.timeLeftKnown = estimate_.TimeLeftKnown();
    parts.secondsLeft = estimate_.SecondsLeft();
  }
  RECT client{0, 0, backgroundWidth, backgroundHeight};
  if (window) ::GetClientRect(window, &client);
  const std::int32_t width = static_cast<std::int32_t>(client.right) - kStageTextX - kStageTextRightMargin;
  return ui::ComposeStageLine(parts, width, [dc](const std::string& text) {
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<std::int32_t>(size.cx);
  });
}

std::string ZProgressBar::DrawnStageLine() const {
  std::lock_guard<std::mutex> lock(lineMutex_);
  return drawnLine_;
}

bool ZProgressBar::RefreshStageLine(ULONGLONG nowMs) {
  const std::int64_t done = targets.count.done.load(std::memory_order_acquire);
  const progress::CountUnit unit = targets.count.Unit();
  const std::int64_t total = targets.count.total.load(std::memory_order_relaxed);
  if (unit == progress::CountUnit::None) {
    std::lock_guard<std::mutex> lock(lineMutex_);
    estimate_.Reset();
    lineStill_ = false;
    return false;
  }
  if (nowMs - lastLineRefreshMs_ < kLineRefreshMs) return true;
  lastLineRefreshMs_ = nowMs;
  const bool wasStill = lineStill_;
  {
    std::lock_guard<std::mutex> lock(lineMutex_);
    if (unit == progress::CountUnit::Bytes && total > 0)
      estimate_.Sample(static_cast<std::int64_t>(nowMs), done, total);
    else
      estimate_.Reset();
    lineStill_ = unit == progress::CountUnit::Bytes && done == lastLineDone_ && estimate_.SpeedKnown() &&
                 estimate_.BytesPerSecond() <= 0;
  }
  lastLineDone_ = done;
  // The line that went still was drawn by the refresh that found it so.
  if (wasStill && lineStill_) return true;
  if (window) {
    RECT line{kStageTextX, 0, backgroundWidth, backgroundHeight};
    ::InvalidateRect(window, &line, TRUE);
  }
  return true;
}

void ZProgressBar::RequestCancel() {
  targets.stop.Request();
  WindowSet* set = GetWindowSet();
  if (set && set->progressBar == this && set->cancelUpdate) set->cancelUpdate();
}

void ZProgressBar::Paint() {
  base::PaintScope paint(window);
  if (!paint.Get()) return;
  base::MemoryDC buffer(paint.Get());
  base::GdiObject<HBITMAP> bitmap(
      ::CreateCompatibleBitmap(paint.Get(), backgroundWidth, backgroundHeight));
  if (!buffer || !bitmap) return;
  {
    base::SelectedObject selected(buffer.Get(), bitmap.Get());
    Compose(buffer.Get());
    ::BitBlt(paint.Get(), 0, 0, backgroundWidth, backgroundHeight, buffer.Get(), 0, 0, SRCCOPY);
  }
  paintCount.fetch_add(1, std::memory_order_relaxed);
}

bool ZProgressBar::AnimationPass() {
  passCount.fetch_add(1, std::memory_order_relaxed);
  const StepResult upper = StepTowards(UpperValue(), targets.upperTarget.load());
  const StepResult lower = StepTowards(LowerValue(), targets.lowerTarget.load());
  if (upper.changed) upperValue.store(upper.value, std::memory_order_relaxed);
  if (lower.changed) lowerValue.store(lower.value, std::memory_order_relaxed);
  const bool changed = upper.changed || lower.changed;
  if (changed && window) {
    // Asynchronous: the GUI thread paints when it next looks at its queue.
    RECT client{};
    ::GetClientRect(window, &client);
    ::InvalidateRect(window, &client, TRUE);
  }
  return changed;
}

bool ZProgressBar::AtTargets() const {
  return UpperValue() == targets.upperTarget.load() && LowerValue() == targets.lowerTarget.load();
}

unsigned __stdcall ZProgressBar::AnimationThreadProc(void* self) {
  auto* bar = static_cast<ZProgressBar*>(self);
  while (!bar->stopAnimation.load()) {
    bar->AnimationPass();
    const bool counting = bar->RefreshStageLine(::GetTickCount64());
    // Nothing to move: sleep until a target changes (or the stop comes), or
    // until the counting line's next refresh. A store after the look above
    // has set the event, so the wait returns.
    if (bar->AtTargets() && !bar->stopAnimation.load()) {
      // A still line (a stalled transfer) waits for the count's next move.
      const bool still = counting && bar->StageLineStill() && bar->targets.count.WakeOnNextSet(bar->lastLineDone_);
      bar->targets.changed.Wait(counting && !still ? kLineRefreshMs : INFINITE);
      bar->wakeCount.fetch_add(1, std::memory_order_relaxed);
    }
    // The step after a wake-up comes one period later, as between steps.
    ::Sleep(kAnimationPeriodMs);
  }
  return 0;
}

void ZProgressBar::StopAnimation() {
  stopAnimation.store(true);
  targets.changed.Set();
  if (!animationThread.Started()) return;
  // Repaint requests are posted, never waited for, but keep handling sent
  // messages while waiting so that no cross-thread call can block the join.
  HANDLE handle = animationThread.Handle();
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
    if (result != WAIT_OBJECT_0 + 1) break;  // ended (or the wait failed)
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

namespace {

// Closing the progress window cancels the update; the window itself stays
// until the worker closes the launcher (the system's default would destroy it
// under the worker).
LRESULT OnProgressClose(HWND window) {
  WindowSet* set = GetWindowSet();
  if (set && set->progressBar && set->progressBar->Window() == window) set->progressBar->RequestCancel();
  return 0;
}

}  // namespace

LRESULT CALLBACK ProgressBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      WindowSet* set = GetWindowSet();
      if (set && set->progressBar && set->progressBar->Window() == window)
        set->progressBar->Paint();
      break;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      return OnProgressClose(window);
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) return OnProgressClose(window);
      break;
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace ui
