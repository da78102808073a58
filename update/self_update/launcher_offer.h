// What a version descriptor says about a new launcher: "LauncherVersion" (a
// whole number), "LauncherUrl" with the mirrors "LauncherUrl2" and
// "LauncherUrl3", "LauncherSha256" and "LauncherSize" of the package, and
// the rule that decides whether this run fetches it. A launcher is only ever
// replaced on the word of a signed descriptor, and only by bytes of the size
// and digest it names. Pure: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/directory_levels.h"
#include "update/trust/archive_digest.h"

namespace update {

constexpr std::size_t kLauncherUrlCount = 3;

// The keys' values as the descriptor holds them; an empty text is an absent key.
struct LauncherOfferText {
  const char* version = "";
  const char* urls[kLauncherUrlCount] = {"", "", ""};
  const char* sha256 = "";
  const char* size = "";
};

struct LauncherOffer {
  std::int32_t version = 0;
  char urls[kLauncherUrlCount][kPathSize] = {};  // the first is never empty when offered
  ArchiveExpectation package;                    // both its digest and its size
};

enum class LauncherOfferRead {
  None,       // no LauncherVersion: the descriptor offers no launcher
  Offered,
  Malformed,  // LauncherVersion is there, but a key is missing or unreadable
};

// Reads the keys. A Malformed offer leaves in `problem` (when not null) a
// short English phrase naming the key at fault, for the log.
LauncherOfferRead ReadLauncherOffer(const LauncherOfferText& text, LauncherOffer* out,
                                    const char** problem = nullptr);

enum class LauncherDecision {
  Unsigned,        // offered by a descriptor no key vouches for: ignored
  Keep,            // the installed launcher is that version or newer
  Fetch,           // fetch, check, self-test and swap the offered one
  RefusedBefore,   // this very version failed its checks on an earlier run
};

// `installed` is install.cfg's LauncherVersion (absent: 0); `refused` its
// LauncherRefused (absent: 0, which no offer can carry).
LauncherDecision DecideLauncherUpdate(const LauncherOffer& offer, bool descriptorSigned, std::int32_t installed,
                                      std::int32_t refused);

}  // namespace update
