// File-system helpers shared by the Windows test programs.
#pragma once

#include "base/file_tree.h"

namespace testing_files {

using base::RemoveTree;  // removes a directory with everything below it (read-only files included)
using base::VisitTree;

}  // namespace testing_files
