#include "update/self_update/launcher_offer.h"

#include <cstring>

namespace update {

namespace {

// 1 to 2147483647 in plain decimal digits: what the pack tool writes.
bool ParseLauncherVersion(const char* text, std::int32_t* out) {
  if (text == nullptr || *text == '\0') return false;
  std::int64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + (*c - '0');
    if (value > INT32_MAX) return false;
  }
  if (value == 0) return false;
  *out = static_cast<std::int32_t>(value);
  return true;
}

LauncherOfferRead Malformed(const char* why, const char** problem) {
  if (problem != nullptr) *problem = why;
  return LauncherOfferRead::Malformed;
}

}  // namespace

LauncherOfferRead ReadLauncherOffer(const LauncherOfferText& text, LauncherOffer* out, const char** problem) {
  if (text.version == nullptr || text.version[0] == '\0') return LauncherOfferRead::None;
  LauncherOffer offer;
  if (!ParseLauncherVersion(text.version, &offer.version))
    return Malformed("LauncherVersion is not a whole number from 1 to 2147483647", problem);
  for (std::size_t i = 0; i < kLauncherUrlCount; ++i) {
    const char* url = text.urls[i] != nullptr ? text.urls[i] : "";
    if (std::strlen(url) >= kPathSize) return Malformed("a LauncherUrl is too long", problem);
    std::memcpy(offer.urls[i], url, std::strlen(url) + 1);
  }
  if (offer.urls[0][0] == '\0') return Malformed("LauncherUrl is missing", problem);
  // The executable is never replaced on bytes nobody vouched for: both facts
  // are required, not only checked when present.
  if (!ParseSha256Hex(text.sha256 != nullptr ? text.sha256 : "", &offer.package.digest))
    return Malformed("LauncherSha256 is missing or not 64 hex digits", problem);
  offer.package.hasDigest = true;
  if (!ParseByteCount(text.size != nullptr ? text.size : "", &offer.package.size))
    return Malformed("LauncherSize is missing or not a byte count", problem);
  offer.package.hasSize = true;
  *out = offer;
  return LauncherOfferRead::Offered;
}

LauncherDecision DecideLauncherUpdate(const LauncherOffer& offer, bool descriptorSigned, std::int32_t installed,
                                      std::int32_t refused) {
  // An unsigned descriptor's offer is reported even when it names nothing new.
  if (!descriptorSigned) return LauncherDecision::Unsigned;
  if (offer.version <= installed) return LauncherDecision::Keep;
  if (offer.version == refused) return LauncherDecision::RefusedBefore;
  return LauncherDecision::Fetch;
}

}  // namespace update
