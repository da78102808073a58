// Window start-up: the three window objects receive the configured skin, the
// main window comes up with its icon and the page over it, the progress window
// waits hidden, and the page host opens the start-page URL. Also the objects'
// destruction when the launcher object goes.
#include <windows.h>

#include <memory>

#include "app/launcher.h"
#include "base/bounded_format.h"
#include "ui/irregular_window.h"
#include "ui/progress_bar.h"
#include "update/download_log.h"
#include "update/update_worker.h"
#include "web/js_dispatch.h"
#include "web/z_web_browser.h"

namespace app {

namespace {

constexpr DWORD kMainStyle = WS_POPUP | WS_VISIBLE | WS_BORDER | WS_SYSMENU;
constexpr DWORD kPageStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU;
constexpr DWORD kProgressStyle = WS_POPUP | WS_VISIBLE | WS_BORDER | WS_SYSMENU;
constexpr std::size_t kStartUrlSize = 1024;
constexpr std::int64_t kBytesPerKilobyte = 1024;

// Clears the 512-character target and converts the composed path into it. An
// image whose path could not be composed gets an empty name, which loads nothing.
void WidenInto(const char* path, wchar_t (&target)[512]) {
  for (wchar_t& c : target) c = L'\0';
  if (path[0] == '\0') return;
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, target, 512) == 0) target[0] = L'\0';
}

void CopyNarrow(const char* path, char (&target)[512]) {
  for (char& c : target) c = '\0';
  base::CopyInto(target, path);  // a path buffer of 260 always fits
}

}  // namespace

// The skin and progress settings go to the window objects, in the order the
// configuration lists them.
void ZornLauncher::DeliverConfiguration() {
  ui::ZIrregularWindow& main = *mainWindow;
  ui::ZProgressBar& progress = *progressBar;
  auto compose = [this](const char* value) {
    ComposeImagePath(value);
    return PathBuffer();
  };

  WidenInto(compose(config.skin.mainImage), main.backgroundImageFile);
  WidenInto(compose(config.skin.minHitImage), main.minHitFile);
  WidenInto(compose(config.skin.minNormalImage), main.minNormalFile);
  main.minX = config.skin.minX;
  main.minY = config.skin.minY;
  WidenInto(compose(config.skin.closeHitImage), main.closeHitFile);
  WidenInto(compose(config.skin.closeNormalImage), main.closeNormalFile);
  main.closeX = config.skin.closeX;
  main.closeY = config.skin.closeY;

  CopyNarrow(compose(config.progress.backgroundImage), progress.backgroundFile);
  CopyNarrow(compose(config.progress.upperBarImage), progress.upperBarFile);
  progress.upperBarX = config.progress.upperBarX;
  progress.upperBarY = config.progress.upperBarY;
  CopyNarrow(compose(config.progress.lowerBarImage), progress.lowerBarFile);
  progress.lowerBarX = config.progress.lowerBarX;
  progress.lowerBarY = config.progress.lowerBarY;
}

// The player's cancel (the progress window closed, or the main window's close
// in the progress view): a running worker stops at its next safe point and
// closes the launcher itself; with none running the launcher closes now.
static void CancelUpdate() {
  if (!update::RequestUpdateWorkerStop()) ::PostMessageA(Launcher().mainWindowHandle, WM_DESTROY, 0, 0);
}

