// The launcher's entry point: start-up, then the GUI thread's message loop.
#include <windows.h>

#include "app/launcher.h"
#include "app/self_test_argument.h"
#include "update/self_update/launcher_swap.h"
#ifdef LAUNCHER_SCRIPTED
#include "app/page_script.h"
#endif

namespace {

constexpr int kTitleSize = 100;
// The process ends with this code when start-up fails (after its box).
constexpr int kStartupFailedExitCode = 1;
// A self-test that did not pass ends with this code (and no result file).
constexpr int kSelfTestFailedExitCode = 3;

char g_title[kTitleSize];
char g_windowClassName[kTitleSize];

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  // A new launcher being qualified by the running one: no windows shown, no
  // box, no update; only the result file and the exit code.
  char selfTestResult[MAX_PATH] = {};
  if (app::FindSelfTestPath(commandLine, selfTestResult, sizeof selfTestResult))
    return app::Launcher().SelfTest(instance, selfTestResult) ? 0 : kSelfTestFailedExitCode;

  // A swap of the launcher's own files that a kill interrupted is finished
  // (or undone) before anything reads Data.
  update::SwapPlaces swapPlaces;
  if (update::CurrentSwapPlaces(&swapPlaces)) update::RecoverLauncherSwap(swapPlaces);

  // Loaded for completeness; the main window takes its title from the
  // configuration and its class name from its own class.
  ::LoadStringA(instance, 103, g_title, kTitleSize);
  ::LoadStringA(instance, 109, g_windowClassName, kTitleSize);

  if (!app::Launcher().Init(instance, commandLine)) return kStartupFailedExitCode;
#ifdef LAUNCHER_SCRIPTED
  // The scripted twin plays the page: its script runs on the GUI thread from
  // the message loop, once start-up's own messages (the main window's first
  // paint) have been handled, as page script would after the page has loaded.
  app::SchedulePageScript();
#endif

  // The program carries no accelerator table: the handle is null and every
  // message is translated and dispatched.
  HACCEL accelerators = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(109));
  MSG msg = {};
  while (::GetMessageA(&msg, nullptr, 0, 0)) {
    if (!::TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
#ifdef LAUNCHER_SCRIPTED
  app::ClosePageScript();
#endif
  // The windows are gone; the worker is asked to stop and waited for before
  // the process's objects are torn down.
  app::Launcher().EndUpdateWorker();
  return static_cast<int>(msg.wParam);
}
