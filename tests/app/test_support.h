// Helpers for the application tests: the message boxes the launcher shows and
// the test program's own folder; scratch directories and whole files come
// from tests/support.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/file_bytes.h"
#include "tests/support/file_tree.h"
#include "tests/support/scratch_dir.h"

namespace apptest {

using testing_files::ScratchDir;      // a fresh directory, removed with its contents at the end
using testing_files::WriteWholeFile;  // creates or replaces a file with raw bytes
using testing_files::RemoveTree;      // removes a directory and everything below it

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
