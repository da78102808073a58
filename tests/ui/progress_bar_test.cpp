// The progress window on screen, its animation rules and its thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/support/png_writer.h"
#include "skin_fixture.h"
#include "base/bounded_format.h"
#include "base/guards.h"
#include "ui/animation_step.h"

namespace uitest {
namespace {

using ProgressWindow = SkinnedWindows;

POINT ClientOrigin(HWND window) {
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  return origin;
}

// Shows the given values (targets equal, so the animation thread stays idle)
// and waits until they are painted.
void ShowValues(ui::ZProgressBar& bar, int upper, int lower, int stage) {
  bar.targets.upperTarget = upper;
  bar.targets.lowerTarget = lower;
  bar.targets.stageIndex = stage;
  bar.upperValue = upper;
  bar.lowerValue = lower;
  ::InvalidateRect(bar.Window(), nullptr, TRUE);
  ::UpdateWindow(bar.Window());
  PumpFor(150);
}

bool IsTextColour(std::uint32_t c) {
  return ((c >> 16) & 0xFF) > 150 && ((c >> 8) & 0xFF) > 100 && (c & 0xFF) < 110;
}

// Pixels of the text colour inside a client rectangle.
int TextPixels(const Shot& shot, POINT origin, int left, int top, int right, int bottom) {
  int count = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      if (IsTextColour(shot.At(origin.x + x, origin.y + y))) ++count;
  return count;
}

std::vector<std::uint32_t> Region(const Shot& shot, POINT origin, int l, int t, int r, int b) {
  std::vector<std::uint32_t> out;
  for (int y = t; y < b; ++y)
    for (int x = l; x < r; ++x) out.push_back(shot.At(origin.x + x, origin.y + y));
  return out;
}

TEST_F(ProgressWindow, BarsAreRevealedFromTheLeftAndTextsDrawn) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  const POINT o = ClientOrigin(progress->Window());
  const int values[] = {0, 37, 75, 100};
  std::vector<std::uint32_t> previousPercent;
  for (int stage = 0; stage < 4; ++stage) {
    const int v = values[stage];
    ShowValues(*progress, v, v, stage);
    const Shot shot = CaptureWindow(progress->Window());
    const int revealed = v * kBarWidth / 100;
    struct Bar {
      const char* name;
      int x, y;
      std::uint32_t colour;
    } bars[] = {{"upper", kUpperX, kUpperY, kUpperBar}, {"lower", kLowerX, kLowerY, kLowerBar}};
    for (const Bar& b : bars) {
      const int cy = o.y + b.y + kBarHeight / 2;
      if (revealed > 0) {
        EXPECT_TRUE(Near(shot.At(o.x + b.x, cy), b.colour & 0xFFFFFF)) << b.name << " at " << v;
        EXPECT_TRUE(Near(shot.At(o.x + b.x + revealed - 1, cy), b.colour & 0xFFFFFF))
            << b.name << " at " << v << ": " << Hex(shot.At(o.x + b.x + revealed - 1, cy));
      }
      if (revealed < kBarWidth) {
        EXPECT_TRUE(Near(shot.At(o.x + b.x + revealed, cy), kProgressBg & 0xFFFFFF))
            << b.name << " at " << v << ": " << Hex(shot.At(o.x + b.x + revealed, cy));
      }
      // The percent text 5 pixels above the bar at x 748.
      EXPECT_GT(TextPixels(shot, o, 748, b.y - 5, 796, b.y + 12), 5) << b.name << " text at " << v;
    }
    EXPECT_GT(TextPixels(shot, o, 30, 105, 330, 127), 20) << "stage text " << stage;
    const auto percent = Region(shot, o, 748, kUpperY - 5, 796, kUpperY + 12);
    EXPECT_NE(percent, previousPercent) << "the percent text follows the value";
    previousPercent = percent;
    SaveToGallery(("progress_stage_" + std::to_string(stage)).c_str(), shot);
  }
}

TEST_F(ProgressWindow, StageIndexOutsideTheTableRepeatsTheLastText) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  const POINT o = ClientOrigin(progress->Window());
  ShowValues(*progress, 50, 50, 2);
  const auto stage2 = Region(CaptureWindow(progress->Window()), o, 30, 105, 330, 127);
  for (int outside : {5, -1}) {
    ShowValues(*progress, 50, 50, outside);
    EXPECT_EQ(Region(CaptureWindow(progress->Window()), o, 30, 105, 330, 127), stage2) << outside;
  }
}

TEST_F(ProgressWindow, VerificationStageHasATextOfItsOwn) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  const POINT o = ClientOrigin(progress->Window());
  std::vector<std::vector<std::uint32_t>> texts;
  for (int stage : {2, 3, 4}) {
    ShowValues(*progress, 40, 75, stage);
    texts.push_back(Region(CaptureWindow(progress->Window()), o, 30, 105, 330, 127));
  }
  EXPECT_NE(texts[2], texts[0]);
  EXPECT_NE(texts[2], texts[1]);
  EXPECT_GT(TextPixels(CaptureWindow(progress->Window()), o, 30, 105, 330, 127), 20);
}

