// Runs the launcher as a separate process and watches it from outside, as a
// player's desktop would: its message boxes are read and dismissed, its main
// window found and sent messages.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct SeenBox {
  std::string caption;  // code page 936 bytes
  std::string text;
};

class LauncherProcess {
 public:
  LauncherProcess() = default;
  ~LauncherProcess();  // ends the process if it is still running
  LauncherProcess(const LauncherProcess&) = delete;
  LauncherProcess& operator=(const LauncherProcess&) = delete;

  // Starts `exe` with `arguments` in `directory`; LAUNCHER_PAGE_SCRIPT is set
  // to `scriptPath` (or removed when empty) for the child.
  bool Start(const std::string& exe, const std::string& arguments, const std::string& directory,
             const std::string& scriptPath);

  // Waits for the process to end, dismissing (and recording) every message box
  // it shows. False when it did not end within `timeoutMs`.
  bool WaitForExit(DWORD timeoutMs);

  // The process's top-level window of `className`, waiting up to `timeoutMs`;
  // only a visible one unless `hiddenToo`.
  HWND FindWindowOfClass(const char* className, DWORD timeoutMs, bool hiddenToo = false);
  bool EverShowedClass(const char* className) const;

  // Ends the process at once, wherever it is, as a crash or the task manager
  // would; waits until it is gone.
  void Kill();

  DWORD ExitCode() const { return exitCode_; }
  const std::vector<SeenBox>& Boxes() const { return boxes_; }

 private:
  void DismissBoxes();
  void NoteClasses();

  PROCESS_INFORMATION info_{};
  DWORD exitCode_ = STILL_ACTIVE;
  std::vector<SeenBox> boxes_;
  std::vector<HWND> dismissed_;
  std::vector<std::string> classesSeen_;
};

}  // namespace e2e
