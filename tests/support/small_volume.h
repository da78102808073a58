// The small volume that scripts/test-servers mounts when it runs as root: the
// room checks and the writes that find a volume full are tried on it. A test
// that needs it declares its path with LAUNCHER_SMALL_VOLUME_OR_SKIP and is
// skipped, saying why, where there is none.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testing_files {

// The volume's Windows path, or empty when none was mounted.
inline std::string SmallVolumePath() {
  const char* path = std::getenv("LAUNCHER_SMALL_VOLUME_WIN");
  return path != nullptr ? path : "";
}

}  // namespace testing_files

#define LAUNCHER_SMALL_VOLUME_OR_SKIP(name)                    \
  const std::string name = testing_files::SmallVolumePath();   \
  if (name.empty()) GTEST_SKIP() << "no small volume (scripts/test-servers mounts one as root)"
