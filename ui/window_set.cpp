#include "ui/window_set.h"

#include "ui/irregular_window.h"
#include "ui/progress_bar.h"

namespace ui {

namespace {
WindowSet* g_windowSet = nullptr;

HWND MainHandle(const WindowSet& set) { return set.mainWindow ? set.mainWindow->Window() : nullptr; }
HWND HostHandle(const WindowSet& set) { return set.pageHost ? set.pageHost->GetHostWindow() : nullptr; }
HWND ProgressHandle(const WindowSet& set) {
  return set.progressBar ? set.progressBar->Window() : nullptr;
}

void ShowMain(const WindowSet& set) {
  const HWND main = MainHandle(set);
  ::SetForegroundWindow(main);
  ::ShowWindow(main, SW_RESTORE);
  ::ShowWindow(main, SW_SHOWNORMAL);
  ::UpdateWindow(main);
}

void ShowHost(const WindowSet& set) {
  if (!set.pageHost) return;
  ::SetForegroundWindow(set.pageHost->GetHostWindow());
  set.pageHost->ShowAtOffset();
}

void ShowProgress(const WindowSet& set) {
  if (set.progressBar) set.progressBar->ShowCentered();
}
}  // namespace

void SetWindowSet(WindowSet* set) { g_windowSet = set; }
WindowSet* GetWindowSet() { return g_windowSet; }

void SetViewState(std::uint32_t state) {
  WindowSet* set = g_windowSet;
  if (!set) return;
  switch (state) {
    case 0:
      ::ShowWindow(MainHandle(*set), SW_HIDE);
      ::ShowWindow(HostHandle(*set), SW_HIDE);
      ::ShowWindow(ProgressHandle(*set), SW_HIDE);
      break;
    case 1:
      ShowMain(*set);
      ShowHost(*set);
      ::ShowWindow(ProgressHandle(*set), SW_HIDE);
      break;
    case 2:
      ::ShowWindow(MainHandle(*set), SW_HIDE);
      ::ShowWindow(HostHandle(*set), SW_HIDE);
      ShowProgress(*set);
      break;
    case 3:
      ShowMain(*set);
      ShowHost(*set);
      ShowProgress(*set);
      break;
    default:
      break;
  }
  set->viewState = static_cast<std::int32_t>(state);
}

}  // namespace ui
