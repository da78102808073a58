// For tests only: forget the log path so that the next text chooses it again
// (from the current directory at that moment) and empties the file again.
#pragma once

namespace update {

void ResetDownloadLogForTesting();

}  // namespace update
