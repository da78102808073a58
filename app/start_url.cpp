#include "app/start_url.h"

#include <cstring>

#include "base/bounded_format.h"

namespace app {
namespace {

bool IsUrlSafe(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.';
}

bool IsTokenCharacter(char c) {
  static const char kAlphabet[] = "ABCDEFGHIJKMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789";
  return c != '\0' && std::strchr(kAlphabet, c) != nullptr;
}

// Reinterprets the counter's bits as the signed value "%d" shows.
std::int32_t AsSigned(std::uint32_t value) {
  std::int32_t result;
  std::memcpy(&result, &value, sizeof result);
  return result;
}

}  // namespace

std::string UrlEncode(const char* text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (text == nullptr) return out;
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (IsUrlSafe(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::size_t FilterToken(const char* token, char (&out)[kTokenBufferSize]) {
  std::size_t length = 0;
  if (token != nullptr) {
    while (length < kTokenBufferSize - 1 && IsTokenCharacter(token[length])) {
      out[length] = token[length];
      ++length;
    }
  }
  out[length] = '\0';
  return length;
}

StartUrlForm ComposeStartUrl(const char* url, const char* startPage, const char* token,
                             std::uint32_t tickCount, char* out, std::size_t outSize) {
  if (out == nullptr || outSize == 0) return StartUrlForm::kNone;
  if (url == nullptr) url = "";
  if (startPage == nullptr) startPage = "";

  char inner[kStartUrlSize] = {};
  const char* format = std::strchr(url, '?') ? "%s&t=%d" : "%s?t=%d";
  if (!base::FormatInto(inner, sizeof inner, format, url, AsSigned(tickCount))) {
    out[0] = '\0';
    return StartUrlForm::kNone;
  }

  if (token != nullptr) {
    char filtered[kTokenBufferSize];
    FilterToken(token, filtered);
    const std::string encoded = UrlEncode(inner);
    // Whole or empty: a cut here could end inside "%XX" or lose the token.
    if (base::FormatInto(out, outSize, "%s?u=%s&t=%s", startPage, encoded.c_str(), filtered)) {
      return StartUrlForm::kWithToken;
    }
  }

  if (base::CopyInto(out, outSize, inner)) return StartUrlForm::kDirect;
  return StartUrlForm::kNone;
}

}  // namespace app
