#include "app/page_script.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/demo_page_script.h"
#include "app/launcher.h"
#include "base/guards.h"
#include "web/jscript_runner.h"
#include "web/z_web_browser.h"

namespace app {

namespace {

constexpr char kScriptVariable[] = "LAUNCHER_PAGE_SCRIPT";
constexpr char kDelayVariable[] = "LAUNCHER_PAGE_SCRIPT_DELAY_MS";
constexpr unsigned long kMaxDelayMs = 60000;

// A thread timer's message is made only when no posted message is waiting, so
// even a delay of 0 runs the script after start-up's queued messages.
void CALLBACK RunScriptOnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  RunPageScript();
}

unsigned long ScriptDelayMs() {
  char text[16] = {};
  const DWORD length = ::GetEnvironmentVariableA(kDelayVariable, text, sizeof text);
  if (length == 0 || length >= sizeof text) return 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0') return 0;
  return value > kMaxDelayMs ? kMaxDelayMs : value;
}

// Reads a whole UTF-8 file as wide text; false when it cannot be read.
bool ReadScriptFile(const char* path, std::wstring* script) {
  base::UniqueFile file(std::fopen(path, "rb"));
  if (!file) return false;
  std::string bytes;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.Get())) > 0) bytes.append(chunk, n);
  // An editor's UTF-8 byte-order mark is not script.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  if (bytes.empty()) {
    script->clear();
    return true;
  }
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                           nullptr, 0);
  if (length <= 0) return false;
  script->assign(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &(*script)[0],
                        length);
  return true;
}

void ReportScriptProblem(const char* what, const char* detail) {
  std::fprintf(stderr, "page script: %s%s%s\n", what, detail[0] ? ": " : "", detail);
  std::fflush(stderr);
}

// The page's engine stays up while the launcher runs, as a page's script
// does: what it handed to window.setTimeout runs later from the message loop.
std::unique_ptr<web::ScriptEngine>& PageEngine() {
  static std::unique_ptr<web::ScriptEngine> engine;
  return engine;
}

// A timeout's error is told once, as a page's would be in its console.
void CALLBACK ReportTimeoutErrors(HWND, UINT, UINT_PTR, DWORD) {
  static std::string reported;
  if (!PageEngine()) return;
  const char* error = PageEngine()->LastTimeoutError();
  if (error[0] != '\0' && reported != error) {
    reported = error;
    ReportScriptProblem("failed", error);
  }
}

}  // namespace

bool RunPageScript() {
  ZornLauncher& launcher = Launcher();
  if (!launcher.pageHost) return false;

  std::wstring script;
  char path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA(kScriptVariable, path, sizeof path);
  if (length >= sizeof path) {
    ReportScriptProblem("the script path is too long", "");
    return false;
  }
  if (length > 0) {
    if (!ReadScriptFile(path, &script)) {
      ReportScriptProblem("cannot read", path);
      return false;
    }
  } else {
    script = kDemoPageScript;
  }

  base::ComPtr<IDispatch> external;
  if (FAILED(launcher.pageHost->GetExternal(external.Put())) || !external) {
    ReportScriptProblem("the page host has no external object", "");
    return false;
  }
  char error[1024] = {};
  PageEngine() = std::make_unique<web::ScriptEngine>();
  if (!PageEngine()->Start(external.Get(), error, sizeof error) ||
      !PageEngine()->Run(script.c_str(), error, sizeof error)) {
    ReportScriptProblem("failed", error);
    return false;
  }
  if (PageEngine()->PendingTimeouts() != 0) ::SetTimer(nullptr, 0, 250, &ReportTimeoutErrors);
  return true;
}

void ClosePageScript() { PageEngine().reset(); }

void SchedulePageScript() {
  if (::SetTimer(nullptr, 0, static_cast<UINT>(ScriptDelayMs()), &RunScriptOnTimer) == 0)
    RunPageScript();  // no timer to be had: run it now rather than never
}

}  // namespace app
