// Conversion of entry names to code page 936 (GBK), the code page the launcher
// reads archive names in. Pure interface: the Windows build converts with
// WideCharToMultiByte(936), the Linux build with iconv.
#pragma once

#include <string>
#include <string_view>

namespace pack {

// Converts UTF-8 text to code page 936. Returns false (and leaves `gbk`
// empty) when the text is not valid UTF-8 or holds a character that code page
// 936 cannot represent; no character is ever replaced by a default one.
bool Utf8ToGbk(std::string_view utf8, std::string* gbk);

}  // namespace pack
