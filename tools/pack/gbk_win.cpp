#include "tools/pack/gbk.h"

#include <windows.h>

#include <string>

namespace pack {

bool Utf8ToGbk(std::string_view utf8, std::string* gbk) {
  gbk->clear();
  if (utf8.empty()) return true;
  const int inLen = static_cast<int>(utf8.size());
  const int wideLen = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLen, nullptr, 0);
  if (wideLen <= 0) return false;
  std::wstring wide(static_cast<size_t>(wideLen), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLen, wide.data(), wideLen);
  // Best-fit mapping would turn an unrepresentable character into a look-alike
  // (or "?"), which would name another file: refuse instead.
  BOOL usedDefault = FALSE;
  const int outLen = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLen, nullptr, 0,
                                         nullptr, &usedDefault);
  if (outLen <= 0 || usedDefault) return false;
  std::string out(static_cast<size_t>(outLen), '\0');
  usedDefault = FALSE;
  WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLen, out.data(), outLen, nullptr,
                      &usedDefault);
  if (usedDefault) return false;
  *gbk = std::move(out);
  return true;
}

}  // namespace pack
