// The launcher object: the one ZornLauncher of the process. It starts OLE and
// GDI+, parses the command line, reads Data\Config.cfg, brings the windows up
// and holds what the windows, the page bridge and the update worker share.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "app/argument_map.h"
#include "app/launcher_config.h"
#include "ui/window_set.h"

namespace ui {
class ZIrregularWindow;
class ZProgressBar;
}  // namespace ui
namespace web {
class ZWebBrowser;
}  // namespace web

namespace app {

class ZornLauncher {
 public:
  // Reads the system's millisecond counter; replaceable so that the start-page
  // URL can be checked at any tick.
  using TickSource = DWORD(WINAPI*)();

  ZornLauncher();  // out of line: the window objects are complete only in launcher.cpp
  // Balances a successful OleInitialize, then destroys the window objects.
  virtual ~ZornLauncher();
  ZornLauncher(const ZornLauncher&) = delete;
  ZornLauncher& operator=(const ZornLauncher&) = delete;

  // The whole start-up, once, on the GUI thread: OLE, arguments, GDI+, the
  // configuration file, then the windows. False after a failure box (OLE did
  // not start, or Data\Config.cfg could not be opened).
  virtual bool Init(HINSTANCE instance, const char* commandLine);

  // Reads the configuration file into `config`; false only when it cannot be
  // opened (then nothing is stored).
  bool ReadConfig(const char* path);

  // Composes the start-page URL from the page settings, the token argument
  // and the tick count. False, with an empty output, when not even the direct
  // form fits: then no page is opened rather than an empty address (see
  // ComposeStartUrl for the forms and the fallback from the token form).
  bool BuildStartUrl(const ArgumentMap& arguments, char* output, std::size_t outputSize);

  // Leaves <executable directory>\<value> in the path buffer. False, with an
  // empty path buffer, when it does not fit: that image then does not load.
  bool ComposeImagePath(const char* value);

  // Creates the window objects and windows, shows the main window and the
  // page, and opens the start page. Lives in window_startup.cpp.
  void StartWindows(HINSTANCE instance);
  // The configured skin and progress settings into the window objects, each
  // image made absolute first. Lives in window_startup.cpp.
  void DeliverConfiguration();
  // A new launcher's qualification before it replaces the running one: OLE,
  // GDI+, Data\Config.cfg, every skin image decoded, the three windows
  // created hidden; then "ok" and the build's identity written to
  // `resultPath`. False, with nothing written and no box shown, when a step
  // fails. Lives in self_test.cpp.
  bool SelfTest(HINSTANCE instance, const char* resultPath);
  // Destroys the window objects (after OleUninitialize), once the update
  // worker has ended. Lives in window_startup.cpp.
  void DestroyWindowObjects();
  // Asks the update worker to stop and waits for it to end (at once when none
  // runs). The exit calls it when the message loop has ended.
  void EndUpdateWorker();
  // Lets the browser control go while OLE is still up (before OleUninitialize).
  void CloseBrowser();

  // Shows and hides the three windows for a view state and stores the state.
  void SetViewState(std::uint32_t state);
  std::int32_t ViewState() const { return windows.viewState; }

  const char* PathBuffer() const { return pathBuffer; }
  void SetTickSource(TickSource source) { tickSource = source; }

  // Shared state, read by the window procedures, the script bridge and the
  // update worker. The configuration and the main window handle are written
  // only during Init.
  LauncherConfig config;
  HWND mainWindowHandle = nullptr;
  ArgumentMap arguments;
  // The running executable's path, which a new launcher's file replaces;
  // empty when it does not fit (the launcher then never updates itself).
  char modulePath[MAX_PATH] = {};

  // The three window objects, owned here; null until window start-up.
  std::unique_ptr<ui::ZIrregularWindow> mainWindow;
  std::unique_ptr<web::ZWebBrowser> pageHost;
  std::unique_ptr<ui::ZProgressBar> progressBar;
  // What the window procedures reach: the objects above and the view state
  // (0 none, 1 main + page, 2 progress alone, 3 all three).
  ui::WindowSet windows;

 private:
  // Step 4 of start-up: <executable directory>\Data\Config.cfg into the path buffer.
  bool ComposeConfigPath();

  // Shared by start-up (the configuration file's path) and ComposeImagePath.
  char pathBuffer[MAX_PATH] = {};
  bool oleInitialized = false;
  TickSource tickSource = &::GetTickCount;
  HICON windowIcon = nullptr;  // the main window's icon from [Icon] File
};

// The script bridge's IntoGame: hides the page view, shows the progress
// window and hands the page's parameters to the update worker.
void OnIntoGame(DISPPARAMS* params);
// The script bridge's Repair: the same, and the worker verifies and mends the
// client before the game starts.
void OnRepair(DISPPARAMS* params);
// The script bridge's UpdateState: how the update stands (update::UpdateStateText).
std::string OnUpdateState();

// The process's launcher object (static storage, constructed before WinMain).
ZornLauncher& Launcher();

// Fills `out` with this module's full file name; false (and empty) when the
// name does not fit.
bool GetModulePath(char* out, std::size_t outSize);

}  // namespace app
