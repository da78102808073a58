#include "app/start_url.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace app {
namespace {

std::string Compose(const char* url, const char* startPage, const char* token,
                    std::uint32_t tick, StartUrlForm* form = nullptr) {
  char out[kStartUrlSize];
  std::memset(out, 'x', sizeof out);
  const StartUrlForm used = ComposeStartUrl(url, startPage, token, tick, out, sizeof out);
  if (form) *form = used;
  return out;
}

TEST(StartUrlTest, Forms) {
  struct {
    const char* url;
    const char* startPage;
    const char* token;
    std::uint32_t tick;
    const char* expected;
  } cases[] = {
      {"x/y.htm", "s.htm", nullptr, 5000, "x/y.htm?t=5000"},
      {"x/y.htm?a=1", "s.htm", nullptr, 5000, "x/y.htm?a=1&t=5000"},
      {"x/y.htm", "s.htm", "AbC", 5000, "s.htm?u=x%2Fy.htm%3Ft%3D5000&t=AbC"},
      {"http://h/p", "", "Q", 7, "?u=http%3A%2F%2Fh%2Fp%3Ft%3D7&t=Q"},
      {"", "s", nullptr, 7, "?t=7"},
      {"", "s", "Z", 7, "s?u=%3Ft%3D7&t=Z"},
      // The start page gets "?u=" even when it has a query already.
      {"u", "s.htm?lang=cn", "Z", 1, "s.htm?lang=cn?u=u%3Ft%3D1&t=Z"},
      // Blank, tilde and double-byte characters in the inner URL.
      {"a b~\xB1\xED", "s", "Z", 1, "s?u=a+b%7E%B1%ED%3Ft%3D1&t=Z"},
      // The counter is written signed: negative past 2^31 ms.
      {"p", "s", nullptr, 0x80000000u, "p?t=-2147483648"},
      {"p", "s", nullptr, 0xFFFFFFFFu, "p?t=-1"},
      {"p", "s", nullptr, 0x7FFFFFFFu, "p?t=2147483647"},
      {"p", "s", "Z", 0xFFFFFFFEu, "s?u=p%3Ft%3D-2&t=Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Compose(c.url, c.startPage, c.token, c.tick), c.expected) << "url " << c.url;
  }
}

TEST(StartUrlTest, TokenIsFilteredToItsLeadingAlphabetRun) {
  const std::string alphabet = "ABCDEFGHIJKMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789";
  const std::string hundred = (alphabet + alphabet).substr(0, 100);
  struct {
    std::string token;
    std::string expected;
  } cases[] = {
      {alphabet.substr(0, 56), alphabet.substr(0, 56)},
      {hundred, hundred.substr(0, 63)},
      {"abc0def", "abc"}, {"abc1def", "abc"}, {"abcLdef", "abc"}, {"abcOdef", "abc"},
      {"abcldef", "abc"}, {"abcodef", "abc"}, {"ab-cd", "ab"}, {"ab cd", "ab"},
      {"0abc", ""}, {"%41", ""}, {"\xB1\xED" "abc", ""}, {"", ""},
  };
  for (const auto& c : cases) {
    char filtered[kTokenBufferSize];
    EXPECT_EQ(FilterToken(c.token.c_str(), filtered), c.expected.size()) << c.token;
    EXPECT_EQ(std::string(filtered), c.expected) << c.token;
    EXPECT_EQ(Compose("p", "s", c.token.c_str(), 1), "s?u=p%3Ft%3D1&t=" + c.expected);
  }
}

TEST(StartUrlTest, UrlEncodeKeepsOnlyUnreservedAsciiBytes) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  const std::string encoded = UrlEncode(all.c_str());
  std::string expected;
  for (int c = 1; c < 256; ++c) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (keep) {
      expected += static_cast<char>(c);
    } else if (c == ' ') {
      expected += '+';
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      expected += escape;
    }
  }
  EXPECT_EQ(encoded, expected);
  EXPECT_EQ(UrlEncode(""), "");
  EXPECT_EQ(UrlEncode(nullptr), "");
}

// Longest values the configuration can hold: 259 characters each.
TEST(StartUrlTest, TokenFormThatDoesNotFitFallsBackToTheDirectForm) {
  const std::string url(259, '/');          // encodes to 777 bytes
  const std::string startPage(259, 's');
  StartUrlForm form;
  const std::string out = Compose(url.c_str(), startPage.c_str(), "Tok", 123, &form);
  EXPECT_EQ(form, StartUrlForm::kDirect);
  EXPECT_EQ(out, url + "?t=123");
}

TEST(StartUrlTest, TokenFormUpToTheLastByteIsKept) {
  // "s?u=" (4) + encoded inner + "&t=Z" (4) + terminator = 1024 exactly.
  const std::string inner = "p?t=1";                  // encodes to 9 bytes
  const std::string startPage(1024 - 1 - 4 - 4 - 9 + 1, 's');  // starts with "s"
  StartUrlForm form;
  std::string out = Compose("p", startPage.c_str(), "Z", 1, &form);
  EXPECT_EQ(form, StartUrlForm::kWithToken);
  EXPECT_EQ(out.size(), 1023u);

  const std::string longer = startPage + "s";
  out = Compose("p", longer.c_str(), "Z", 1, &form);
  EXPECT_EQ(form, StartUrlForm::kDirect);
  EXPECT_EQ(out, "p?t=1");
}

TEST(StartUrlTest, NothingIsWrittenPastASmallBuffer) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  // Room for 8 bytes: neither form fits, the output is empty.
  EXPECT_EQ(ComposeStartUrl("http://host/", "s", "Z", 1, buffer, 8), StartUrlForm::kNone);
  EXPECT_STREQ(buffer, "");
  for (std::size_t i = 8; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
  // Room for the direct form only.
  EXPECT_EQ(ComposeStartUrl("ab", "s", "Z", 1, buffer, 8), StartUrlForm::kDirect);
  EXPECT_STREQ(buffer, "ab?t=1");
  for (std::size_t i = 8; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
}

}  // namespace
}  // namespace app
