// The process's one update worker, started from the GUI thread.
#include <windows.h>

#include "base/progress_targets.h"
#include "base/thread.h"
#include "update/download_log.h"
#include "update/update_worker.h"

namespace update {

namespace {

WorkerSetup g_setup;            // written once during start-up, before any worker runs
base::Thread g_worker;          // started at most once per process, never restarted

// Written by every IntoGame. Never destroyed: a worker may still read it while
// the process's static objects are being torn down at exit.
GameParameters& Parameters() {
  static GameParameters* const parameters = new GameParameters();
  return *parameters;
}

unsigned __stdcall UpdateWorkerProc(void*) {
  return RunUpdate(g_setup, Parameters());
}

}  // namespace

void ConfigureUpdateWorker(const WorkerSetup& setup) {
  g_setup = setup;
}

void StartUpdateWorker(const char* parameters, GameEntry entry) {
  Parameters().Store(parameters);
  if (entry == GameEntry::Repair) Parameters().RequestRepair();
  if (g_worker.Started()) return;
  if (!g_worker.Start(&UpdateWorkerProc, nullptr))
    WriteLog("Failed to start thread. error=(%d)\n", static_cast<int>(::GetLastError()));
}

bool RequestUpdateWorkerStop() {
  if (g_setup.progress != nullptr) g_setup.progress->stop.Request();
  return g_worker.Started() && !g_worker.Join(0);
}

bool WaitForUpdateWorker(DWORD timeoutMs) { return g_worker.Join(timeoutMs); }

}  // namespace update
