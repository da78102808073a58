// UTF-8 texts and what code page 936 makes of them, for the tests of both
// conversions (iconv natively, the system's tables on Windows): they must
// agree, since the pack tool converts on either and the launcher on Windows.
#pragma once

#include <vector>

namespace testing_names {

struct CodePage936Case {
  const char* label;
  const char* utf8;
  const char* codePage936;  // nullptr: refused
};

inline const std::vector<CodePage936Case>& CodePage936Cases() {
  static const std::vector<CodePage936Case> cases = {
      {"empty", "", ""},
      {"ASCII", "plain ASCII/1.txt", "plain ASCII/1.txt"},
      {"Chinese", "\xe4\xb8\xad\xe6\x96\x87", "\xd6\xd0\xce\xc4"},                                 // 中文
      {"a file's name", "\xe6\xb8\xb8\xe6\x88\x8f\xe8\xaf\xb4\xe6\x98\x8e.txt",                   // 游戏说明.txt
       "\xd3\xce\xcf\xb7\xcb\xb5\xc3\xf7.txt"},
      {"trail byte 0x5C", "\xe2\x80\x90", "\xa9\x5c"},                                            // U+2010
      {"one byte above ASCII", "\xe2\x82\xac", "\x80"},                                          // euro sign
      {"Latin letter", "\xc3\xa9", "\xa8\xa6"},                                                  // e acute
      {"emoji", "a\xf0\x9f\x98\x80", nullptr},                                                    // U+1F600
      {"Hangul letter", "\xe3\x84\xb1.txt", nullptr},                                            // U+3131
      {"sharp s", "\xc3\x9f", nullptr},                                                          // no best fit to "ss"
      {"yen sign", "\xc2\xa5", nullptr},                                                         // no best fit to "Y"
      {"katakana middle dot", "\xe3\x83\xbb", nullptr},                                          // U+30FB
      {"GBK bytes, not UTF-8", "\xd6\xd0", nullptr},
      {"cut character", "\xe4\xb8", nullptr},
  };
  return cases;
}

}  // namespace testing_names
