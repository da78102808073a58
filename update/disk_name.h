// The form in which two names below Game compare as Windows compares them,
// shared by every part of an update that has to tell whether two entry names
// (or an entry name and a folder) are the same place on disk. Pure: no
// windows.h.
#pragma once

#include <string>

namespace update {

// ASCII letters in upper case (single-byte characters only: a trail byte of a
// code page 936 double-byte character is never folded, and one equal to "\"
// is no separator), every separator as "/", without a trailing separator.
// Two names name the same file when their keys are equal; a "/" in a key is
// always a separator, so the key of a folder that holds a name is the part of
// the name's key before one of its "/".
std::string DiskNameKey(const std::string& name);

}  // namespace update
