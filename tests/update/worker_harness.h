// The harness of whole update-worker runs on a thread of the test: a main
// window that notes the posted WM_DESTROY, a progress window that notes the
// stages it paints, the worker's message boxes read and dismissed, and the
// scratch directory, served folder and setup of one run.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/progress_targets.h"
#include "tests/update/test_support.h"
#include "base/thread.h"
#include "update/download_log_testing.h"
#include "update/update_worker.h"

namespace testing_update {

using Stage = std::pair<int, int>;  // stage index, lower-bar target

// The stages of a run that installs a new client, and of one that finds the
// installed client current.
inline const std::vector<Stage> kUpdateStages = {{0, 25}, {1, 50}, {2, 75}, {3, 100}};
inline const std::vector<Stage> kCurrentStages = {{0, 25}, {3, 100}};

// The worker's texts in code page 936.
extern const char kCaption[];
extern const char kTempFailed[];
extern const char kVersionFailed[];
extern const char kArchiveFailed[];
extern const char kInstallFailed[];
extern const char kNoSpace[];
extern const char kStarted[];

// What one run showed to the outside.
struct Observed {
  bool closeRequested = false;
  std::vector<Stage> stages;
  std::vector<std::string> boxes;
};

// The worker asks for its stage paints without waiting for them, so two
// stages shown in quick succession may reach the screen as one paint. What
// must hold: the stages seen come in the order shown, none that was not
// shown, ending where the run does. A run that passes quickly from its first
// stage to its last may paint only the last.
::testing::AssertionResult ShownInOrder(const std::vector<Stage>& shown, const std::vector<Stage>& seen);

void RegisterClasses();
void HandleBoxes(Observed* observed, HWND* lastBox);
std::string Descriptor(int version, const std::string& url);

extern Observed* g_observed;
extern progress::ProgressTargets* g_targets;

// Pumps this thread's messages and the worker's boxes until `done` says so.
template <typename Done>
void Pump(Observed* observed, HANDLE waitFor, Done done) {
  HWND lastBox = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    ::MsgWaitForMultipleObjects(waitFor ? 1 : 0, waitFor ? &waitFor : nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    HandleBoxes(observed, &lastBox);
  }
  MSG msg;  // what the worker posted last
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
}

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClasses();
    ::GetCurrentDirectoryA(sizeof previous_, previous_);
    UseDirectory(cwd_.Path());
    main_ = ::CreateWindowExA(0, "UpdateTestMain", "main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    bar_ = ::CreateWindowExA(0, "UpdateTestProgress", "bar", WS_POPUP | WS_VISIBLE, 0, 0, 120, 30, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(nullptr, main_);
    ASSERT_NE(nullptr, bar_);
    g_targets = &targets_;
  }
  void TearDown() override {
    ::DestroyWindow(bar_);
    ::DestroyWindow(main_);
    g_observed = nullptr;
    ::SetCurrentDirectoryA(previous_);
    update::ResetDownloadLogForTesting();
  }

  void UseDirectory(const std::string& path) {
    ASSERT_TRUE(::SetCurrentDirectoryA(path.c_str())) << path;
    directory_ = path;
    update::ResetDownloadLogForTesting();
  }
  std::string At(const std::string& name) const { return directory_ + "\\" + name; }
  std::string Game() const { return At("Game"); }
  std::string Log() const { return ReadWholeFile(At("download.log")); }
  int InstalledVersion() const {
    return static_cast<int>(::GetPrivateProfileIntA("Launcher", "Version", -1, At("install.cfg").c_str()));
  }
  void PlaceGame() {
    ::CreateDirectoryA(Game().c_str(), nullptr);
    ASSERT_TRUE(::CopyFileA(TEST_GAME_STUB, (Game() + "\\TLVR.exe").c_str(), FALSE));
  }
  void SetInstalled(int version) {
    ::WritePrivateProfileStringA("Launcher", "Version", std::to_string(version).c_str(), At("install.cfg").c_str());
  }
  std::string Serve(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(WriteWholeFile(served_ / name, bytes));
    return HttpUrl(served_.UrlPath(name));
  }
  std::string ServeZip(const std::string& name, const std::vector<ZipEntry>& entries) {
    EXPECT_TRUE(WriteZip(served_ / name, entries));
    return HttpUrl(served_.UrlPath(name));
  }

