// The next version announced beside the live one: pack --next DIR reads the
// version.cfg an earlier pack run wrote into DIR (for the version to come)
// and adds its keys to this version's descriptor as NextVersion, NextUrl,
// NextSha256, NextSize, NextManifest, NextManifestSha256 and
// NextManifestSize, before the descriptor is signed: a launcher that is
// current fetches what that version needs ahead, and installs it only once
// a descriptor names it as the live one.
#pragma once

#include <cstdint>
#include <string>

namespace pack {

// Appends the Next* lines for the descriptor text `next` to `content`. False,
// with a reason in `error` and `content` unchanged, when `next` lacks one of
// its keys (a launcher fetches ahead only by a manifest it can trust), holds
// one that is malformed, or names a version not above `liveVersion`.
bool AppendNextRelease(const std::string& next, std::int32_t liveVersion, std::string* content, std::string* error);

}  // namespace pack
