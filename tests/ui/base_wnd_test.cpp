// The window family's base: registration, creation, the registration-failure
// box (in a child process) and the program's resources.
#include "ui/base_wnd.h"

#include "base/guards.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/irregular_window.h"
#include "ui/window_set.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

class PlainWnd : public ui::ZBaseWnd {
 public:
  PlainWnd() { SetClassName("UiTestPlainWnd"); }
  bool RegisterWindow() override {
    ++registerCalls;
    return RegisterFamilyClass(ui::BaseWindowProc, nullptr, nullptr);
  }
  int registerCalls = 0;
  bool Registered() const { return classRegistered != 0; }
};

TEST(BaseWnd, SecondCreateRegistersOnceAndReplacesTheWindow) {
  PlainWnd wnd;
  EXPECT_STREQ(wnd.ClassName(), "UiTestPlainWnd");
  EXPECT_TRUE(wnd.Init(::GetModuleHandleA(nullptr), nullptr));
  const HWND first = wnd.Create("one", 10, 10, 50, 40, 0, WS_POPUP);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(::IsWindowVisible(first)) << "Create shows the window";
  const HWND second = wnd.Create("two", 10, 10, 50, 40, 0, WS_POPUP);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(wnd.Window(), second);
  EXPECT_TRUE(wnd.Registered());
  ::DestroyWindow(first);
  ::DestroyWindow(second);
  ::UnregisterClassA("UiTestPlainWnd", ::GetModuleHandleA(nullptr));
}

TEST(BaseWnd, BaseWindowProcResults) {
  PlainWnd wnd;
  wnd.Init(::GetModuleHandleA(nullptr), nullptr);
  const HWND w = wnd.Create("proc", 10, 10, 50, 40, 0, WS_POPUP);
  struct Case {
    UINT message;
    LRESULT expected;
  } cases[] = {{WM_CREATE, 0}, {WM_SIZE, 0}, {WM_DESTROY, 1}, {WM_ERASEBKGND, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(ui::BaseWindowProc(w, c.message, 0, 0), c.expected) << c.message;
  // Anything else is DefWindowProcA's: the window text, for example.
  char text[16] = {};
  EXPECT_EQ(ui::BaseWindowProc(w, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text)), 4);
  EXPECT_STREQ(text, "proc");
  ::DestroyWindow(w);
  ::UnregisterClassA("UiTestPlainWnd", ::GetModuleHandleA(nullptr));
}

std::string SystemText(DWORD code) {
  char* text = nullptr;
  ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
                   nullptr);
  std::string out = text ? text : "";
  ::LocalFree(text);
  return out;
}

TEST(BaseWnd, RegisterFailureTextHoldsTheWholeSystemText) {
  for (DWORD code : {1410u, 2u, 5u, 0x12345u}) {
    const std::size_t size = ui::RegisterFailureTextSize(code);
    std::string text(size, '\0');
    ui::FormatRegisterFailure(code, &text[0], size);
    text.resize(std::strlen(text.c_str()));
    EXPECT_EQ(text, "RegisterWindow failed with error " + std::to_string(static_cast<int>(code)) +
                        ": " + SystemText(code));
  }
}

// The child half: a second object of the main window's class registers the
// class again, fails, shows the box and ends the process with the error.
TEST(RegisterFailure, ChildProcess) {
  if (!std::getenv("UI_TEST_REGISTER_CHILD")) GTEST_SKIP() << "runs only in the child process";
  ui::ZIrregularWindow first, second;
  first.Init(::GetModuleHandleA(nullptr), nullptr);
  second.Init(::GetModuleHandleA(nullptr), nullptr);
  first.Create("first", 10, 10, 50, 50, 0, WS_POPUP);
  second.Create("second", 10, 10, 50, 50, 0, WS_POPUP);
  ADD_FAILURE() << "the second registration returned";
}

TEST(RegisterFailure, SecondObjectOfAClassShowsTheBoxAndEndsTheProcess) {
  char exe[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string command = std::string("\"") + exe + "\" --gtest_filter=RegisterFailure.ChildProcess";
  ::SetEnvironmentVariableA("UI_TEST_REGISTER_CHILD", "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
  ::SetEnvironmentVariableA("UI_TEST_REGISTER_CHILD", nullptr);
  ASSERT_TRUE(started);
  base::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);

  HWND box = nullptr;
  for (int waited = 0; waited < 15000 && !box; waited += 50) {
    box = ::FindWindowA("#32770", "Error");
    if (!box) ::Sleep(50);
  }
  ASSERT_NE(box, nullptr) << "no error box appeared";
  char text[1024] = {};
  ::GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
  const std::string expected = "RegisterWindow failed with error 1410: " + SystemText(1410);
  // The static control may fold the system text's line end; compare the start.
  EXPECT_EQ(std::string(text).substr(0, 40), expected.substr(0, 40));
  EXPECT_NE(std::string(text).find("1410"), std::string::npos);
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
  ASSERT_EQ(::WaitForSingleObject(processHandle.Get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exitCode = 0;
  ::GetExitCodeProcess(processHandle.Get(), &exitCode);
  EXPECT_EQ(exitCode, 1410u);
}

TEST(Resources, StringsIconsAndManifestInTheirLanguages) {
  const HMODULE self = ::GetModuleHandleA(nullptr);
  const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
  const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  EXPECT_EQ(chinese, 2052);
  EXPECT_EQ(english, 1033);
  EXPECT_NE(::FindResourceExA(self, RT_STRING, MAKEINTRESOURCEA(103 / 16 + 1), chinese), nullptr);
  EXPECT_NE(::FindResourceExA(self, RT_GROUP_ICON, MAKEINTRESOURCEA(107), chinese), nullptr);
  EXPECT_NE(::FindResourceExA(self, RT_GROUP_ICON, MAKEINTRESOURCEA(108), chinese), nullptr);
  EXPECT_NE(::FindResourceExA(self, RT_MANIFEST, MAKEINTRESOURCEA(1), english), nullptr);
  EXPECT_EQ(::FindResourceA(self, MAKEINTRESOURCEA(109), RT_ACCELERATOR), nullptr);
  EXPECT_EQ(::LoadAcceleratorsA(self, MAKEINTRESOURCEA(109)), nullptr);

  char text[100] = {};
  EXPECT_EQ(::LoadStringA(self, 103, text, 100), 8);
  EXPECT_STREQ(text, "Launcher");
  EXPECT_EQ(::LoadStringA(self, 109, text, 100), 8);
  EXPECT_STREQ(text, "LAUNCHER");
  EXPECT_NE(::LoadIconA(self, MAKEINTRESOURCEA(107)), nullptr);
  EXPECT_NE(::LoadIconA(self, MAKEINTRESOURCEA(108)), nullptr);

  // The manifest asks to run as the invoker.
  HRSRC manifest = ::FindResourceExA(self, RT_MANIFEST, MAKEINTRESOURCEA(1), english);
  ASSERT_NE(manifest, nullptr);
  const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(self, manifest)));
  const std::string content(bytes, ::SizeofResource(self, manifest));
  EXPECT_NE(content.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(content.find("uiAccess=\"false\""), std::string::npos);
}

}  // namespace
}  // namespace uitest
