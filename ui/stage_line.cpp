#include "ui/stage_line.h"

#include "base/bounded_format.h"

namespace ui {

namespace {

constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr double kKibibyte = 1024.0;
const char kFiles[] = "\xb8\xf6\xce\xc4\xbc\xfe";  // 个文件
const char kLeft[] = "\xca\xa3\xd3\xe0";           // 剩余
const char kHours[] = "\xd0\xa1\xca\xb1";          // 小时
const char kMinutes[] = "\xb7\xd6";                // 分
const char kSeconds[] = "\xc3\xeb";                // 秒

// Numbers only: 64 bytes hold any of them, so nothing is ever cut.
std::string Printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printed(const char* format, ...) {
  char text[64];
  va_list arguments;
  va_start(arguments, format);
  const bool whole = base::FormatIntoV(text, sizeof text, format, arguments);
  va_end(arguments);
  return whole ? std::string(text) : std::string();
}

}  // namespace

bool StageShowsCount(std::int32_t stageIndex, LineUnit unit) {
  switch (unit) {
    case LineUnit::Bytes: return stageIndex == 1;
    case LineUnit::Files: return stageIndex == 2 || stageIndex == 4;
    case LineUnit::None: break;
  }
  return false;
}

std::string FormatCount(LineUnit unit, std::int64_t done, std::int64_t total) {
  if (unit == LineUnit::Files)
    return Printed("%lld/%lld ", static_cast<long long>(done), static_cast<long long>(total)) + kFiles;
  // What is done is cut, never rounded up: 1023.9 of 1024 MB is not yet 1024;
  // the total is rounded.
  const std::int64_t mebibyte = 1024 * 1024;
  const double totalMb = static_cast<double>(total) / kMebibyte;
  if (totalMb < 10.0) return Printed("%.1f/%.1f MB", static_cast<double>(done * 10 / mebibyte) / 10.0, totalMb);
  return Printed("%lld/%lld MB", static_cast<long long>(done / mebibyte), static_cast<long long>(totalMb + 0.5));
}

std::string FormatSpeed(double bytesPerSecond) {
  if (bytesPerSecond < kMebibyte) return Printed("%.0f KB/s", bytesPerSecond / kKibibyte);
  return Printed("%.1f MB/s", bytesPerSecond / kMebibyte);
}

std::string FormatTimeLeft(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::string left = std::string(kLeft) + " ";
  const long long whole = static_cast<long long>(seconds);
  if (whole < 60) return left + Printed("%lld", whole) + kSeconds;
  if (whole < 3600) return left + Printed("%lld", whole / 60) + kMinutes + Printed("%lld", whole % 60) + kSeconds;
  return left + Printed("%lld", whole / 3600) + kHours + Printed("%02lld", whole / 60 % 60) + kMinutes;
}

std::string ComposeStageLine(const StageLineParts& parts, std::int32_t maxWidth, const Measure& measure) {
  const std::string stage = parts.stageText != nullptr ? parts.stageText : "";
  if (parts.unit == LineUnit::None || parts.total <= 0) return stage;
  const std::string count = stage + " " + FormatCount(parts.unit, parts.done, parts.total);
  std::string withSpeed = count;
  if (parts.unit == LineUnit::Bytes && parts.speedKnown) withSpeed += " " + FormatSpeed(parts.bytesPerSecond);
  std::string full = withSpeed;
  if (parts.unit == LineUnit::Bytes && parts.speedKnown && parts.timeLeftKnown)
    full += " " + FormatTimeLeft(parts.secondsLeft);
  // Fullest first; each later form drops one more piece.
  const std::string* const forms[] = {&full, &withSpeed, &count};
  for (const std::string* form : forms) {
    if (!measure || measure(*form) <= maxWidth) return *form;
  }
  return stage;
}

}  // namespace ui
