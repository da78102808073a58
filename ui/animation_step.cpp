#include "ui/animation_step.h"

namespace ui {

StepResult StepTowards(std::int32_t value, std::int32_t target) {
  if (value < target) return {value + 1, true};
  if (value > target) return {0, true};
  return {value, false};
}

std::int32_t RevealedWidth(std::int32_t value, std::int32_t imageWidth) {
  if (imageWidth <= 0) return 0;
  // 64-bit product: a wild value must not overflow before it is clamped.
  const std::int64_t width = static_cast<std::int64_t>(value) * imageWidth / 100;
  if (width < 0) return 0;
  if (width > imageWidth) return imageWidth;
  return static_cast<std::int32_t>(width);
}

const char* StageText(std::int32_t stageIndex) {
  // GBK bytes of the stage texts: checking for updates, updating the game
  // resources, starting the installation, starting the game client, and
  // verifying the game files (a repair).
  static const char* const kTexts[] = {
      "\xD5\xFD\xD4\xDA\xBC\xEC\xB2\xE9\xB8\xFC\xD0\xC2...",
      "\xD5\xFD\xD4\xDA\xB8\xFC\xD0\xC2\xD3\xCE\xCF\xB7\xD7\xCA\xD4\xB4...",
      "\xBF\xAA\xCA\xBC\xB0\xB2\xD7\xB0\xD3\xCE\xCF\xB7...",
      "\xC6\xF4\xB6\xAF\xD3\xCE\xCF\xB7\xBF\xCD\xBB\xA7\xB6\xCB...",
      "\xD5\xFD\xD4\xDA\xD0\xA3\xD1\xE9\xD3\xCE\xCF\xB7\xCE\xC4\xBC\xFE...",
  };
  if (stageIndex < 0 || stageIndex >= static_cast<std::int32_t>(sizeof kTexts / sizeof kTexts[0])) return nullptr;
  return kTexts[stageIndex];
}

}  // namespace ui
