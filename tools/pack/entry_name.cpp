#include "tools/pack/entry_name.h"

#include "update/install/code_page_936.h"
#include "update/install/entry_name.h"

#include <cctype>

namespace pack {

namespace {

NameProblem CheckLevel(std::string_view level) {
  if (level.empty()) return NameProblem::kEmptyLevel;
  if (level == ".") return NameProblem::kDotLevel;
  if (level == "..") return NameProblem::kParentLevel;
  for (char c : level) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20) return NameProblem::kControlChar;
    if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
      return NameProblem::kForbiddenChar;
    }
  }
  if (level.back() == '.' || level.back() == ' ') return NameProblem::kTrailingDotOrSpace;
  if (update::IsDeviceName(level.data(), level.data() + level.size())) return NameProblem::kReservedName;
  return NameProblem::kNone;
}

}  // namespace

NameCheck CheckEntryName(std::string_view utf8) {
  NameCheck check;
  if (utf8.empty() || utf8 == "/") {
    check.problem = utf8.empty() ? NameProblem::kEmpty : NameProblem::kAbsolute;
    return check;
  }
  if (utf8.front() == '/') {
    check.problem = NameProblem::kAbsolute;
    return check;
  }
  if (utf8.find('\\') != std::string_view::npos) {
    check.problem = NameProblem::kBackslash;
    return check;
  }
  if (utf8.size() >= 2 && std::isalpha(static_cast<unsigned char>(utf8[0])) && utf8[1] == ':') {
    check.problem = NameProblem::kDriveLetter;
    return check;
  }
  // A directory's trailing "/" ends the name; it is not an empty level.
  std::string_view body = utf8;
  if (body.back() == '/') body.remove_suffix(1);
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('/', start);
    if (end == std::string_view::npos) end = body.size();
    NameProblem problem = CheckLevel(body.substr(start, end - start));
    if (problem != NameProblem::kNone) {
      check.problem = problem;
      return check;
    }
    start = end + 1;
  }
  std::string gbk;
  if (!update::Utf8ToCodePage936(utf8, &gbk)) {
    check.problem = NameProblem::kNotGbk;
    return check;
  }
  if (gbk.size() > kMaxEntryNameBytes) {
    check.problem = NameProblem::kTooLong;
    return check;
  }
  check.gbk = std::move(gbk);
  return check;
}

const char* DescribeNameProblem(NameProblem problem) {
  switch (problem) {
    case NameProblem::kNone: return "ok";
    case NameProblem::kEmpty: return "the name is empty";
    case NameProblem::kAbsolute: return "the name starts with a separator";
    case NameProblem::kDriveLetter: return "the name starts with a drive letter";
    case NameProblem::kBackslash: return "the name holds a backslash, a separator on Windows";
    case NameProblem::kEmptyLevel: return "the name has an empty level (\"//\")";
    case NameProblem::kDotLevel: return "the name has a \".\" level";
    case NameProblem::kParentLevel: return "the name has a \"..\" level and would leave the Game folder";
    case NameProblem::kControlChar: return "the name holds a control character";
    case NameProblem::kForbiddenChar: return "the name holds a character Windows forbids (<>:\"|?*)";
    case NameProblem::kTrailingDotOrSpace:
      return "a level of the name ends in \".\" or \" \", which Windows drops";
    case NameProblem::kReservedName: return "a level of the name is a Windows device name (CON, NUL, COM1, ...)";
    case NameProblem::kNotGbk:
      return "the name is not valid UTF-8 or not representable in code page 936 (GBK)";
    case NameProblem::kTooLong:
      return "the name is longer than 200 bytes in code page 936; the installed path "
             "<launcher dir>\\Game/<name> must fit in 259 bytes";
  }
  return "unknown problem";
}

}  // namespace pack
