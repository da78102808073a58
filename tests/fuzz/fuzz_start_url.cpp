// The start-page URL: ComposeStartUrl into buffers of every size up to 1024,
// UrlEncode and FilterToken.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/start_url.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr char kTokenAlphabet[] = "ABCDEFGHIJKMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// UrlEncode yields only safe bytes and whole escapes, and decodes back.
void CheckUrlEncode(const std::string& text) {
  const std::string encoded = app::UrlEncode(text.c_str());
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '%') {
      FUZZ_CHECK(i + 2 < encoded.size());  // a whole escape
      const int high = HexValue(encoded[i + 1]);
      const int low = HexValue(encoded[i + 2]);
      FUZZ_CHECK(high >= 0 && low >= 0);
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+') {
      decoded += ' ';
    } else {
      FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.');
      decoded += c;
    }
  }
  FUZZ_CHECK(decoded == std::string(text.c_str()));
}

void CheckFilterToken(const std::string& token) {
  char out[app::kTokenBufferSize];
  std::memset(out, 'x', sizeof out);
  const std::size_t length = app::FilterToken(token.c_str(), out);
  FUZZ_CHECK(length < app::kTokenBufferSize);
  FUZZ_CHECK(out[length] == '\0' && std::strlen(out) == length);
  FUZZ_CHECK(std::strncmp(out, token.c_str(), length) == 0);
  for (std::size_t i = 0; i < length; ++i) FUZZ_CHECK(std::strchr(kTokenAlphabet, out[i]) != nullptr);
  // The copy stops at the limit or at the first character outside the alphabet.
  const char next = token.c_str()[length];
  FUZZ_CHECK(length == app::kTokenBufferSize - 1 || next == '\0' ||
             std::strchr(kTokenAlphabet, next) == nullptr);
}

void CheckCompose(const std::string& url, const std::string& startPage, const std::string* token,
                  std::uint32_t tick, std::size_t outSize) {
  // An exact heap block: ASan reports any byte written past outSize.
  std::vector<char> out(outSize, '#');
  const app::StartUrlForm form = app::ComposeStartUrl(url.c_str(), startPage.c_str(),
                                                      token ? token->c_str() : nullptr, tick,
                                                      out.data(), outSize);
  const std::size_t length = strnlen(out.data(), outSize);
  FUZZ_CHECK(length < outSize);  // terminated inside the buffer
  const std::string text(out.data(), length);

  const std::string direct = std::string(url.c_str()) + (std::strchr(url.c_str(), '?') ? "&t=" : "?t=") +
                             std::to_string(static_cast<std::int32_t>(tick));
  switch (form) {
    case app::StartUrlForm::kNone:
      FUZZ_CHECK(text.empty());
      FUZZ_CHECK(direct.size() >= outSize || direct.size() >= app::kStartUrlSize);
      break;
    case app::StartUrlForm::kDirect:
      FUZZ_CHECK(text == direct);
      break;
    case app::StartUrlForm::kWithToken: {
      FUZZ_CHECK(token != nullptr);
      char filtered[app::kTokenBufferSize];
      app::FilterToken(token->c_str(), filtered);
      const std::string whole = std::string(startPage.c_str()) + "?u=" + app::UrlEncode(direct.c_str()) +
                                "&t=" + filtered;
      FUZZ_CHECK(text == whole);  // never a cut "u=" value or escape
      break;
    }
  }
  // The token form is preferred whenever it fits.
  if (token != nullptr && form == app::StartUrlForm::kDirect) {
    char filtered[app::kTokenBufferSize];
    app::FilterToken(token->c_str(), filtered);
    const std::string whole = std::string(startPage.c_str()) + "?u=" + app::UrlEncode(direct.c_str()) +
                              "&t=" + filtered;
    FUZZ_CHECK(whole.size() >= outSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::uint32_t tick = in.ConsumeIntegral<std::uint32_t>();
  const std::size_t smallSize = in.ConsumeIntegralInRange<std::size_t>(1, 96);
  const bool withToken = in.ConsumeBool();
  const std::string url = in.ConsumeRandomLengthString(1200);
  const std::string startPage = in.ConsumeRandomLengthString(1200);
  const std::string token = in.ConsumeRemainingBytesAsString();

  CheckUrlEncode(url);
  CheckFilterToken(token);
  const std::string* tokenArg = withToken ? &token : nullptr;
  CheckCompose(url, startPage, tokenArg, tick, smallSize);
  CheckCompose(url, startPage, tokenArg, tick, app::kStartUrlSize);
  return 0;
}