  // Runs the worker on its own thread against `versionUrl` with `parameters`.
  Observed Run(const std::string& versionUrl, const std::string& parameters = "token=abc;server=1") {
    versionUrl_ = versionUrl;
    parameters_.Store(parameters.c_str());
    update::WorkerSetup setup;
    setup.mainWindow = main_;
    setup.versionCdnUrl = versionUrl_.c_str();
    setup.versionCdnUrl2 = versionUrl2_.c_str();
    setup.proxy = proxy_.c_str();
    setup.publicKey = publicKey_.c_str();
    setup.publicKey2 = publicKey2_.c_str();
    setup.progress = progress_;
    setup.progressWindow = bar_;
    setup.limits = limits_;
    setup.retry = retry_;
    setup.repairOnEntry = repairOnEntry_;
    setup.launcherPath = launcherPath_.empty() ? nullptr : launcherPath_.c_str();
    setup.swap = swap_;
    setup.state = &state_;
    setup.descriptorFreshMs = descriptorFreshMs_;
    setup_ = setup;
    progress_->upperTarget = 0;  // a fresh progress bar for every run
    progress_->lowerTarget = 0;
    progress_->stageIndex = 0;
    ::UpdateWindow(bar_);  // its first paint comes before the run
    Observed observed;
    g_observed = &observed;
    base::Thread worker;
    EXPECT_TRUE(worker.Start(&Worker::Proc, this));
    Pump(&observed, worker.Handle(), [&] {
      if (duringRun_) duringRun_();
      return worker.Join(0);
    });
    EXPECT_TRUE(worker.Join(0)) << "the worker did not end";
    g_observed = nullptr;
    return observed;
  }

  static unsigned __stdcall Proc(void* self) {
    Worker* w = static_cast<Worker*>(self);
    if (w->handOver_ != nullptr) return update::RunUpdateFromPageView(w->setup_, w->parameters_, *w->handOver_);
    return update::RunUpdate(w->setup_, w->parameters_);
  }

  ScratchDir cwd_;
  ServedDir served_;
  progress::ProgressTargets targets_;
  // What the run's worker reports to (and takes its stop request from): the
  // targets above, or a test's real progress window's.
  progress::ProgressTargets* progress_ = &targets_;
  // Called on the test's thread while the worker runs, between two looks at
  // its messages (about every 20 ms): to cancel at a chosen moment.
  std::function<void()> duringRun_;
  update::TransferLimits limits_;
  update::RetryTiming retry_ = [] {  // retries that pass quickly
    update::RetryTiming fast;
    fast.firstDelayMs = 20;
    return fast;
  }();
  update::GameParameters parameters_;
  update::WorkerSetup setup_;
  std::string versionUrl_;
  std::string versionUrl2_;  // [VersionCDN] Url2 of the run; empty: none
  std::string proxy_;        // [VersionCDN] Proxy of the run; empty: the system's settings
  std::string publicKey_;   // [VersionCDN] PublicKey of the run; empty: none
  std::string publicKey2_;
  bool repairOnEntry_ = false;  // repair=1 on the command line
  // With a hand-over the run begins as the page shows, and waits for its
  // Enter (the test's click, given from duringRun_); without one it is the
  // run after the click.
  update::HandOver* handOver_ = nullptr;
  update::UpdateStateBoard state_;  // how the run says it stands
  std::uint32_t descriptorFreshMs_ = 10u * 60u * 1000u;
  std::string launcherPath_;    // the running launcher's file; empty: it is never updated
  update::SwapTiming swap_;
  std::string directory_;
  HWND main_ = nullptr;
  HWND bar_ = nullptr;
  char previous_[MAX_PATH] = {};
};

}  // namespace testing_update
