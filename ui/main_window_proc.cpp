// The main window's behaviour: dragging, the two skinned buttons, the close
// sequence, keeping the page host at its offset and the private messages.
#include "ui/irregular_window.h"
#include "ui/main_window_messages.h"
#include "ui/progress_bar.h"
#include "ui/window_set.h"

namespace ui {

namespace {

// Depth of the close sequence. Its last step destroys the main window, whose
// WM_DESTROY runs the sequence again: that nested pass must not start
// another destruction, so it finds the depth set and does nothing.
int g_closeDepth = 0;

void CloseSequence(WindowSet& set) {
  if (g_closeDepth > 0) return;
  ++g_closeDepth;
  if (set.progressBar) {
    // The animation thread is joined before its window goes.
    set.progressBar->StopAnimation();
    ::DestroyWindow(set.progressBar->Window());
  }
  if (set.pageHost) ::DestroyWindow(set.pageHost->GetHostWindow());
  if (set.mainWindow) ::DestroyWindow(set.mainWindow->Window());
  --g_closeDepth;
}

// In the progress view closing cancels the update: the worker stops at its
// next safe point and closes the launcher. True when it did.
// The main window and the page go at once; the progress window stays until
// the worker closes everything.
bool CancelsUpdate(WindowSet& set) {
  if (!set.progressBar || (set.viewState != 2 && set.viewState != 3)) return false;
  if (set.viewState == 3) {
    if (set.mainWindow) ::ShowWindow(set.mainWindow->Window(), SW_HIDE);
    if (set.pageHost) ::ShowWindow(set.pageHost->GetHostWindow(), SW_HIDE);
    set.viewState = 2;
  }
  set.progressBar->RequestCancel();
  return true;
}

void ShowHostAtOffset(WindowSet& set) {
  if (set.pageHost) set.pageHost->ShowAtOffset();
}

void ShowHostOnTop(WindowSet& set) {
  ShowHostAtOffset(set);
  // Owned windows stay above their owner, but a layered window's first
  // UpdateLayeredWindow can restack it on top on some systems (seen under
  // Wine): put the page host back on top of the main window.
  if (set.pageHost) {
    ::SetWindowPos(set.pageHost->GetHostWindow(), HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void DrawNormalAndHost(WindowSet& set) {
  set.mainWindow->DrawNormal();
  ShowHostOnTop(set);
}

// Mouse positions: both words read unsigned, as client coordinates.
int PointX(LPARAM lParam) { return static_cast<int>(LOWORD(static_cast<DWORD_PTR>(lParam))); }
int PointY(LPARAM lParam) { return static_cast<int>(HIWORD(static_cast<DWORD_PTR>(lParam))); }

void OnCreate(HWND window) {
  LONG style = ::GetWindowLongA(window, GWL_STYLE);
  style &= ~static_cast<LONG>(WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_MINIMIZEBOX |
                              WS_MAXIMIZEBOX);
  style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  ::SetWindowLongA(window, GWL_STYLE, style);
  // The first layered drawing happens when this is taken from the queue.
  ::PostMessageW(window, WM_PAINT, 0, 0);
}

// A move that keeps the hover state hands nothing over: the window already
// shows that state's frame. Off the buttons the page host is still kept at
// its offset.
void OnMouseMove(WindowSet& set, LPARAM lParam) {
  ZIrregularWindow& main = *set.mainWindow;
  const HoverState state = main.StateAt(PointX(lParam), PointY(lParam));
  const bool changed = !main.HasShownFrame() || main.ShownState() != state;
  if (state == HoverState::Normal) {
    if (changed) {
      main.ChangeState(state);
      ShowHostOnTop(set);
    } else if (set.pageHost) {
      set.pageHost->PlaceAtOffset();
    }
  } else if (changed) {
    main.ChangeState(state);
  }
}

void OnLeftButtonDown(WindowSet& set, HWND window, LPARAM lParam) {
  const int x = PointX(lParam);
  const int y = PointY(lParam);
  ZIrregularWindow& main = *set.mainWindow;
  // A press tests the close button first.
  if (main.OnCloseButton(x, y)) {
    DrawNormalAndHost(set);
    if (CancelsUpdate(set)) return;
    // Everything disappears at once, before the windows are destroyed.
    ::ShowWindow(main.Window(), SW_HIDE);
    if (set.pageHost) ::ShowWindow(set.pageHost->GetHostWindow(), SW_HIDE);
    if (set.progressBar) ::ShowWindow(set.progressBar->Window(), SW_HIDE);
    set.viewState = 0;
    CloseSequence(set);
  } else if (main.OnMinButton(x, y)) {
    DrawNormalAndHost(set);
    ::ShowWindow(main.Window(), SW_MINIMIZE);
    if (set.pageHost) ::ShowWindow(set.pageHost->GetHostWindow(), SW_MINIMIZE);
  } else {
    // Drag: the system's move loop with the caption hit-test code; its
    // WM_MOVING and WM_MOVE keep the page host in place.
    ::SendMessageA(window, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  }
}

bool OnSysCommand(WindowSet& set, WPARAM wParam) {
  if (wParam == SC_CLOSE) {
    if (!CancelsUpdate(set)) CloseSequence(set);
    return true;
  }
  if (wParam == SC_RESTORE && set.viewState >= 1 && set.viewState <= 3)
    SetViewState(static_cast<std::uint32_t>(set.viewState));
  return false;
}

LRESULT OnNotifyCallback(WindowSet& set, WPARAM wParam, LPARAM lParam) {
  if (wParam != kTrayIconId) return 1;
  ZIrregularWindow& main = *set.mainWindow;
  if (lParam == WM_LBUTTONUP) {
    ::SetForegroundWindow(main.Window());
    ::ShowWindow(main.Window(), SW_RESTORE);
    ::ShowWindow(main.Window(), SW_SHOWNORMAL);
    ::UpdateWindow(main.Window());
    if (set.pageHost) {
      ::SetForegroundWindow(set.pageHost->GetHostWindow());
      set.pageHost->ShowAtOffset();
    }
  } else if (lParam == WM_RBUTTONDOWN) {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::SetForegroundWindow(main.Window());
    const BOOL command = ::TrackPopupMenu(main.trayMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x,
                                          cursor.y, 0, main.Window(), nullptr);
    if (command == kTrayCloseCommand) {
      ::DestroyWindow(main.Window());
      ::Shell_NotifyIconA(NIM_DELETE, &main.trayIcon);
    }
  }
  return 0;
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowSet* set = GetWindowSet();
  if (message == WM_CREATE) {
    OnCreate(window);
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  if (!set || !set->mainWindow) return ::DefWindowProcA(window, message, wParam, lParam);

  switch (message) {
    case WM_DESTROY:
      CloseSequence(*set);
      ::PostQuitMessage(0);
      break;
    case WM_MOVE:
    case WM_MOVING:
      if (set->pageHost) set->pageHost->PlaceAtOffset();
      break;
    case WM_PAINT:
      DrawNormalAndHost(*set);
      break;
    case WM_CLOSE:
      if (CancelsUpdate(*set)) return 0;
      CloseSequence(*set);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_SYSCOMMAND:
      if (OnSysCommand(*set, wParam)) return 1;
      break;
    case WM_MOUSEMOVE:
      OnMouseMove(*set, lParam);
      return 1;
    case WM_LBUTTONDOWN:
      OnLeftButtonDown(*set, window, lParam);
      break;
    case kShowMainMessage:
      ::ShowWindow(window, SW_SHOW);
      break;
    case kHideMainMessage:
      ::ShowWindow(window, SW_HIDE);
      break;
    case kNotifyCallbackMessage:
      return OnNotifyCallback(*set, wParam, lParam);
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace ui
