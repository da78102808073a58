// Conversion of UTF-8 text to code page 936 (GBK), the ANSI code page the
// launcher names its files in, shared by the launcher (names an archive
// declares as UTF-8) and the pack tool (names it stores). One interface, two
// implementations: the Windows build converts with the system's own tables
// (MultiByteToWideChar, WideCharToMultiByte), the Linux build with iconv.
#pragma once

#include <string>
#include <string_view>

namespace update {

// Converts UTF-8 text to code page 936. Returns false (and leaves `out`
// empty) when the text is not valid UTF-8 or holds a character that code page
// 936 cannot represent; no character is ever replaced by a look-alike or a
// default one, so the result names exactly the file the text names.
bool Utf8ToCodePage936(std::string_view utf8, std::string* out);

}  // namespace update
