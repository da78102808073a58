// A launcher's three windows over a generated skin, as window start-up makes
// them, registered as the process's window set.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ui/irregular_window.h"
#include "ui/progress_bar.h"
#include "ui_test_support.h"

namespace uitest {

// Skin layout (background 400 x 300):
//   rows   0..99   opaque red; the buttons sit here
//   rows 100..199  blue at alpha 128
//   rows 200..299  transparent left of x 200, opaque dark green right of it
constexpr std::uint32_t kRed = 0xFFC02020, kHalfBlue = 0x800000FF, kGreen = 0xFF208020;
constexpr std::uint32_t kMinNormal = 0xFF00C000, kMinHit = 0xFFFFFF00;
constexpr std::uint32_t kCloseNormal = 0xFF808080, kCloseHit = 0xFFFF00FF;
constexpr int kSkinWidth = 400, kSkinHeight = 300, kButton = 24;
constexpr int kMinX = 300, kMinY = 10, kCloseX = 340, kCloseY = 10;
constexpr int kHostX = 250, kHostY = 220, kHostW = 100, kHostH = 50;

// Progress skin: 800 x 130 background, two 200 x 10 bars.
constexpr std::uint32_t kProgressBg = 0xFF202040, kUpperBar = 0xFF30D030, kLowerBar = 0xFF3030D0;
constexpr int kProgressWidth = 800, kProgressHeight = 130, kBarWidth = 200, kBarHeight = 10;
constexpr int kUpperX = 20, kUpperY = 30, kLowerX = 20, kLowerY = 60;

// Writes the skin files once; returns the folder.
const std::string& SkinFolder();

struct SkinOptions {
  bool background = true;
  bool minHit = true;  // without it the close pair is never loaded
  int x = 40, y = 40;  // where the main window goes (0: centred)
  int minX = kMinX, minY = kMinY, closeX = kCloseX, closeY = kCloseY;
};

class SkinnedWindows : public testing::Test {
 protected:
  void Build(const SkinOptions& options = SkinOptions());
  void TearDown() override;

  std::unique_ptr<ui::ZIrregularWindow> main;
  std::unique_ptr<ui::ZProgressBar> progress;
  std::unique_ptr<StandInHost> host;
  ui::WindowSet set;
  HWND mainWindow = nullptr;
  bool loaded = false;
};

}  // namespace uitest
