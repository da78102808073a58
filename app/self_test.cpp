// A new launcher's self-test: everything a start needs short of showing a
// window, run by the executable about to replace the running one, in the
// folder it was unpacked into. No message box is ever shown: the one who
// started it reads the result file and the exit code.
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>

#include <cstdio>
#include <memory>

#include "app/build_identity.h"
#include "app/launcher.h"
#include "base/guards.h"
#include "ui/irregular_window.h"
#include "ui/progress_bar.h"
#include "web/js_dispatch.h"
#include "web/z_web_browser.h"

namespace app {

namespace {

constexpr DWORD kMainStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;
constexpr DWORD kPopupStyle = WS_POPUP | WS_SYSMENU;

bool WriteResult(const char* path) {
  char text[512] = {};
  const int length = std::snprintf(text, sizeof text, "ok\r\n%s\r\n", BuildIdentity());
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) return false;
  base::UniqueHandle file(
      ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.Valid() && ::WriteFile(file.Get(), text, static_cast<DWORD>(length), &written, nullptr) &&
         written == static_cast<DWORD>(length) && ::FlushFileBuffers(file.Get());
}

}  // namespace

bool ZornLauncher::SelfTest(HINSTANCE instance, const char* resultPath) {
  if (::OleInitialize(nullptr) != S_OK) return false;
  oleInitialized = true;
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok) return false;
  if (!ComposeConfigPath() || !ReadConfig(pathBuffer)) return false;

  mainWindow = std::make_unique<ui::ZIrregularWindow>();
  progressBar = std::make_unique<ui::ZProgressBar>();
  pageHost = std::make_unique<web::ZWebBrowser>(std::make_unique<web::JsDispatch>(&OnIntoGame, &OnRepair));
  mainWindow->showOnCreate = false;
  progressBar->showOnCreate = false;
  pageHost->showOnCreate = false;
  DeliverConfiguration();

  // Init decodes each window's images: all of them must load.
  if (!mainWindow->Init(instance, nullptr)) return false;
  mainWindowHandle = mainWindow->Create(config.skin.title, 0, 0, 0, 0, WS_EX_LAYERED, kMainStyle);
  if (mainWindowHandle == nullptr) return false;
  pageHost->Init(instance, mainWindowHandle);
  if (pageHost->Create("WebBrowser", config.page.x, config.page.y, config.page.width, config.page.height, 0,
                       kPopupStyle) == nullptr)
    return false;
  if (!progressBar->Init(instance, mainWindowHandle)) return false;
  if (progressBar->Create("ProgressBar", 0, 0, 0, 0, 0, kPopupStyle) == nullptr) return false;
  if (!WriteResult(resultPath)) return false;

  ::DestroyWindow(progressBar->Window());
  ::DestroyWindow(pageHost->GetHostWindow());
  ::DestroyWindow(mainWindowHandle);
  return true;
}

}  // namespace app
