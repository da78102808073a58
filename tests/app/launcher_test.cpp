// The launcher object: start-page URL from its settings, and the start-up
// failures with their boxes, in this process and as a real Launcher.exe.
#include "app/launcher.h"

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/bounded_format.h"
#include "base/guards.h"
#include "base/thread.h"
#include "tests/app/test_support.h"

namespace app {
namespace {

DWORD g_tick = 0;
DWORD WINAPI FakeTick() { return g_tick; }

TEST(LauncherStartUrlTest, UsesPageSettingsTokenAndTickSource) {
  ZornLauncher launcher;
  launcher.SetTickSource(&FakeTick);
  base::CopyInto(launcher.config.page.url, "x/y.htm");
  base::CopyInto(launcher.config.page.startPage, "s.htm");

  struct { const char* commandLine; DWORD tick; const char* expected; } cases[] = {
      {"", 5000, "x/y.htm?t=5000"},
      {"Token=abc", 5000, "x/y.htm?t=5000"},
      {"token=abc", 5000, "s.htm?u=x%2Fy.htm%3Ft%3D5000&t=abc"},
      {"token=abc", 0x80000000u, "s.htm?u=x%2Fy.htm%3Ft%3D-2147483648&t=abc"},
      {"a=1", 0xFFFFFFFFu, "x/y.htm?t=-1"},
  };
  for (const auto& c : cases) {
    ArgumentMap arguments;
    arguments.ParseArguments(c.commandLine);
    g_tick = c.tick;
    char url[1024] = {};
    EXPECT_TRUE(launcher.BuildStartUrl(arguments, url, sizeof url));
    EXPECT_STREQ(url, c.expected) << c.commandLine;
  }
}

TEST(LauncherStartUrlTest, UrlThatDoesNotFitIsReportedAndLeftEmpty) {
  ZornLauncher launcher;
  launcher.SetTickSource(&FakeTick);
  g_tick = 5000;
  // "<20 bytes>?t=5000" does not fit a 24-byte output, in either form.
  ASSERT_TRUE(base::CopyInto(launcher.config.page.url, "http://e.invalid/p.ht"));
  base::CopyInto(launcher.config.page.startPage, "s.htm");
  for (const char* commandLine : {"", "token=abc"}) {
    ArgumentMap arguments;
    arguments.ParseArguments(commandLine);
    char url[24];
    std::memset(url, 'x', sizeof url);
    EXPECT_FALSE(launcher.BuildStartUrl(arguments, url, sizeof url)) << commandLine;
    EXPECT_STREQ("", url) << commandLine;
  }
}

// Runs Init on a thread whose apartment the test prepares, presses OK on the
// box it shows and reports what happened.
struct InitRun {
  enum Apartment { kMultiThreaded, kOleAlready } apartment;
  bool result = true;
  // After the launcher is gone: the thread's COM state as CoInitializeEx(MTA) sees it.
  HRESULT probeAfter = E_FAIL;
};

unsigned __stdcall RunInit(void* arg) {
  auto* run = static_cast<InitRun*>(arg);
  if (run->apartment == InitRun::kMultiThreaded) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  } else {
    ::OleInitialize(nullptr);
  }
  {
    ZornLauncher launcher;
    run->result = launcher.Init(::GetModuleHandleA(nullptr), "token=abc");
  }
  if (run->apartment == InitRun::kMultiThreaded) {
    // Still initialised once (S_FALSE) unless the launcher released a count it never took.
    run->probeAfter = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(run->probeAfter)) ::CoUninitialize();
    ::CoUninitialize();
  } else {
    // Our own OleInitialize is the only count left: one release frees the thread.
    ::OleUninitialize();
    run->probeAfter = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(run->probeAfter)) ::CoUninitialize();
  }
  return 0;
}

