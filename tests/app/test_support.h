// Helpers for the application tests: scratch directories with real files and
// the message boxes the launcher shows.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

#include "tests/support/file_tree.h"

namespace apptest {

// A fresh directory under the temp directory, removed with its contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  // Creates Path()\e1\e2... one element at a time (elements may hold GBK
  // characters whose trail byte is 0x5C) and returns its path.
  std::string MakeDirs(std::initializer_list<std::string> elements) const;

 private:
  std::string path_;
};

// Writes `content` (raw bytes) to directory\name; returns the file's path.
std::string WriteFile(const std::string& directory, const std::string& name,
                      const std::string& content);

using testing_files::RemoveTree;  // removes a directory and everything below it

// The directory of this test program (no trailing "\").
std::string ModuleDirectory();

struct Dialog {
  HWND window = nullptr;
  std::string caption;
  std::string text;
};

// Waits up to timeoutMs for a message box of `processId` (and of `threadId`
// unless 0); reads its caption and text.
Dialog WaitForDialog(DWORD processId, DWORD threadId, DWORD timeoutMs);
// Presses OK as a user would (WM_CLOSE would give a different result).
void PressOk(HWND dialog);

}  // namespace apptest
