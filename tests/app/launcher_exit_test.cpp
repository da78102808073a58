// The launcher's exit while the update worker is busy: the worker is asked to
// stop and waited for, and only then is the progress window object (whose
// targets the worker writes) freed; nothing is left to the process's end.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/launcher.h"
#include "tests/update/test_support.h"
#include "ui/progress_bar.h"
#include "update/download_log_testing.h"
#include "update/update_worker.h"

namespace {

// A progress window object that says when it is freed.
class WatchedProgressBar : public ui::ZProgressBar {
 public:
  explicit WatchedProgressBar(bool* freed) : freed_(freed) {}
  ~WatchedProgressBar() override { *freed_ = true; }

 private:
  bool* freed_;
};

TEST(LauncherExitTest, WaitsForTheBusyWorkerThenFreesTheProgressWindow) {
  testing_update::ScratchDir cwd;
  testing_update::ServedDir served;
  char previous[MAX_PATH] = {};
  ::GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(cwd.Path().c_str()));
  update::ResetDownloadLogForTesting();
  // A descriptor that takes 8 s at nginx's 2 MB/s: the worker is mid-transfer at the exit.
  ASSERT_TRUE(testing_update::WriteWholeFile(served / "version.cfg", std::string(16 * 1024 * 1024, ';')));
  const std::string url = testing_update::HttpUrl("/rate" + served.UrlPath("version.cfg"));

  bool freed = false;
  {
    app::ZornLauncher launcher;
    launcher.progressBar = std::make_unique<WatchedProgressBar>(&freed);
    update::WorkerSetup setup;
    setup.versionCdnUrl = url.c_str();
    setup.progress = &launcher.progressBar->targets;
    update::ConfigureUpdateWorker(setup);
    update::StartUpdateWorker("exit");
    for (int i = 0; i < 200 && launcher.progressBar->targets.count.done.load() == 0; ++i) ::Sleep(20);
    ASSERT_GT(launcher.progressBar->targets.count.done.load(), 0) << "the descriptor never started to arrive";

    const auto start = std::chrono::steady_clock::now();
    launcher.DestroyWindowObjects();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("exit with the worker mid-transfer: %.0f ms to stop it and free the windows\n", ms);
    EXPECT_TRUE(update::WaitForUpdateWorker(0)) << "the windows were freed before the worker ended";
    EXPECT_TRUE(freed) << "the progress window object was left to the process's end";
    EXPECT_EQ(nullptr, launcher.progressBar);
    EXPECT_LT(ms, 3000.0);
  }
  EXPECT_NE(std::string::npos, testing_update::ReadWholeFile(cwd / "download.log").find("Cancelled\n"));
  ::SetCurrentDirectoryA(previous);
  update::ResetDownloadLogForTesting();
}

}  // namespace
