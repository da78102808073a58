// The start page's URL: the configured page with the tick count, or - when a
// token came on the command line - the start page carrying the encoded page
// URL and the filtered token. Pure: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

constexpr std::size_t kStartUrlSize = 1024;   // output and inner URL, with terminator
constexpr std::size_t kTokenBufferSize = 64;  // filtered token, with terminator

// Percent-encoding: ASCII letters, digits, "-", "_" and "." stay, a blank
// becomes "+", every other byte (all bytes >= 128 too) becomes "%XX".
std::string UrlEncode(const char* text);

// Copies the leading run of token-alphabet characters (letters and digits
// without 0, 1, L, O, l, o), at most kTokenBufferSize - 1 of them. Returns the
// length copied; `out` is always terminated.
std::size_t FilterToken(const char* token, char (&out)[kTokenBufferSize]);

enum class StartUrlForm {
  kDirect,     // url?t=<tick> (or url&t=<tick> when url has a query)
  kWithToken,  // startPage?u=<encoded direct form>&t=<filtered token>
  kNone,       // nothing fitted: the output is empty
};

// Composes the start-page URL into out[0..outSize). `token` may be null (no
// token argument). `tickCount` is written as a signed 32-bit number, as the
// system's millisecond counter is: past 2^31 ms it shows negative.
//
// When the token form does not fit, the output falls back to the direct form:
// it is a whole, working URL, whereas a cut "u=" value would send the start
// page to a broken address. Nothing is ever written past outSize and the
// output never ends in a cut escape.
StartUrlForm ComposeStartUrl(const char* url, const char* startPage, const char* token,
                             std::uint32_t tickCount, char* out, std::size_t outSize);

}  // namespace app
