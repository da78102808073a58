#include "tests/update/worker_harness.h"

#include <algorithm>
#include <chrono>

#include "base/thread.h"
#include "update/download_log_testing.h"

namespace testing_update {

const char kCaption[] = "\xcc\xe1\xca\xbe";
const char kTempFailed[] = "\xb4\xb4\xbd\xa8" "Temp" "\xc4\xbf\xc2\xbc\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kVersionFailed[] = "\xcf\xc2\xd4\xd8\xb0\xe6\xb1\xbe\xce\xc4\xbc\xfe\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kArchiveFailed[] = "\xcf\xc2\xd4\xd8\xd3\xce\xcf\xb7\xd7\xca\xd4\xb4\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kInstallFailed[] = "\xb0\xb2\xd7\xb0\xd3\xce\xcf\xb7\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kNoSpace[] =  // 磁盘空间不足，请重新启动
    "\xb4\xc5\xc5\xcc\xbf\xd5\xbc\xe4\xb2\xbb\xd7\xe3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kStarted[] = "Successfully started the game.";

Observed* g_observed = nullptr;
progress::ProgressTargets* g_targets = nullptr;

namespace {

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY && g_observed) g_observed->closeRequested = true;
  return ::DefWindowProcA(window, message, w, l);
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    ::BeginPaint(window, &ps);
    if (g_observed && g_targets) {
      // Wine may paint a stage twice; what counts is the sequence of states.
      const Stage now(g_targets->stageIndex.load(), g_targets->lowerTarget.load());
      if (g_observed->stages.empty() || g_observed->stages.back() != now) g_observed->stages.push_back(now);
    }
    ::EndPaint(window, &ps);
    return 0;
  }
  return ::DefWindowProcA(window, message, w, l);
}

}  // namespace

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  WNDCLASSA main = {};
  main.lpfnWndProc = MainProc;
  main.hInstance = ::GetModuleHandleA(nullptr);
  main.lpszClassName = "UpdateTestMain";
  ::RegisterClassA(&main);
  WNDCLASSA bar = main;
  bar.lpfnWndProc = ProgressProc;
  bar.lpszClassName = "UpdateTestProgress";
  ::RegisterClassA(&bar);
}

namespace {

// Other test programs may show boxes on the same display: only this
// process's boxes count.
HWND FindOwnBox() {
  for (HWND box = nullptr; (box = ::FindWindowExA(nullptr, box, "#32770", kCaption)) != nullptr;) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(box, &process);
    if (process == ::GetCurrentProcessId()) return box;
  }
  return nullptr;
}

}  // namespace

// Dismisses a message box of the worker, once, recording its text.
void HandleBoxes(Observed* observed, HWND* lastBox) {
  HWND box = FindOwnBox();
  if (box == nullptr || box == *lastBox) return;
  char text[512] = {};
  ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  observed->boxes.push_back(text);
  *lastBox = box;
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
}

std::string Descriptor(int version, const std::string& url) {
  return "[Launcher]\r\nVersion=" + std::to_string(version) + "\r\nUrl=" + url + "\r\n";
}

::testing::AssertionResult ShownInOrder(const std::vector<Stage>& shown, const std::vector<Stage>& seen) {
  if (seen.empty() || shown.empty() || seen.back() != shown.back())
    return ::testing::AssertionFailure() << "last stage differs";
  std::size_t next = 0;
  for (const auto& stage : seen) {
    while (next < shown.size() && shown[next] != stage) ++next;
    if (next == shown.size())
      return ::testing::AssertionFailure() << "stage (" << stage.first << ", " << stage.second << ") out of order";
    ++next;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testing_update