TEST(LauncherInitTest, OleFailureShowsItsBoxAndKeepsTheApartmentBalanced) {
  struct { InitRun::Apartment apartment; HRESULT expectedProbe; } cases[] = {
      {InitRun::kMultiThreaded, S_FALSE},
      {InitRun::kOleAlready, S_OK},
  };
  for (const auto& c : cases) {
    InitRun run{c.apartment};
    base::Thread thread;
    ASSERT_TRUE(thread.Start(&RunInit, &run));
    const apptest::Dialog box =
        apptest::WaitForDialog(::GetCurrentProcessId(), ::GetThreadId(thread.Handle()), 5000);
    ASSERT_NE(box.window, nullptr) << "no box for apartment " << c.apartment;
    EXPECT_EQ(box.caption, "Failed");
    EXPECT_EQ(box.text, "OleInitialize Failed!");
    apptest::PressOk(box.window);
    ASSERT_TRUE(thread.Join(5000));
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.probeAfter, c.expectedProbe) << "apartment " << c.apartment;
  }
}

// Launcher.exe (this build's twin) copied into a scratch directory.
class LauncherProcessTest : public ::testing::Test {
 protected:
  std::string Install(const std::string& directory, const std::string& name = "Launcher.exe") {
    const std::string exe = directory + "\\" + name;
    const std::string built = apptest::ModuleDirectory() + "\\..\\..\\Launcher.exe";
    EXPECT_TRUE(::CopyFileA(built.c_str(), exe.c_str(), FALSE)) << built;
    return exe;
  }

  struct Outcome {
    apptest::Dialog box;
    bool exited = false;
    DWORD exitCode = 0;
  };

  // Starts the program, presses OK on a box if one comes within boxWaitMs
  // (while it runs), then waits for the end. A program still running then (its windows are
  // up) is ended by the test.
  Outcome Run(const std::string& exe, DWORD boxWaitMs) {
    Outcome outcome;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string commandLine = "\"" + exe + "\" token=abc";
    if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
      ADD_FAILURE() << "CreateProcess failed: " << ::GetLastError();
      return outcome;
    }
    base::UniqueHandle process(info.hProcess);
    base::UniqueHandle thread(info.hThread);
    // Until a box shows, the program ends, or the wait is over.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < boxWaitMs &&
           ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
      outcome.box = apptest::WaitForDialog(info.dwProcessId, 0, 50);
      if (outcome.box.window) {
        apptest::PressOk(outcome.box.window);
        break;
      }
    }
    if (::WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0) {
      outcome.exited = true;
      ::GetExitCodeProcess(process.Get(), &outcome.exitCode);
    } else {
      ::TerminateProcess(process.Get(), 0);
      ::WaitForSingleObject(process.Get(), 5000);
    }
    return outcome;
  }

  apptest::ScratchDir dir_;
};

TEST_F(LauncherProcessTest, MissingConfigShowsTheBoxAndEndsWithCode1) {
  const std::string exe = Install(dir_.Path());
  const Outcome outcome = Run(exe, 10000);
  ASSERT_NE(outcome.box.window, nullptr);
  EXPECT_EQ(outcome.box.caption, "Failure");
  EXPECT_EQ(outcome.box.text, "Read Config.cfg failed!");
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exitCode, 1u);
}

TEST_F(LauncherProcessTest, ConfigIsFoundWhenTheProgramsNameHoldsA5CTrailByte) {
  // "\xD5\x5C" is one GBK character. The program is named after it, so that
  // cutting its path at the byte 0x5C would keep half of the file name as a
  // directory, where there is no Data\Config.cfg.
  const std::string home = dir_.MakeDirs({"\xD5\x5C"});
  dir_.MakeDirs({"\xD5\x5C", "Data"});
  ASSERT_TRUE(apptest::WriteWholeFile(home + "\\Data\\Config.cfg", ""));
  const std::string exe = Install(home, "\xD5\x5C.exe");
  const Outcome outcome = Run(exe, 3000);
  EXPECT_EQ(outcome.box.window, nullptr) << outcome.box.caption << ": " << outcome.box.text;
  if (outcome.exited) {
    EXPECT_EQ(outcome.exitCode, 0u);
  }
}

}  // namespace
}  // namespace app