TEST_F(ProgressWindow, StageTextsHaveRealGlyphsInTheDefaultFont) {
  Build();
  base::WindowDC windowDc(progress->Window());
  base::MemoryDC dc(windowDc.Get());  // the paint buffer's kind of DC, default font
  for (int stage = 0; stage < 5; ++stage) {
    wchar_t wide[64] = {};
    const int n = ::MultiByteToWideChar(936, 0, ui::StageText(stage), -1, wide, 64) - 1;
    ASSERT_GT(n, 3);
    WORD glyphs[64] = {};
    ASSERT_NE(::GetGlyphIndicesW(dc.Get(), wide, n, glyphs, GGI_MARK_NONEXISTING_GLYPHS), GDI_ERROR);
    for (int i = 0; i < n; ++i) EXPECT_NE(glyphs[i], 0xFFFF) << "stage " << stage << " char " << i;
  }
}

// The step rule through the object, one pass at a time (no thread, no window).
TEST(ProgressAnimation, PassesFollowTheRulesDeterministically) {
  struct Case {
    const char* name;
    int start, target, passes, changingPasses, end;
  } cases[] = {
      {"0 to 37 step by step", 0, 37, 40, 37, 37},
      {"100 to 10 drops to 0 then climbs", 100, 10, 15, 11, 10},
      {"negative target keeps repainting at 0", 20, -4, 12, 12, 0},
      {"equal stays idle", 55, 55, 5, 0, 55},
  };
  for (const Case& c : cases) {
    ui::ZProgressBar bar;
    bar.upperValue = c.start;
    bar.lowerValue = c.start;
    bar.targets.upperTarget = c.target;
    bar.targets.lowerTarget = c.target;
    int changing = 0, value = c.start;
    for (int i = 0; i < c.passes; ++i) {
      const bool changed = bar.AnimationPass();
      changing += changed;
      const ui::StepResult expected = ui::StepTowards(value, c.target);
      value = expected.value;
      ASSERT_EQ(bar.UpperValue(), value) << c.name << " pass " << i;
      ASSERT_EQ(bar.LowerValue(), value) << c.name << " pass " << i;
      if (c.target >= 0) {
        ASSERT_LE(bar.UpperValue(), std::max(c.target, c.start));
      }
    }
    EXPECT_EQ(changing, c.changingPasses) << c.name;
    EXPECT_EQ(bar.UpperValue(), c.end) << c.name;
  }
}

TEST_F(ProgressWindow, ThreadClimbsToTheTargetAndRepaintsNegativeTargetsEveryPeriod) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  progress->targets.upperTarget = 37;
  const std::uint32_t paintsBefore = progress->paintCount;
  for (int waited = 0; waited < 3000 && progress->UpperValue() != 37; waited += 10) PumpFor(10);
  EXPECT_EQ(progress->UpperValue(), 37);
  EXPECT_GE(progress->paintCount - paintsBefore, 5u) << "repaints while climbing";

  // Negative: shows 0 % but asks for a repaint in every period.
  const POINT o = ClientOrigin(progress->Window());
  ShowValues(*progress, 0, 0, 0);
  const auto zeroText = Region(CaptureWindow(progress->Window()), o, 748, kUpperY - 5, 796, kUpperY + 12);
  progress->targets.upperTarget = -1;
  const std::uint32_t before = progress->paintCount;
  PumpFor(400);
  EXPECT_GE(progress->paintCount - before, 20u) << "a repaint in (nearly) every 5 ms period";
  EXPECT_EQ(progress->UpperValue(), 0);
  EXPECT_EQ(Region(CaptureWindow(progress->Window()), o, 748, kUpperY - 5, 796, kUpperY + 12), zeroText);
  progress->targets.upperTarget = 0;
}

TEST_F(ProgressWindow, FreeingTheObjectStopsAndJoinsItsThreadFirst) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  progress->targets.upperTarget = 100;
  progress->targets.lowerTarget = -1;  // keeps the thread repainting
  PumpFor(30);
  HANDLE thread = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), progress->animationThread.Handle(),
                                ::GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0));
  const HWND window = progress->Window();
  progress.reset();  // the window still exists; its repaints are in flight
  set.progressBar = nullptr;
  EXPECT_EQ(::WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(thread);
  ::DestroyWindow(window);
}

