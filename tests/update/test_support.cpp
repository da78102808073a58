#include "tests/update/test_support.h"

#include <tlhelp32.h>

#include <cctype>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "base/guards.h"
#include "update/trust/archive_digest.h"

namespace testing_update {

std::string ServerEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    ADD_FAILURE() << name << " is not set: start the servers with eval \"$(scripts/test-servers start)\"";
    return "";
  }
  return value;
}

std::string HttpUrl(const std::string& path) {
  return "http://127.0.0.1:" + ServerEnv("LAUNCHER_HTTP_PORT") + path;
}
std::string HttpsUrl(const std::string& path) {
  return "https://127.0.0.1:" + ServerEnv("LAUNCHER_HTTPS_PORT") + path;
}
std::string FixtureUrl(const std::string& path) {
  return "http://127.0.0.1:" + ServerEnv("LAUNCHER_FIXTURE_PORT") + path;
}

std::vector<std::pair<int, long long>> ServedRequests(const std::string& urlPath) {
  std::vector<std::pair<int, long long>> served;
  const std::string log = ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
  const std::string request = "\"GET " + urlPath;
  for (std::size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1)) {
    const std::size_t close = log.find("\" ", at + 1);
    if (close == std::string::npos) break;
    int status = 0;
    long long bytes = 0;
    if (std::sscanf(log.c_str() + close + 2, "%d %lld", &status, &bytes) == 2) served.emplace_back(status, bytes);
  }
  return served;
}

std::vector<ServedRequest> ServedRequestsWithConnections(const std::string& urlPath) {
  std::vector<ServedRequest> served;
  const std::string log = ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
  const std::string request = "\"GET " + urlPath;
  for (std::size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1)) {
    const std::size_t close = log.find("\" ", at + 1);
    const std::size_t fields = log.find(" conn=", at);
    const std::size_t lineEnd = log.find('\n', at);
    if (close == std::string::npos || fields == std::string::npos || fields > lineEnd) break;
    ServedRequest r;
    double took = 0;
    if (std::sscanf(log.c_str() + close + 2, "%d %lld", &r.status, &r.bytes) == 2 &&
        std::sscanf(log.c_str() + fields, " conn=%lld req=%d end=%lf took=%lf", &r.connection, &r.onConnection,
                    &r.ended, &took) == 4) {
      r.began = r.ended - took;
      served.push_back(r);
    }
  }
  return served;
}

int MostAtOnce(const std::vector<ServedRequest>& requests) {
  int most = 0;
  for (const ServedRequest& at : requests) {
    // Requests under way 10 ms after `at` began: nginx's times have
    // milliseconds, and a request's end is logged a moment after the next
    // one on its connection may have begun.
    const double moment = at.began + 0.010;
    int now = 0;
    for (const ServedRequest& other : requests) now += other.began <= moment && moment < other.ended ? 1 : 0;
    most = now > most ? now : most;
  }
  return most;
}

FileHeldElsewhere::FileHeldElsewhere(const std::string& holderProgram, const std::string& path,
                                     const std::string& readyMarker) {
  std::string command = "\"" + holderProgram + "\" \"" + path + "\" \"" + readyMarker + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) return;
  ::CloseHandle(started.hThread);
  process_.Reset(started.hProcess);
  for (int i = 0; i < 400 && !holding_; ++i) {
    holding_ = ::GetFileAttributesA(readyMarker.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!holding_) ::Sleep(25);
  }
}

void FileHeldElsewhere::Release() {
  if (!process_.Valid()) return;
  ::TerminateProcess(process_.Get(), 0);
  ::WaitForSingleObject(process_.Get(), 10000);
  process_.Reset();
  holding_ = false;
}

ServedDir::ServedDir() : ScratchDir(ServerEnv("LAUNCHER_DOCROOT_WIN")) {}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string WaitForFile(const std::string& path, int ms) {
  // A file that another process has just renamed into place can be there and
  // still refuse to open for a moment (Wine holds the handle of the rename).
  std::string bytes = ReadWholeFile(path);
  for (int waited = 0; waited < ms && bytes.empty(); waited += 50) {
    ::Sleep(50);
    bytes = ReadWholeFile(path);
  }
  return bytes;
}

bool CorruptAfter(const std::string& path, const std::string& marker) {
  std::string bytes = ReadWholeFile(path);
  const size_t at = bytes.find(marker);
  if (at == std::string::npos || at + marker.size() >= bytes.size()) return false;
  for (size_t i = at + marker.size(); i < bytes.size() && i < at + marker.size() + 8; ++i) bytes[i] ^= 0x55;
  return WriteWholeFile(path, bytes);
}

void EndProcessesBelow(const std::string& folder, DWORD graceMs) {
  const base::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return;
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string prefix = lower(folder + "\\");
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
    const base::UniqueHandle process(::OpenProcess(
        PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process.Valid()) continue;
    char image[MAX_PATH] = {};
    DWORD size = sizeof image;
    if (!::QueryFullProcessImageNameA(process.Get(), 0, image, &size)) continue;
    if (lower(std::string(image, size)).compare(0, prefix.size(), prefix) != 0) continue;
    if (::WaitForSingleObject(process.Get(), graceMs) == WAIT_OBJECT_0) continue;
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), 10000);
  }
}

}  // namespace testing_update
