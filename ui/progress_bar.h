// The progress window: a background and two bars revealed from the left by
// percentages, the two percent texts and a stage text, painted with GDI
// through one off-screen buffer. An animation thread moves the displayed
// percentages one point per period towards the targets other threads set,
// and sleeps while every displayed value equals its target; while a stage
// line counts bytes or files it also samples the count a few times a second
// (the speed and the time left) and has the line repainted. Closing the
// window (WM_CLOSE: Alt+F4, or Esc on it) asks the worker to stop.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/guards.h"
#include "base/progress_targets.h"
#include "base/thread.h"
#include "ui/irregular_window.h"
#include "ui/transfer_estimate.h"

namespace ui {

class ZProgressBar : public ZIrregularWindow {
 public:
  // Size the window takes when the images could not be loaded: a plain
  // window that still shows the texts (drawn on the system's window colour).
  static constexpr std::int32_t kFallbackWidth = 800;
  static constexpr std::int32_t kFallbackHeight = 130;
  static constexpr DWORD kAnimationPeriodMs = 5;
  // How often a counting stage line is sampled and repainted.
  static constexpr DWORD kLineRefreshMs = 250;
  static constexpr std::int32_t kStageTextX = 30;
  static constexpr std::int32_t kStageTextY = 105;
  static constexpr std::int32_t kStageTextRightMargin = 8;

  ZProgressBar();
  // Stops and joins the animation thread before anything it reads goes away.
  ~ZProgressBar() override;

  // Stores both and loads the bitmaps; false when they did not load (the
  // window then takes its fallback size and still shows the texts).
  bool Init(HINSTANCE instanceHandle, HWND ownerWindow) override;
  // Defaults from the background size, then starts the animation thread.
  HWND Create(const char* title, int x, int y, int width, int height, DWORD extendedStyle,
              DWORD style) override;
  bool RegisterWindow() override;
  // Deletes the three bitmaps and loads them again.
  bool ReloadImages() override;

  // Decodes the three files and makes their bitmaps; all or nothing. The
  // decoded pixel blocks are freed once the bitmaps exist.
  bool LoadBitmaps();
  // Brings the window to the front at the centre of the screen.
  void ShowCentered();
  // The WM_PAINT drawing.
  void Paint();
  // Composes the whole picture into `dc` (a buffer of the background's size).
  void Compose(HDC dc);

  // One pass of the animation: steps both bars, and asks for a repaint (an
  // invalidation the GUI thread paints) when a value changed. Returns whether
  // one did.
  bool AnimationPass();
  // Whether both displayed values equal their targets (nothing to move).
  bool AtTargets() const;
  // Samples the stage line's count at `nowMs` when a refresh is due, and asks
  // for a repaint of the line. Returns whether a count is being shown (the
  // animation thread then wakes for the next refresh, unless the line is still).
  bool RefreshStageLine(ULONGLONG nowMs);
  // Whether the last refresh found the byte count where the one before left
  // it with the speed down to nothing: the line shows nothing new until the
  // count moves, so the animation thread sleeps until then.
  bool StageLineStill() const { return lineStill_; }
  // The player's cancel: the targets' stop request, then the window set's
  // cancelUpdate (which closes the launcher when no worker runs).
  void RequestCancel();
  // The stage line the last paint drew, exactly as drawn.
  std::string DrawnStageLine() const;
  // Sets the stop flag and waits for the animation thread to end, handling
  // the repaint requests it may be waiting on meanwhile.
  void StopAnimation();

  std::int32_t UpperValue() const { return upperValue.load(std::memory_order_relaxed); }
  std::int32_t LowerValue() const { return lowerValue.load(std::memory_order_relaxed); }

  // Written by other threads (the update worker); read by the animation thread.
  progress::ProgressTargets targets;

  std::atomic<bool> stopAnimation{false};
  base::Thread animationThread;
  std::int32_t backgroundWidth = kFallbackWidth;
  std::int32_t backgroundHeight = kFallbackHeight;

  base::GdiObject<HBITMAP> upperBarBitmap;
  std::atomic<std::int32_t> upperValue{0};
  base::GdiObject<HBITMAP> lowerBarBitmap;
  std::atomic<std::int32_t> lowerValue{0};
  base::GdiObject<HBITMAP> backgroundBitmap;

  std::int32_t upperBarX = 6;
  std::int32_t upperBarY = 6;
  std::int32_t lowerBarX = 6;
  std::int32_t lowerBarY = 24;
  char upperBarFile[512] = "progress_1.png";
  char lowerBarFile[512] = "progress_2.png";
  char backgroundFile[512] = "progress_bg.png";

  // Counters for tests and measurements: animation passes, returns from
  // sleeping on the targets' event, and paints.
  std::atomic<std::uint32_t> passCount{0};
  std::atomic<std::uint32_t> wakeCount{0};
  std::atomic<std::uint32_t> paintCount{0};

 private:
  static unsigned __stdcall AnimationThreadProc(void* self);
  // The line for the current stage and count, fitted to the window in `dc`'s font.
  std::string ComposeStageLine(HDC dc);

  // The stage text of the last paint with a valid stage index.
  char stageText[80] = {};

  // Shared by the animation thread (samples) and the GUI thread (paint).
  mutable std::mutex lineMutex_;
  TransferEstimate estimate_;
  std::string drawnLine_;
  // The animation thread's own.
  ULONGLONG lastLineRefreshMs_ = 0;
  std::int64_t lastLineDone_ = -1;
  bool lineStill_ = false;
};

// The window procedure of the "ZProgressBar" class; it paints the progress
// bar of GetWindowSet().
LRESULT CALLBACK ProgressBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
