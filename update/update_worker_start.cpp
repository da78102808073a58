// The process's one update worker, started from the GUI thread, and how it
// stands for the page.
#include <windows.h>

#include "base/progress_targets.h"
#include "base/thread.h"
#include "update/download_log.h"
#include "update/update_worker.h"

namespace update {

namespace {

WorkerSetup g_setup;       // written once during start-up, before any worker runs
UpdateStateBoard g_state;  // the worker writes it, the page's UpdateState() reads it
base::Thread g_worker;     // started at most once per process, never restarted
bool g_fromPageView = false;  // the worker began as the page showed: clicks go to g_handOver

// Never destroyed, like the parameters: a worker may still read it at exit.
HandOver& TheHandOver() {
  static HandOver* const handOver = new HandOver();
  return *handOver;
}

// Written by every IntoGame. Never destroyed: a worker may still read it while
// the process's static objects are being torn down at exit.
GameParameters& Parameters() {
  static GameParameters* const parameters = new GameParameters();
  return *parameters;
}

unsigned __stdcall UpdateWorkerProc(void*) {
  return RunUpdate(g_setup, Parameters());
}

unsigned __stdcall PageViewWorkerProc(void*) {
  return RunUpdateFromPageView(g_setup, Parameters(), TheHandOver());
}

// The bytes a transfer counts right now; null when none counts bytes.
const ByteCount* LiveBytes(const progress::ProgressTargets* targets, ByteCount* out) {
  if (targets == nullptr) return nullptr;
  const std::int64_t done = targets->count.done.load(std::memory_order_acquire);
  const std::int64_t total = targets->count.total.load(std::memory_order_relaxed);
  if (targets->count.Unit() != progress::CountUnit::Bytes || done < 0 || total < 0) return nullptr;
  out->done = static_cast<std::uint64_t>(done);
  out->total = static_cast<std::uint64_t>(total);
  return out;
}

}  // namespace

void ConfigureUpdateWorker(const WorkerSetup& setup, std::int64_t backgroundReceiveBytesPerSecond) {
  g_setup = setup;
  if (g_setup.state == nullptr) g_setup.state = &g_state;
  TheHandOver().SetCaps(backgroundReceiveBytesPerSecond, setup.limits.maxReceiveBytesPerSecond);
}

void StartBackgroundUpdate() {
  if (g_worker.Started()) return;
  if (g_worker.Start(&PageViewWorkerProc, nullptr))
    g_fromPageView = true;
  else
    WriteLog("Failed to start thread. error=(%d)\n", static_cast<int>(::GetLastError()));
}

void StartUpdateWorker(const char* parameters, GameEntry entry) {
  Parameters().Store(parameters);
  if (entry == GameEntry::Repair) Parameters().RequestRepair();
  if (g_fromPageView) TheHandOver().Enter();  // the worker at work since the page showed takes it from here
  if (g_worker.Started()) return;
  if (!g_worker.Start(&UpdateWorkerProc, nullptr))
    WriteLog("Failed to start thread. error=(%d)\n", static_cast<int>(::GetLastError()));
}

bool RequestUpdateWorkerStop() {
  if (g_setup.progress != nullptr) g_setup.progress->stop.Request();
  TheHandOver().Ahead().stop.Request();
  return g_worker.Started() && !g_worker.Join(0);
}

bool WaitForUpdateWorker(DWORD timeoutMs) { return g_worker.Join(timeoutMs); }

std::string UpdateStateText() {
  const UpdateState state = g_setup.state != nullptr ? g_setup.state->Snapshot() : UpdateState{};
  ByteCount fetch;
  ByteCount next;
  return FormatUpdateState(
      WithLiveBytes(state, LiveBytes(g_setup.progress, &fetch), LiveBytes(&TheHandOver().Ahead(), &next)));
}

}  // namespace update