// Missing or broken images: a defined plain window that still paints.
TEST(ProgressWindowImages, BrokenImagesGiveTheFallbackWindow) {
  const std::string dir = SkinFolder();
  const std::string broken = TempFolder("broken") + "truncated.png";
  const auto good = testpng::ReadFile(dir + "progress_bg.png");
  ASSERT_TRUE(testpng::WriteFile(broken, std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 2)));
  struct Case {
    const char* name;
    std::string background, upper;
  } cases[] = {
      {"background missing", dir + "nothing.png", dir + "progress_1.png"},
      {"background truncated", broken, dir + "progress_1.png"},
      {"upper bar missing", dir + "progress_bg.png", dir + "nothing.png"},
  };
  for (const Case& c : cases) {
    ui::ZProgressBar bar;
    bar.upperBarX = kUpperX;
    ASSERT_TRUE(base::CopyInto(bar.backgroundFile, c.background.c_str()));
    ASSERT_TRUE(base::CopyInto(bar.upperBarFile, c.upper.c_str()));
    ASSERT_TRUE(base::CopyInto(bar.lowerBarFile, (dir + "progress_2.png").c_str()));
    ui::WindowSet set;
    set.progressBar = &bar;
    ui::SetWindowSet(&set);
    EXPECT_FALSE(bar.LoadBitmaps()) << c.name;
    // Init says that the images did not load; the window is still made.
    EXPECT_FALSE(bar.Init(::GetModuleHandleA(nullptr), nullptr)) << c.name;
    const HWND window = bar.Create("ProgressBar", 0, 0, 0, 0, 0, WS_POPUP | WS_VISIBLE | WS_BORDER);
    ASSERT_NE(window, nullptr) << c.name;
    bar.targets.upperTarget = 50;
    PumpFor(100);
    RECT rect{};
    ::GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, ui::ZProgressBar::kFallbackWidth) << c.name;
    EXPECT_EQ(rect.bottom - rect.top, ui::ZProgressBar::kFallbackHeight) << c.name;
    EXPECT_GT(bar.paintCount.load(), 0u) << c.name;
    bar.StopAnimation();
    ::DestroyWindow(window);
    ui::SetWindowSet(nullptr);
    DrainQueue();
    UnregisterFamilyClasses();
  }
}

// The animation thread sleeps while the values equal their targets: passes
// and wake-ups are counted, so a thread that never sleeps or never wakes
// fails here whatever the machine's speed.
TEST_F(ProgressWindow, AnimationThreadSleepsAtItsTargetsAndWakesForANewOne) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  auto reaches = [&](int value) {
    for (int waited = 0; waited < 3000 && progress->UpperValue() != value; waited += 10) PumpFor(10);
    return progress->UpperValue() == value;
  };
  progress->targets.upperTarget = 10;
  ASSERT_TRUE(reaches(10));
  PumpFor(30);
  const std::uint32_t passes = progress->passCount, wakes = progress->wakeCount;
  PumpFor(250);  // some fifty periods
  EXPECT_LE(progress->passCount - passes, 1u) << "passes while nothing moves";
  for (int i = 0; i < 20; ++i) progress->targets.upperTarget = 10;  // the value it holds
  progress->targets.lowerTarget = 0;
  PumpFor(30);
  EXPECT_EQ(progress->wakeCount.load(), wakes) << "a store of the held value woke it";

  const std::uint32_t paints = progress->paintCount;
  progress->targets.upperTarget = 15;
  ASSERT_TRUE(reaches(15)) << "a new target did not wake the thread";
  PumpFor(30);
  EXPECT_EQ(progress->wakeCount - wakes, 1u);
  const std::uint32_t moving = progress->passCount - passes;
  EXPECT_GE(moving, 5u) << "one point per pass";
  EXPECT_LE(moving, 7u) << "it went on passing once at the target";
  EXPECT_GE(progress->paintCount - paints, 1u) << "the GUI thread painted the new values";

  // Stopping wakes it from its sleep.
  PumpFor(30);
  HANDLE thread = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), progress->animationThread.Handle(),
                                ::GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0));
  progress->StopAnimation();
  EXPECT_EQ(::WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(thread);
}


// A byte count that stands still (a stalled transfer) stops the line's
// refreshes once its speed is down to nothing: the thread sleeps until the
// count moves again, then the line is drawn anew.
TEST_F(ProgressWindow, StillByteCountSleepsUntilTheCountMoves) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOWNA);
  progress->targets.stageIndex = 1;
  progress->targets.count.Set(progress::CountUnit::Bytes, 1000, 1000000);
  for (int waited = 0; waited < 5000 && !progress->StageLineStill(); waited += 50) PumpFor(50);
  ASSERT_TRUE(progress->StageLineStill()) << "the line never went still";
  PumpFor(300);
  const std::uint32_t wakes = progress->wakeCount, paints = progress->paintCount;
  PumpFor(1500);  // six refreshes of a counting line
  EXPECT_EQ(progress->wakeCount.load(), wakes) << "a still line kept waking the thread";
  EXPECT_EQ(progress->paintCount.load(), paints) << "a still line was painted again";

  progress->targets.count.Set(progress::CountUnit::Bytes, 500000, 1000000);
  for (int waited = 0; waited < 1000 && progress->paintCount == paints; waited += 10) PumpFor(10);
  EXPECT_GT(progress->wakeCount.load(), wakes) << "the count's move did not wake the thread";
  EXPECT_GT(progress->paintCount.load(), paints) << "the moved count was not drawn";
  EXPECT_FALSE(progress->StageLineStill());
}

}  // namespace
}  // namespace uitest
