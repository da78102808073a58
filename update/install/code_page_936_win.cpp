#include "update/install/code_page_936.h"

#include <windows.h>

#include <string>

namespace update {

namespace {

constexpr UINT kCodePage936 = 936;

}  // namespace

bool Utf8ToCodePage936(std::string_view utf8, std::string* out) {
  out->clear();
  if (utf8.empty()) return true;
  const int inLen = static_cast<int>(utf8.size());
  const int wideLen = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLen, nullptr, 0);
  if (wideLen <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(wideLen), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLen, wide.data(), wideLen) != wideLen)
    return false;
  // Best-fit mapping would turn an unrepresentable character into a look-alike
  // (or "?"), which would name another file: refuse instead.
  BOOL usedDefault = FALSE;
  const int outLen = ::WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLen, nullptr, 0,
                                           nullptr, &usedDefault);
  if (outLen <= 0 || usedDefault) return false;
  std::string converted(static_cast<std::size_t>(outLen), '\0');
  usedDefault = FALSE;
  if (::WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLen, converted.data(), outLen, nullptr,
                            &usedDefault) != outLen ||
      usedDefault)
    return false;
  // The ANSI file calls turn the bytes back into Unicode: they must give the
  // very characters the archive named.
  const int backLen =
      ::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, converted.data(), outLen, nullptr, 0);
  if (backLen != wideLen) return false;
  std::wstring back(static_cast<std::size_t>(backLen), L'\0');
  if (::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, converted.data(), outLen, back.data(), backLen) !=
          backLen ||
      back != wide)
    return false;
  *out = std::move(converted);
  return true;
}

}  // namespace update