void ZornLauncher::StartWindows(HINSTANCE instance) {
  if (!mainWindow) mainWindow = std::make_unique<ui::ZIrregularWindow>();
  if (!progressBar) progressBar = std::make_unique<ui::ZProgressBar>();
  if (!pageHost)
    pageHost = std::make_unique<web::ZWebBrowser>(
        std::make_unique<web::JsDispatch>(&OnIntoGame, &OnRepair, &OnUpdateState));
  windows.mainWindow = mainWindow.get();
  windows.pageHost = pageHost.get();
  windows.progressBar = progressBar.get();
  windows.cancelUpdate = &CancelUpdate;
  ui::SetWindowSet(&windows);

  DeliverConfiguration();

  mainWindow->Init(instance, nullptr);
  mainWindowHandle =
      mainWindow->Create(config.skin.title, 0, 0, 0, 0, WS_EX_LAYERED, kMainStyle);

  // The icon file is taken as written: a bare name is found in the current directory.
  windowIcon = static_cast<HICON>(
      ::LoadImageA(instance, config.iconFile, IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  ::SendMessageA(mainWindowHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(windowIcon));
  ::SendMessageA(mainWindowHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(windowIcon));

  RECT mainRect{};
  ::GetWindowRect(mainWindowHandle, &mainRect);
  pageHost->Init(instance, mainWindowHandle);
  pageHost->Create("WebBrowser", config.page.x + mainRect.left, config.page.y + mainRect.top,
                   config.page.width, config.page.height, 0, kPageStyle);

  progressBar->Init(instance, mainWindowHandle);
  progressBar->Create("ProgressBar", 0, 0, 0, 0, 0, kProgressStyle);

  ::SetForegroundWindow(mainWindowHandle);
  ::ShowWindow(mainWindowHandle, SW_RESTORE);
  ::ShowWindow(mainWindowHandle, SW_SHOWNORMAL);
  ::UpdateWindow(mainWindowHandle);

  ::SetForegroundWindow(pageHost->GetHostWindow());
  pageHost->ShowAtOffset();

  ::ShowWindow(progressBar->Window(), SW_HIDE);
  windows.viewState = 1;

  // Everything the update worker needs is fixed from here on.
  update::WorkerSetup setup;
  setup.mainWindow = mainWindowHandle;
  setup.versionCdnUrl = config.versionCdnUrl;
  setup.publicKey = config.publicKey;
  setup.publicKey2 = config.publicKey2;
  setup.versionCdnUrl2 = config.versionCdnUrl2;
  setup.versionCdnUrl3 = config.versionCdnUrl3;
  setup.proxy = config.proxy;
  setup.progress = &progressBar->targets;
  setup.progressWindow = progressBar->Window();
  setup.repairOnEntry = RepairRequested(arguments);
  if (GetModulePath(modulePath, sizeof modulePath)) setup.launcherPath = modulePath;
  setup.limits.maxReceiveBytesPerSecond =
      config.download.maxKBps > 0 ? static_cast<std::int64_t>(config.download.maxKBps) * kBytesPerKilobyte : 0;
  setup.limits.connections = config.download.connections;
  update::ConfigureUpdateWorker(setup, static_cast<std::int64_t>(config.download.backgroundKBps) * kBytesPerKilobyte);

  char url[kStartUrlSize] = {};
  if (BuildStartUrl(arguments, url, sizeof url))
    pageHost->Navigate(url);
  else
    update::WriteLog("Start page URL does not fit (%u bytes)\n", static_cast<unsigned>(sizeof url));
  // The page shows: the worker checks the descriptor and fetches what an
  // update needs while the player reads it.
  update::StartBackgroundUpdate();
}

void ZornLauncher::SetViewState(std::uint32_t state) { ui::SetViewState(state); }

void ZornLauncher::CloseBrowser() {
  if (pageHost) pageHost->CloseBrowser();
}

void ZornLauncher::EndUpdateWorker() {
  update::RequestUpdateWorkerStop();
  // It ends within a second of a transfer, between two entries of a staging,
  // or once a commit it began is finished; it shows no box after the request.
  update::WaitForUpdateWorker(INFINITE);
}

void ZornLauncher::DestroyWindowObjects() {
  // The worker writes the progress bar's targets until it returns: it is
  // asked to stop and waited for before anything is freed.
  EndUpdateWorker();
  if (ui::GetWindowSet() == &windows) ui::SetWindowSet(nullptr);
  windows = ui::WindowSet{};
  mainWindow.reset();
  pageHost.reset();
  progressBar.reset();  // stops and joins its animation thread
  if (windowIcon) {
    ::DestroyIcon(windowIcon);
    windowIcon = nullptr;
  }
}

}  // namespace app
