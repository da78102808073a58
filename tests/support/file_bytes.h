// Whole files as byte strings, for the tests of every tree (natively too):
// what a test plants before a run and what it reads back after.
#pragma once

#include <string>

namespace testing_files {

// The bytes of `path`; "" when it is missing or cannot be opened.
std::string ReadWholeFile(const std::string& path);
// Creates or replaces `path` with `bytes`; false when it cannot be written whole.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace testing_files
