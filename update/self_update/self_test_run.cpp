#include "update/self_update/self_test_run.h"

#include <cstdio>
#include <memory>

#include "base/guards.h"

namespace update {

namespace {

constexpr DWORD kMaxResultBytes = 4096;

std::string Hex(DWORD code) {
  char text[16] = {};
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

bool ReadResult(const std::string& path, std::string* text) {
  base::UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  char buffer[kMaxResultBytes] = {};
  DWORD read = 0;
  if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return false;
  text->assign(buffer, read);
  return true;
}

}  // namespace

SelfTestResult RunSelfTest(const std::string& executable, const std::string& folder, const std::string& resultPath,
                           DWORD timeoutMs) {
  SelfTestResult result;
  ::DeleteFileA(resultPath.c_str());
  const std::string line = "\"" + executable + "\" --self-test=\"" + resultPath + "\"";
  auto commandLine = std::make_unique<char[]>(line.size() + 1);
  line.copy(commandLine.get(), line.size());
  commandLine[line.size()] = '\0';

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // The child inherits the error mode: a crash ends it without a box that
  // would wait for a player who never asked for this process.
  const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  ::SetErrorMode(previousMode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const BOOL started = ::CreateProcessA(executable.c_str(), commandLine.get(), nullptr, nullptr, FALSE, 0, nullptr,
                                        folder.c_str(), &startup, &info);
  const DWORD startError = ::GetLastError();
  ::SetErrorMode(previousMode);
  if (!started) {
    result.cause = "the self-test could not start (GetLastError=" + std::to_string(startError) + ")";
    return result;
  }
  base::UniqueHandle process(info.hProcess);
  base::UniqueHandle thread(info.hThread);
  if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), 5000);
    result.cause = "the self-test did not end within " + std::to_string(timeoutMs / 1000) + " s";
    return result;
  }
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  if (exitCode != 0) {
    result.cause = "the self-test exited with " + Hex(exitCode);
    return result;
  }
  std::string text;
  if (!ReadResult(resultPath, &text)) {
    result.cause = "the self-test exited 0 without writing its result";
    return result;
  }
  // "ok", a line end, the identity and its line end.
  const std::size_t firstEnd = text.find_first_of("\r\n");
  if (text.substr(0, firstEnd) != "ok") {
    result.cause = "the self-test did not write ok";
    return result;
  }
  std::string identity = firstEnd == std::string::npos ? "" : text.substr(firstEnd);
  while (!identity.empty() && (identity.front() == '\r' || identity.front() == '\n')) identity.erase(0, 1);
  const std::size_t identityEnd = identity.find_first_of("\r\n");
  if (identityEnd != std::string::npos) identity.resize(identityEnd);
  if (identity.empty()) {
    result.cause = "the self-test wrote no build identity";
    return result;
  }
  result.passed = true;
  result.identity = identity;
  return result;
}

}  // namespace update
