// The skinned main window on screen and its behaviour, driven by real messages.
#include <gtest/gtest.h>

#include "skin_fixture.h"
#include "ui/main_window_messages.h"

namespace uitest {
namespace {

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }
bool Visible(HWND w) { return ::IsWindowVisible(w) != FALSE; }
bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

using MainWindow = SkinnedWindows;

// Opaque, half-transparent and transparent parts of the skin, blended by the
// compositor over what was on the screen before.
TEST_F(MainWindow, LayeredPixelsFollowTheSkinsAlpha) {
  const RECT area{40, 40, 40 + kSkinWidth, 40 + kSkinHeight};
  const Shot before = Capture(area);
  Build();
  ASSERT_TRUE(loaded);
  RECT rect{};
  ::GetWindowRect(mainWindow, &rect);
  ASSERT_EQ(rect.left, 40);
  ASSERT_EQ(rect.right - rect.left, kSkinWidth);
  ASSERT_EQ(rect.bottom - rect.top, kSkinHeight);

  auto blend = [&](int x, int y) {  // blue at alpha 128 over the earlier screen
    const std::uint32_t under = before.At(x, y);
    auto channel = [&](int shift, int source) {
      return static_cast<std::uint32_t>(source + ((under >> shift) & 0xFF) * 127 / 255) << shift;
    };
    return channel(16, 0) | channel(8, 0) | channel(0, 128);
  };
  struct Probe {
    const char* what;
    int x, y;
    std::uint32_t expected;
  } probes[] = {
      {"opaque", 90, 90, kRed & 0xFFFFFF},
      {"half transparent", 90, 190, blend(90, 190)},
      {"transparent", 90, 290, before.At(90, 290)},
      {"opaque lower right", 420, 330, kGreen & 0xFFFFFF},
  };
  for (const Probe& p : probes) {
    const std::uint32_t seen = WaitForColour(p.x, p.y, p.expected);
    EXPECT_TRUE(Near(seen, p.expected)) << p.what << ": " << Hex(seen) << " expected "
                                        << Hex(p.expected);
  }
  SaveToGallery("main_window_normal", CaptureWindow(mainWindow));
}

TEST_F(MainWindow, HoverLightsTheButtonUnderTheMouse) {
  Build();
  const int minPx = 40 + kMinX + 12, closePx = 40 + kCloseX + 12, py = 40 + kMinY + 12;
  struct Step {
    const char* name;
    int x, y;
    std::uint32_t min, close;
    const char* gallery;
  } steps[] = {
      {"over minimise", kMinX + 3, kMinY + 3, kMinHit, kCloseNormal, "main_window_hover_min"},
      {"over close", kCloseX + 20, kCloseY + 20, kMinNormal, kCloseHit, "main_window_hover_close"},
      {"elsewhere", 5, 5, kMinNormal, kCloseNormal, nullptr},
  };
  for (const Step& s : steps) {
    const int hostCalls = host->showAtOffsetCalls;
    EXPECT_EQ(::SendMessageA(mainWindow, WM_MOUSEMOVE, 0, At(s.x, s.y)), 1);
    const std::uint32_t min = WaitForColour(minPx, py, s.min & 0xFFFFFF);
    const std::uint32_t close = WaitForColour(closePx, py, s.close & 0xFFFFFF);
    EXPECT_TRUE(Near(min, s.min & 0xFFFFFF)) << s.name << ": minimise shows " << Hex(min);
    EXPECT_TRUE(Near(close, s.close & 0xFFFFFF)) << s.name << ": close shows " << Hex(close);
    // Only the move that hits no button re-shows the page host.
    EXPECT_EQ(host->showAtOffsetCalls > hostCalls, s.gallery == nullptr) << s.name;
    if (s.gallery) SaveToGallery(s.gallery, CaptureWindow(mainWindow));
  }
}

TEST_F(MainWindow, OverlappingButtonsShowMinimiseOnTopAndHoverItFirst) {
  SkinOptions options;
  options.minX = 330;  // minimise 330..353, close 340..363
  Build(options);
  const int y = 40 + kMinY + 12;
  EXPECT_TRUE(Near(WaitForColour(40 + 345, y, kMinNormal & 0xFFFFFF), kMinNormal & 0xFFFFFF));
  EXPECT_TRUE(Near(WaitForColour(40 + 360, y, kCloseNormal & 0xFFFFFF), kCloseNormal & 0xFFFFFF));
  ::SendMessageA(mainWindow, WM_MOUSEMOVE, 0, At(345, kMinY + 5));
  EXPECT_TRUE(Near(WaitForColour(40 + 345, y, kMinHit & 0xFFFFFF), kMinHit & 0xFFFFFF));
}

TEST_F(MainWindow, CreateTrimsTheFrameStylesAndUsesTheClassIcons) {
  Build();
  const LONG style = ::GetWindowLongA(mainWindow, GWL_STYLE);
  EXPECT_EQ(static_cast<DWORD>(style) & ~WS_MINIMIZE,
            static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
  EXPECT_NE(::GetClassLongPtrA(mainWindow, GCLP_HICON), 0u);
  EXPECT_NE(::GetClassLongPtrA(mainWindow, GCLP_HICONSM), 0u);
}

TEST_F(MainWindow, PressOnCloseHidesAllThreeThenEndsTheLoop) {
  Build();
  ::ShowWindow(progress->Window(), SW_SHOW);
  MessageRecorder recorder;
  const HWND hostWindow = host->GetHostWindow();
  const HWND progressWindow = progress->Window();
  ::SendMessageA(mainWindow, WM_LBUTTONDOWN, MK_LBUTTON, At(kCloseX + 1, kCloseY + 1));
  WPARAM code = 99;
  ASSERT_TRUE(RunUntilQuit(2000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(set.viewState, 0);
  for (HWND w : {mainWindow, hostWindow, progressWindow}) {
    EXPECT_FALSE(::IsWindow(w));
    const auto destroyed = recorder.Of(w, WM_DESTROY);
    ASSERT_FALSE(destroyed.empty());
    EXPECT_FALSE(destroyed[0].visible) << "destroyed while still visible";
  }
}

int g_cancels = 0;
void CountCancel() { ++g_cancels; }

// In the progress view every way of closing cancels the update instead: the
// progress bar's stop request, the launcher's cancel, and no window destroyed
// (the worker closes them once it has stopped). Elsewhere closing still closes.
TEST_F(MainWindow, ClosingInTheProgressViewCancelsTheUpdate) {
  struct Case {
    const char* how;
    std::uint32_t viewState;
    bool toProgress;  // else to the main window
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  const Case cases[] = {
      {"WM_CLOSE on the progress window (Alt+F4)", 2, true, WM_CLOSE, 0, 0},
      {"Esc on the progress window", 2, true, WM_KEYDOWN, VK_ESCAPE, 0},
      {"WM_CLOSE on the main window", 2, false, WM_CLOSE, 0, 0},
      {"SC_CLOSE on the main window", 3, false, WM_SYSCOMMAND, SC_CLOSE, 0},
      {"the close button", 3, false, WM_LBUTTONDOWN, MK_LBUTTON, At(kCloseX + 1, kCloseY + 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    Build();
    set.cancelUpdate = &CountCancel;
    g_cancels = 0;
    ui::SetViewState(c.viewState);
    ::SendMessageA(c.toProgress ? progress->Window() : mainWindow, c.message, c.wParam, c.lParam);
    EXPECT_FALSE(PumpFor(200)) << "the loop ended";
    EXPECT_TRUE(progress->targets.stop.Requested());
    EXPECT_EQ(1, g_cancels);
    EXPECT_TRUE(::IsWindow(progress->Window()));
    EXPECT_TRUE(::IsWindow(mainWindow));
    EXPECT_TRUE(Visible(progress->Window()));
    EXPECT_FALSE(Visible(mainWindow));
    EXPECT_EQ(2, set.viewState);
    TearDown();
  }
  // The page view has no update to cancel: closing closes.
  Build();
  set.cancelUpdate = &CountCancel;
  g_cancels = 0;
  ::SendMessageA(mainWindow, WM_CLOSE, 0, 0);
  EXPECT_TRUE(RunUntilQuit(2000));
  EXPECT_EQ(0, g_cancels);
  EXPECT_FALSE(progress->targets.stop.Requested());
}

TEST_F(MainWindow, PressOnMinimiseThenRestoreReappliesTheViewState) {
  Build();
  ::SendMessageA(mainWindow, WM_LBUTTONDOWN, MK_LBUTTON, At(kMinX + 23, kMinY + 23));
  PumpFor(50);
  EXPECT_TRUE(::IsIconic(mainWindow));
  EXPECT_TRUE(::IsIconic(host->GetHostWindow()));

  ::SendMessageA(mainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
  PumpFor(50);
  EXPECT_FALSE(::IsIconic(mainWindow));
  EXPECT_TRUE(Visible(mainWindow));
  EXPECT_TRUE(Visible(host->GetHostWindow()));
  EXPECT_FALSE(Visible(progress->Window()));
  RECT hostRect{};
  ::GetWindowRect(host->GetHostWindow(), &hostRect);
  EXPECT_TRUE(SameRect(hostRect, host->ExpectedRect()));
}

TEST_F(MainWindow, ViewStatesShowAndHideTheThreeWindows) {
  Build();
  struct Case {
    std::uint32_t state;
    bool main, host, progress;
  } cases[] = {
      {2, false, false, true}, {3, true, true, true}, {0, false, false, false},
      {1, true, true, false},  {7, true, true, false},  // unknown: nothing changes
  };
  for (const Case& c : cases) {
    ui::SetViewState(c.state);
    PumpFor(20);
    EXPECT_EQ(set.viewState, static_cast<std::int32_t>(c.state));
    EXPECT_EQ(Visible(mainWindow), c.main) << "state " << c.state;
    EXPECT_EQ(Visible(host->GetHostWindow()), c.host) << "state " << c.state;
    EXPECT_EQ(Visible(progress->Window()), c.progress) << "state " << c.state;
  }
  ui::SetViewState(2);
  RECT rect{};
  ::GetWindowRect(progress->Window(), &rect);
  EXPECT_EQ(rect.left, (::GetSystemMetrics(SM_CXSCREEN) - kProgressWidth) / 2);
  EXPECT_EQ(rect.top, (::GetSystemMetrics(SM_CYSCREEN) - kProgressHeight) / 2);
}

TEST_F(MainWindow, PrivateMessagesShowAndHideOnlyTheMainWindow) {
  Build();
  ::SendMessageA(mainWindow, ui::kHideMainMessage, 0, 0);
  EXPECT_FALSE(Visible(mainWindow));
  EXPECT_TRUE(Visible(host->GetHostWindow()));
  ::SendMessageA(mainWindow, ui::kShowMainMessage, 0, 0);
  EXPECT_TRUE(Visible(mainWindow));
  EXPECT_TRUE(Visible(host->GetHostWindow()));
}

TEST_F(MainWindow, MovingKeepsThePageHostAtItsOffset) {
  Build();
  RECT progressBefore{};
  ::GetWindowRect(progress->Window(), &progressBefore);
  ::MoveWindow(mainWindow, 120, 90, kSkinWidth, kSkinHeight, TRUE);
  PumpFor(20);
  RECT hostRect{}, progressAfter{};
  ::GetWindowRect(host->GetHostWindow(), &hostRect);
  EXPECT_TRUE(SameRect(hostRect, RECT{120 + kHostX, 90 + kHostY, 120 + kHostX + kHostW,
                                      90 + kHostY + kHostH}));
  ::GetWindowRect(progress->Window(), &progressAfter);
  EXPECT_TRUE(SameRect(progressBefore, progressAfter)) << "the progress window does not follow";
  // The page host is on screen over the main window, at its new place.
  const std::uint32_t seen = WaitForColour(120 + kHostX + 50, 90 + kHostY + 25, 0xFFFFFF);
  EXPECT_TRUE(Near(seen, 0xFFFFFF)) << Hex(seen);
}

// A press on a button whose normal image was never created starts a drag.
TEST_F(MainWindow, PressWhereAButtonNeverLoadedStartsADrag) {
  struct Case {
    const char* name;
    SkinOptions options;
    int x, y;
  };
  SkinOptions noBackground;
  noBackground.background = false;
  SkinOptions noClosePair;
  noClosePair.minHit = false;
  const Case cases[] = {
      {"background missing, on minimise", noBackground, kMinX + 2, kMinY + 2},
      {"close pair never loaded, on close", noClosePair, kCloseX + 2, kCloseY + 2},
  };
  for (const Case& c : cases) {
    Build(c.options);
    EXPECT_FALSE(loaded) << c.name;
    MessageRecorder recorder;
    // Ends the system's move loop as soon as it starts.
    ::PostMessageA(mainWindow, WM_LBUTTONUP, 0, At(c.x, c.y));
    ::SendMessageA(mainWindow, WM_LBUTTONDOWN, MK_LBUTTON, At(c.x, c.y));
    const auto commands = recorder.Of(mainWindow, WM_SYSCOMMAND);
    ASSERT_EQ(commands.size(), 1u) << c.name;
    EXPECT_EQ(commands[0].wParam, static_cast<WPARAM>(SC_MOVE | HTCAPTION)) << c.name;
    EXPECT_TRUE(::IsWindow(mainWindow)) << c.name;
    EXPECT_FALSE(::IsIconic(mainWindow)) << c.name;
    TearDown();
  }
}

TEST_F(MainWindow, MissingBackgroundGivesASmallCentredWindow) {
  SkinOptions options;
  options.background = false;
  options.x = options.y = 0;
  Build(options);
  EXPECT_FALSE(loaded);
  RECT rect{};
  ::GetWindowRect(mainWindow, &rect);
  EXPECT_EQ(rect.right - rect.left, ui::ZIrregularWindow::kFallbackWidth);
  EXPECT_EQ(rect.bottom - rect.top, ui::ZIrregularWindow::kFallbackHeight);
  EXPECT_EQ(rect.left, ::GetSystemMetrics(SM_CXSCREEN) / 2 - ui::ZIrregularWindow::kFallbackWidth / 2);
  EXPECT_EQ(rect.top, ::GetSystemMetrics(SM_CYSCREEN) / 2 - ui::ZIrregularWindow::kFallbackHeight / 2);
  // Hovering and painting without a background draw nothing and do not fail.
  ::SendMessageA(mainWindow, WM_MOUSEMOVE, 0, At(10, 10));
  ::SendMessageA(mainWindow, WM_PAINT, 0, 0);
}

// The worker's posted WM_DESTROY, and a destruction from outside: the close
// sequence runs, the nested pass destroys nothing more, and the loop ends.
TEST_F(MainWindow, CloseSequenceEndsAfterOneNestedPass) {
  for (bool posted : {true, false}) {
    Build();
    MessageRecorder recorder;
    const HWND hostWindow = host->GetHostWindow();
    const HWND progressWindow = progress->Window();
    if (posted)
      ::PostMessageA(mainWindow, WM_DESTROY, 0, 0);
    else
      ::DestroyWindow(mainWindow);
    WPARAM code = 99;
    EXPECT_TRUE(RunUntilQuit(2000, &code)) << (posted ? "posted" : "destroyed");
    EXPECT_EQ(code, 0u);
    for (HWND w : {mainWindow, hostWindow, progressWindow}) EXPECT_FALSE(::IsWindow(w));
    EXPECT_LE(recorder.Of(mainWindow, WM_DESTROY).size(), 2u);
    TearDown();
  }
}

TEST_F(MainWindow, CloseAndSysCloseRunTheCloseSequence) {
  for (bool sysCommand : {true, false}) {
    Build();
    if (sysCommand) {
      EXPECT_EQ(::SendMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0), 1);
    } else {
      ::SendMessageA(mainWindow, WM_CLOSE, 0, 0);
    }
    EXPECT_TRUE(RunUntilQuit(2000));
    EXPECT_FALSE(::IsWindow(mainWindow));
    TearDown();
  }
}

TEST_F(MainWindow, NotificationCallback) {
  Build();
  EXPECT_EQ(::SendMessageA(mainWindow, ui::kNotifyCallbackMessage, 127, WM_LBUTTONUP), 1);
  ::ShowWindow(mainWindow, SW_HIDE);
  ::ShowWindow(host->GetHostWindow(), SW_HIDE);
  EXPECT_EQ(::SendMessageA(mainWindow, ui::kNotifyCallbackMessage, ui::kTrayIconId, WM_LBUTTONUP), 0);
  EXPECT_TRUE(Visible(mainWindow));
  EXPECT_TRUE(Visible(host->GetHostWindow()));
  // No menu exists, so a right click changes nothing.
  EXPECT_EQ(::SendMessageA(mainWindow, ui::kNotifyCallbackMessage, ui::kTrayIconId, WM_RBUTTONDOWN), 0);
  EXPECT_TRUE(::IsWindow(mainWindow));
}

// Each hover state is composed once for the loaded skin, and a move hands a
// frame over only when it changes the state; off the buttons the page host
// is still kept in place.
TEST_F(MainWindow, MovesHandOverAFrameOnlyWhenTheHoverStateChanges) {
  Build();
  PumpFor(50);  // the first paint
  ASSERT_TRUE(main->HasShownFrame());
  struct Step {
    const char* name;
    int x, y;
    bool handsOver;
  } steps[] = {
      {"onto minimise", kMinX + 3, kMinY + 3, true},  {"within minimise", kMinX + 20, kMinY + 9, false},
      {"onto close", kCloseX + 3, kCloseY + 3, true}, {"within close", kCloseX + 4, kCloseY + 20, false},
      {"off the buttons", 5, 5, true},                {"still off", 6, 150, false},
      {"minimise again", kMinX + 1, kMinY + 1, true}, {"close again", kCloseX + 1, kCloseY + 1, true},
      {"off again", 7, 7, true},
  };
  for (const Step& s : steps) {
    const std::uint32_t before = main->handOverCount;
    ::SendMessageA(mainWindow, WM_MOUSEMOVE, 0, At(s.x, s.y));
    EXPECT_EQ(main->handOverCount - before, s.handsOver ? 1u : 0u) << s.name;
  }
  EXPECT_EQ(main->composeCount, 3u) << "one composition per state";
  EXPECT_TRUE(Near(WaitForColour(40 + kMinX + 12, 40 + kMinY + 12, kMinNormal & 0xFFFFFF), kMinNormal & 0xFFFFFF));

  ::MoveWindow(host->GetHostWindow(), 0, 0, kHostW, kHostH, TRUE);
  const std::uint32_t before = main->handOverCount;
  ::SendMessageA(mainWindow, WM_MOUSEMOVE, 0, At(8, 8));
  EXPECT_EQ(main->handOverCount, before);
  RECT hostRect{};
  ::GetWindowRect(host->GetHostWindow(), &hostRect);
  EXPECT_TRUE(SameRect(hostRect, host->ExpectedRect())) << "the page host is put back at its offset";

  // A reloaded skin is composed anew.
  ASSERT_TRUE(main->ReloadImages());
  ::SendMessageA(mainWindow, WM_MOUSEMOVE, 0, At(8, 9));
  EXPECT_EQ(main->composeCount, 4u);
  EXPECT_EQ(main->ShownState(), ui::HoverState::Normal);
}

}  // namespace
}  // namespace uitest
