#include "app/self_test_argument.h"

#include <cstring>

namespace app {

namespace {

const char kSwitch[] = "--self-test=";

bool Fail(char* out, std::size_t outSize) {
  if (out != nullptr && outSize != 0) out[0] = '\0';
  return false;
}

}  // namespace

bool FindSelfTestPath(const char* commandLine, char* out, std::size_t outSize) {
  if (commandLine == nullptr || out == nullptr || outSize == 0) return Fail(out, outSize);
  const char* at = commandLine;
  while (*at == ' ' || *at == '\t') ++at;
  const std::size_t switchLength = sizeof kSwitch - 1;
  if (std::strncmp(at, kSwitch, switchLength) != 0) return Fail(out, outSize);
  at += switchLength;
  const char* begin = at;
  const char* end = nullptr;
  if (*at == '"') {
    begin = at + 1;
    end = std::strchr(begin, '"');
    if (end == nullptr) return Fail(out, outSize);
  } else {
    end = begin + std::strcspn(begin, " \t");
  }
  const std::size_t length = static_cast<std::size_t>(end - begin);
  if (length == 0 || length >= outSize) return Fail(out, outSize);
  std::memcpy(out, begin, length);
  out[length] = '\0';
  return true;
}

}  // namespace app
