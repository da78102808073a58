#include "tests/app/test_support.h"

namespace apptest {
namespace {

struct DialogSearch {
  DWORD processId;
  DWORD threadId;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD processId = 0;
  const DWORD threadId = ::GetWindowThreadProcessId(window, &processId);
  if (processId != search->processId) return TRUE;
  if (search->threadId != 0 && threadId != search->threadId) return TRUE;
  char className[16] = {};
  ::GetClassNameA(window, className, sizeof className);
  if (std::string(className) != "#32770" || !::IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

std::string ModuleDirectory() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text = path;
  return text.substr(0, text.rfind('\\'));  // test paths are ASCII
}

Dialog WaitForDialog(DWORD processId, DWORD threadId, DWORD timeoutMs) {
  Dialog dialog;
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeoutMs) {
    DialogSearch search{processId, threadId, nullptr};
    ::EnumWindows(&MatchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      dialog.window = search.found;
      char text[512] = {};
      ::GetWindowTextA(search.found, text, sizeof text);
      dialog.caption = text;
      text[0] = '\0';
      ::GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
      dialog.text = text;
      return dialog;
    }
    ::Sleep(20);
  }
  return dialog;
}

void PressOk(HWND dialog) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

}  // namespace apptest
