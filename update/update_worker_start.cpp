// The process's one update worker, started from the GUI thread.
#include <windows.h>

#include "base/thread.h"
#include "update/download_log.h"
#include "update/update_worker.h"

namespace update {

namespace {

WorkerSetup g_setup;            // written once during start-up, before any worker runs
GameParameters g_parameters;    // written by every IntoGame
base::Thread g_worker;          // started at most once per process, never restarted

unsigned __stdcall UpdateWorkerProc(void*) {
  return RunUpdate(g_setup, g_parameters);
}

}  // namespace

void ConfigureUpdateWorker(const WorkerSetup& setup) {
  g_setup = setup;
}

void StartUpdateWorker(const char* parameters) {
  g_parameters.Store(parameters);
  if (g_worker.Started()) return;
  if (!g_worker.Start(&UpdateWorkerProc, nullptr))
    WriteLog("Failed to start thread. error=(%d)\n", static_cast<int>(::GetLastError()));
}

}  // namespace update
