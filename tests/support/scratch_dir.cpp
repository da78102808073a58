#include "tests/support/scratch_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/file_tree.h"

namespace testing_files {
namespace {

std::string SystemTemp() {
  char buffer[MAX_PATH] = {};
  const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  std::string path(buffer, n);
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

}  // namespace

ScratchDir::ScratchDir() { Create(SystemTemp()); }
ScratchDir::ScratchDir(const std::string& parent) { Create(parent); }
ScratchDir::~ScratchDir() { RemoveTree(path_); }

void ScratchDir::Create(const std::string& parent) {
  // The process id, a counter and the clock keep apart the directories of
  // test programs running side by side and of earlier runs left behind.
  static std::atomic<unsigned> counter{0};
  for (;;) {
    path_ = parent + "\\tst" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++) + "_" +
            std::to_string(::GetTickCount() & 0xFFFF);
    if (::CreateDirectoryA(path_.c_str(), nullptr)) return;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot create " << path_;
      return;
    }
  }
}

std::string ScratchDir::Name() const { return path_.substr(path_.find_last_of("\\/") + 1); }

std::string ScratchDir::MakeDirs(std::initializer_list<std::string> elements) const {
  std::string path = path_;
  for (const std::string& element : elements) {
    path += "\\" + element;
    ::CreateDirectoryA(path.c_str(), nullptr);
  }
  return path;
}

}  // namespace testing_files
