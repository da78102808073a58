#include "skin_fixture.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/png_writer.h"
#include "base/bounded_format.h"

namespace uitest {

const std::string& SkinFolder() {
  static const std::string folder = [] {
    const std::string dir = TempFolder("skin");
    std::vector<std::uint32_t> bg(kSkinWidth * kSkinHeight);
    for (int y = 0; y < kSkinHeight; ++y)
      for (int x = 0; x < kSkinWidth; ++x)
        bg[y * kSkinWidth + x] = y < 100 ? kRed : y < 200 ? kHalfBlue : x < 200 ? 0u : kGreen;
    testpng::WriteRgba(dir + "bg.png", kSkinWidth, kSkinHeight, bg);
    testpng::WriteSolid(dir + "min_n.png", kButton, kButton, kMinNormal);
    testpng::WriteSolid(dir + "min_h.png", kButton, kButton, kMinHit);
    testpng::WriteSolid(dir + "close_n.png", kButton, kButton, kCloseNormal);
    testpng::WriteSolid(dir + "close_h.png", kButton, kButton, kCloseHit);
    testpng::WriteSolid(dir + "progress_bg.png", kProgressWidth, kProgressHeight, kProgressBg);
    testpng::WriteSolid(dir + "progress_1.png", kBarWidth, kBarHeight, kUpperBar);
    testpng::WriteSolid(dir + "progress_2.png", kBarWidth, kBarHeight, kLowerBar);
    return dir;
  }();
  return folder;
}

namespace {
// A test path that does not fit its buffer is a fault of the test itself.
void SetPath(wchar_t (&target)[512], const std::string& path) {
  const std::wstring wide = Wide(path);
  ASSERT_LT(wide.size(), 512u) << path;
  std::wmemcpy(target, wide.c_str(), wide.size() + 1);
}
void SetPath(char (&target)[512], const std::string& path) {
  ASSERT_TRUE(base::CopyInto(target, path.c_str())) << path;
}
}  // namespace

void SkinnedWindows::Build(const SkinOptions& options) {
  const std::string& dir = SkinFolder();
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  main = std::make_unique<ui::ZIrregularWindow>();
  SetPath(main->backgroundImageFile, dir + (options.background ? "bg.png" : "missing.png"));
  SetPath(main->minNormalFile, dir + "min_n.png");
  SetPath(main->minHitFile, dir + (options.minHit ? "min_h.png" : "missing.png"));
  SetPath(main->closeNormalFile, dir + "close_n.png");
  SetPath(main->closeHitFile, dir + "close_h.png");
  main->minX = options.minX;
  main->minY = options.minY;
  main->closeX = options.closeX;
  main->closeY = options.closeY;

  progress = std::make_unique<ui::ZProgressBar>();
  SetPath(progress->backgroundFile, dir + "progress_bg.png");
  SetPath(progress->upperBarFile, dir + "progress_1.png");
  SetPath(progress->lowerBarFile, dir + "progress_2.png");
  progress->upperBarX = kUpperX;
  progress->upperBarY = kUpperY;
  progress->lowerBarX = kLowerX;
  progress->lowerBarY = kLowerY;

  set.mainWindow = main.get();
  set.progressBar = progress.get();
  ui::SetWindowSet(&set);

  loaded = main->Init(instance, nullptr);
  mainWindow = main->Create("ORVA", options.x, options.y, 0, 0, WS_EX_LAYERED,
                            WS_POPUP | WS_VISIBLE | WS_BORDER | WS_SYSMENU);
  host = std::make_unique<StandInHost>(mainWindow, kHostX, kHostY, kHostW, kHostH);
  set.pageHost = host.get();
  progress->Init(instance, mainWindow);
  progress->Create("ProgressBar", 40, 420, 0, 0, 0, WS_POPUP | WS_VISIBLE | WS_BORDER | WS_SYSMENU);
  ::ShowWindow(progress->Window(), SW_HIDE);
  set.viewState = 1;
  PumpFor(50);  // the first paint, posted at WM_CREATE
}

void SkinnedWindows::TearDown() {
  ui::SetWindowSet(nullptr);  // destroying from here is no launcher close
  if (progress) progress->StopAnimation();
  for (HWND w : {progress ? progress->Window() : nullptr, host ? host->GetHostWindow() : nullptr,
                 mainWindow})
    if (w && ::IsWindow(w)) ::DestroyWindow(w);
  host.reset();
  progress.reset();
  main.reset();
  mainWindow = nullptr;
  DrainQueue();
  UnregisterFamilyClasses();
}

}  // namespace uitest
