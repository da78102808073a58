// A small file written so that a crash leaves either its old content or its
// new one: the bytes go to "<path>.tmp", are flushed to the disk, and the
// temporary is renamed over the path. The journals of the commit and of the
// launcher's swap are written this way (Windows).
#pragma once

#include <string>

namespace base {

// False, with the temporary removed and the path as it was, when any step fails.
bool WriteFileDurably(const char* path, const std::string& bytes);

}  // namespace base
