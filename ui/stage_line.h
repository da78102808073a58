// The stage line of the progress window: the stage text, and while the
// archive (or its spans) downloads the bytes done and in all, the speed and
// the time left, e.g. "正在更新游戏资源... 312/1024 MB 8.4 MB/s 剩余 1分25秒";
// while files are staged or checked, the files done and in all. The line
// always fits the width it is given: the time left goes first, then the
// speed, then the count. Texts are code page 936 (GBK) bytes. Pure: no
// windows.h; the window measures with its font through `Measure`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ui {

enum class LineUnit { None, Bytes, Files };

struct StageLineParts {
  const char* stageText = "";
  LineUnit unit = LineUnit::None;
  std::int64_t done = 0;
  std::int64_t total = 0;  // 0: not known (no count is shown)
  bool speedKnown = false;
  double bytesPerSecond = 0;
  bool timeLeftKnown = false;
  std::int64_t secondsLeft = 0;
};

// Whether a stage shows a count of this unit: bytes while the archive
// downloads (stage 1), files while they are staged (2) or checked (4).
bool StageShowsCount(std::int32_t stageIndex, LineUnit unit);

// "312/1024 MB" (MiB; one decimal below 10 MiB in all), "120/5000 个文件".
std::string FormatCount(LineUnit unit, std::int64_t done, std::int64_t total);
// "8.4 MB/s", "512 KB/s".
std::string FormatSpeed(double bytesPerSecond);
// "剩余 25秒", "剩余 1分25秒", "剩余 2小时05分".
std::string FormatTimeLeft(std::int64_t seconds);

// Width in pixels of `text` as the window draws it.
using Measure = std::function<std::int32_t(const std::string& text)>;

// The fullest line of `parts` that fits `maxWidth`: all of it, then without
// the time left, then without the speed, then the stage text alone (drawn
// even when it does not fit, as it always was). Without a measure nothing is
// dropped.
std::string ComposeStageLine(const StageLineParts& parts, std::int32_t maxWidth, const Measure& measure);

}  // namespace ui
