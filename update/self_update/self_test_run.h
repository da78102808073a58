// Qualifies a new launcher before it takes over: its executable is started as
// `Launcher.exe --self-test=PATH` in the folder it was unpacked into, and must
// write "ok" and its build's identity to PATH and exit 0 within the time
// allowed. Anything else (no file, a crash, another exit code, a hang)
// refuses it. No crash box is shown for the child.
#pragma once

#include <windows.h>

#include <string>

namespace update {

constexpr DWORD kSelfTestTimeoutMs = 15000;

struct SelfTestResult {
  bool passed = false;
  std::string identity;  // the second line the executable wrote, when it passed
  std::string cause;     // why it did not pass
};

SelfTestResult RunSelfTest(const std::string& executable, const std::string& folder, const std::string& resultPath,
                           DWORD timeoutMs = kSelfTestTimeoutMs);

}  // namespace update
