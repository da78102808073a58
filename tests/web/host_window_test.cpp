// The page host with a real window owned by a test popup and the platform's
// web-browser control inside it.
#include <exdispid.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "web/z_web_browser.h"

namespace {

constexpr int kOwnerX = 100, kOwnerY = 80;
constexpr int kOffsetX = 30, kOffsetY = 40;
constexpr int kWidth = 400, kHeight = 300;

class CountingHost : public web::ZWebBrowser {
 public:
  void OnStatusTextChange(const char* text) override { statusTexts.emplace_back(text); }
  std::vector<std::string> statusTexts;
};

// Pumps the thread's messages until `done` or the time runs out.
template <typename Predicate>
bool PumpUntil(Predicate done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

class PageHostWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    owner = ::CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, kOwnerX, kOwnerY, 640, 480,
                              nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, owner);
    host.Init(::GetModuleHandleA(nullptr), owner);
    hostWindow = host.Create("WebBrowser", kOwnerX + kOffsetX, kOwnerY + kOffsetY, kWidth, kHeight, 0,
                             WS_POPUP | WS_VISIBLE | WS_SYSMENU);
    ASSERT_NE(nullptr, hostWindow);
  }
  void TearDown() override {
    host.CloseBrowser();
    if (hostWindow) ::DestroyWindow(hostWindow);
    if (owner) ::DestroyWindow(owner);
    // The class belongs to this host object; the next test's host registers it anew.
    ::UnregisterClassA("ZWebBrowser", ::GetModuleHandleA(nullptr));
  }

  RECT HostRect() const {
    RECT r = {};
    ::GetWindowRect(hostWindow, &r);
    return r;
  }

  HWND owner = nullptr;
  HWND hostWindow = nullptr;
  CountingHost host;
};

TEST_F(PageHostWindow, CreatesAndActivatesTheControl) {
  EXPECT_EQ(hostWindow, host.GetHostWindow());
  EXPECT_EQ(owner, ::GetWindow(hostWindow, GW_OWNER));
  EXPECT_TRUE(host.HasControl());
  EXPECT_EQ(S_OK, host.CanInPlaceActivate());
  EXPECT_EQ(kOffsetX, host.OffsetX());
  EXPECT_EQ(kOffsetY, host.OffsetY());
  // The control is told about the host through the container's faces.
  EXPECT_GT(host.ReferenceCount(), 0);
  // Fitting it again to the client area succeeds as long as it is there.
  EXPECT_TRUE(host.AttachBrowser());
}

// A host whose window was never made has nothing to activate the control in:
// attaching says so instead of reporting a page that cannot show.
TEST(PageHostWithoutWindow, AttachReportsThatNothingWasAttached) {
  CountingHost host;
  host.Init(::GetModuleHandleA(nullptr), nullptr);
  EXPECT_FALSE(host.AttachBrowser());
  EXPECT_FALSE(host.HasControl());
}

TEST_F(PageHostWindow, WindowContextDescribesTheHost) {
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
  RECT position = {}, clip = {};
  OLEINPLACEFRAMEINFO info = {};
  info.haccel = reinterpret_cast<HACCEL>(1);
  info.cAccelEntries = 9;
  const LONG before = host.ReferenceCount();
  ASSERT_EQ(S_OK, host.GetWindowContext(&frame, &document, &position, &clip, &info));
  EXPECT_EQ(host.InPlaceFrame(), frame);
  EXPECT_EQ(before + 1, host.ReferenceCount());
  frame->Release();
  EXPECT_EQ(nullptr, document);
  const RECT client = {0, 0, kWidth, kHeight};
  EXPECT_TRUE(::EqualRect(&client, &position));
  EXPECT_TRUE(::EqualRect(&client, &clip));
  EXPECT_EQ(sizeof(OLEINPLACEFRAMEINFO), info.cb);
  EXPECT_FALSE(info.fMDIApp);
  EXPECT_EQ(owner, info.hwndFrame);
  EXPECT_EQ(nullptr, info.haccel);
  EXPECT_EQ(0u, info.cAccelEntries);

  RECT border = {};
  ASSERT_EQ(S_OK, host.GetBorder(&border));
  EXPECT_TRUE(::EqualRect(&client, &border));
}

TEST_F(PageHostWindow, NavigatesAndReceivesTheControlsEvents) {
  EXPECT_TRUE(host.Navigate("http://127.0.0.1:9/start.html?t=1"));
  // The event sink is connected: the control reports its status text.
  EXPECT_TRUE(PumpUntil([&] { return !host.statusTexts.empty(); }, 5000));
  // Styling the (absent) document neither crashes nor fails the event.
  DISPPARAMS none = {};
  EXPECT_EQ(S_OK, host.Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                              nullptr, nullptr));
}

TEST_F(PageHostWindow, FollowsTheOwnerAtItsOffset) {
  ::MoveWindow(owner, 300, 200, 640, 480, TRUE);
  host.PlaceAtOffset();
  RECT r = HostRect();
  EXPECT_EQ(300 + kOffsetX, r.left);
  EXPECT_EQ(200 + kOffsetY, r.top);
  EXPECT_EQ(kWidth, r.right - r.left);
  EXPECT_EQ(kHeight, r.bottom - r.top);

  ::ShowWindow(hostWindow, SW_MINIMIZE);
  ::MoveWindow(owner, 50, 60, 640, 480, TRUE);
  host.ShowAtOffset();
  EXPECT_TRUE(::IsWindowVisible(hostWindow));
  EXPECT_FALSE(::IsIconic(hostWindow));
  r = HostRect();
  EXPECT_EQ(50 + kOffsetX, r.left);
  EXPECT_EQ(60 + kOffsetY, r.top);
  EXPECT_EQ(kWidth, r.right - r.left);
}

// Compound files the control was created in, in the temporary directory.
int TemporaryStorageFiles() {
  char pattern[MAX_PATH];
  const DWORD length = ::GetTempPathA(MAX_PATH, pattern);
  if (length == 0 || length + 10 > MAX_PATH) return -1;
  memcpy(pattern + length, "STO*.tmp", 9);
  int count = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do ++count; while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return count;
}

TEST_F(PageHostWindow, CloseBrowserLetsGoOfTheControl) {
  const int filesWhileOpen = TemporaryStorageFiles();
  host.CloseBrowser();
  EXPECT_EQ(filesWhileOpen - 1, TemporaryStorageFiles());
  EXPECT_FALSE(host.HasControl());
  EXPECT_EQ(S_FALSE, host.CanInPlaceActivate());
  EXPECT_FALSE(host.Navigate("about:blank"));
  host.CloseBrowser();  // a second close is harmless
}

}  // namespace
