// What the main window's procedure and the script bridge need of the
// launcher: its three window objects and the view state. The launcher owns
// the objects and registers its set here once at start-up.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ui {

class ZIrregularWindow;
class ZProgressBar;

// The part of the page host that the main window drives.
class PageHostView {
 public:
  virtual HWND GetHostWindow() = 0;
  // SW_RESTORE, SW_SHOWNORMAL, then placed at its offset from the owner, then updated.
  virtual void ShowAtOffset() = 0;
  // Only moves the page host window to owner's top-left + offset (WM_MOVE, WM_MOVING).
  virtual void PlaceAtOffset() = 0;

 protected:
  ~PageHostView() = default;
};

struct WindowSet {
  ZIrregularWindow* mainWindow = nullptr;
  PageHostView* pageHost = nullptr;
  ZProgressBar* progressBar = nullptr;
  std::int32_t viewState = 0;  // 0 none, 1 main + page, 2 progress alone, 3 all three
  // Called (after the progress bar's own stop request) when the player
  // cancels the update; it closes the launcher when no worker runs to do so.
  void (*cancelUpdate)() = nullptr;
};

// The process's window set (registered by the launcher; tests may register their own).
void SetWindowSet(WindowSet* set);
WindowSet* GetWindowSet();

// Shows and hides the three windows for a view state and stores it.
void SetViewState(std::uint32_t state);

}  // namespace ui
