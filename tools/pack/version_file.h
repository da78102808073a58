// The version descriptor the launcher fetches before it updates: an INI file
// with section "Launcher", keys "Version" (compared as a signed 32-bit number
// with install.cfg), "Url" (where the archive is), "Sha256" and "Size", which
// the archive must match, and "Manifest", "ManifestSha256" and
// "ManifestSize": where the archive's manifest is (update/manifest/manifest.h)
// and what it must match. They come after the archive's facts, so that a
// signature over the descriptor covers them all; the launcher's own package
// is announced after them (tools/pack/launcher_package.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "update/trust/archive_digest.h"

namespace pack {

// The launcher appends "?" and up to 11 characters of tick count to the Url
// and composes the result into 260 bytes.
inline constexpr std::size_t kMaxArchiveUrlBytes = 259 - 12;

// Builds the descriptor's text (CRLF lines). Returns false with a reason in
// `error` when the version is not a whole number from 1 to 2147483647 (0 is
// what a missing install.cfg reads as, so it would never update) or when the
// URL is empty, too long, or holds characters the INI reader would mangle.
bool FormatVersionFile(const std::string& version, const std::string& url, std::string* content,
                       std::string* error);

// A version as the descriptor may announce it: decimal digits only, 1 to
// 2147483647. False leaves `number` alone.
bool ParseVersionNumber(const std::string& text, std::int32_t* number);

// Appends "Sha256=<64 hex digits>" and "Size=<bytes>" lines to a descriptor
// made by FormatVersionFile.
void AppendArchiveFacts(const update::Sha256Digest& digest, std::uint64_t size,
                        std::string* content);

// The rules every URL in the descriptor follows (FormatVersionFile checks
// the archive's with them): not empty, at most `maxBytes`, and only
// printable ASCII without blanks or quotes. False with a reason naming the
// URL as `what` ("archive", "manifest") in `error`.
bool CheckServedUrl(const std::string& url, const char* what, std::string* error,
                    std::size_t maxBytes = kMaxArchiveUrlBytes);

// The manifest's URL by default: the archive's with ".manifest" appended.
std::string DefaultManifestUrl(const std::string& archiveUrl);

// Appends "Manifest=<url>", "ManifestSha256=<64 hex digits>" and
// "ManifestSize=<bytes>" lines for the manifest text `manifest`, after
// AppendArchiveFacts. `url` has passed CheckServedUrl.
void AppendManifestFacts(const std::string& url, const std::string& manifest, std::string* content);

// SHA-256 and size of a file, read once. False when it cannot be read.
bool DigestFile(const std::filesystem::path& path, update::Sha256Digest* digest,
                std::uint64_t* size);

}  // namespace pack
