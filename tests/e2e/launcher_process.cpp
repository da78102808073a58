#include "launcher_process.h"

#include <algorithm>

#include "base/guards.h"

namespace e2e {

namespace {

struct Search {
  DWORD pid;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindowsOf(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid) search->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
  Search search{pid, {}};
  ::EnumWindows(&CollectWindowsOf, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

std::string ClassOf(HWND window) {
  char name[128] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

}  // namespace

LauncherProcess::~LauncherProcess() {
  if (info_.hProcess) {
    if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(info_.hProcess, 99);
      ::WaitForSingleObject(info_.hProcess, 5000);
    }
    ::CloseHandle(info_.hProcess);
    ::CloseHandle(info_.hThread);
  }
}

bool LauncherProcess::Start(const std::string& exe, const std::string& arguments,
                            const std::string& directory, const std::string& scriptPath) {
  ::SetEnvironmentVariableA("LAUNCHER_PAGE_SCRIPT", scriptPath.empty() ? nullptr : scriptPath.c_str());
  std::string commandLine = "\"" + exe + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  // Its output goes nowhere: helpers Wine starts for it (and that may outlive
  // it when it is killed) must not hold the test runner's output open.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  base::UniqueHandle nul(::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (nul.Valid()) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
  }
  const BOOL ok = ::CreateProcessA(exe.c_str(), mutableLine.data(), nullptr, nullptr, nul.Valid(), 0,
                                   nullptr, directory.c_str(), &startup, &info_);
  ::SetEnvironmentVariableA("LAUNCHER_PAGE_SCRIPT", nullptr);
  return ok != FALSE;
}

void LauncherProcess::DismissBoxes() {
  for (HWND window : TopLevelWindowsOf(info_.dwProcessId)) {
    if (ClassOf(window) != "#32770" || !::IsWindowVisible(window)) continue;
    if (std::find(dismissed_.begin(), dismissed_.end(), window) != dismissed_.end()) continue;
    SeenBox box;
    char buffer[1024] = {};
    ::GetWindowTextA(window, buffer, sizeof buffer);
    box.caption = buffer;
    buffer[0] = '\0';
    ::GetDlgItemTextA(window, 0xFFFF, buffer, sizeof buffer);
    box.text = buffer;
    boxes_.push_back(box);
    dismissed_.push_back(window);
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, IDOK)));
  }
}

void LauncherProcess::NoteClasses() {
  for (HWND window : TopLevelWindowsOf(info_.dwProcessId)) {
    const std::string name = ClassOf(window);
    if (std::find(classesSeen_.begin(), classesSeen_.end(), name) == classesSeen_.end())
      classesSeen_.push_back(name);
  }
}

bool LauncherProcess::WaitForExit(DWORD timeoutMs) {
  // The process is looked at once even with no time to wait: a poll of 0 ms
  // must still see a launcher that has ended.
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    NoteClasses();
    DismissBoxes();
    const ULONGLONG now = ::GetTickCount64();
    const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now < 50 ? deadline - now : 50);
    if (::WaitForSingleObject(info_.hProcess, wait) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(info_.hProcess, &exitCode_);
      return true;
    }
    if (::GetTickCount64() >= deadline) return false;
  }
}

void LauncherProcess::Kill() {
  if (!info_.hProcess) return;
  ::TerminateProcess(info_.hProcess, 99);
  ::WaitForSingleObject(info_.hProcess, 30000);
  ::GetExitCodeProcess(info_.hProcess, &exitCode_);
}

HWND LauncherProcess::FindWindowOfClass(const char* className, DWORD timeoutMs, bool hiddenToo) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::GetTickCount64() < deadline) {
    NoteClasses();
    for (HWND window : TopLevelWindowsOf(info_.dwProcessId))
      if (ClassOf(window) == className && (hiddenToo || ::IsWindowVisible(window))) return window;
    DismissBoxes();
    if (::WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

bool LauncherProcess::EverShowedClass(const char* className) const {
  return std::find(classesSeen_.begin(), classesSeen_.end(), className) != classesSeen_.end();
}

}  // namespace e2e
