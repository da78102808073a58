// Bounds that end a transfer whose server does not answer or stalls, so that
// the player is never left waiting without end. Tests shorten them. Pure.
#pragma once

namespace update {

struct TransferLimits {
  long connectTimeoutSeconds = 30;
  long lowSpeedBytesPerSecond = 1;  // below this rate ...
  long lowSpeedSeconds = 60;        // ... for this long, the transfer fails
};

}  // namespace update
