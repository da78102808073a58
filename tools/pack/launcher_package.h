// The launcher's own update package: which files of the operator's launcher
// folder go into Launcher.zip, and the keys that announce the package in
// version.cfg's [Launcher] section. The keys come after the client's, before
// the descriptor is signed, so that the signature covers them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/client_tree.h"
#include "update/trust/archive_digest.h"

namespace pack {

// The launcher asks for the package as "<url>?<first 16 hex digits of its
// SHA-256>" and composes that into 259 bytes, so the URL keeps 17 of them free.
inline constexpr std::size_t kMaxLauncherUrlBytes = 259 - 17;

// The two names a launcher folder may hold at its root: the executable, and
// the folder of its skin images and configuration.
inline constexpr char kLauncherExecutable[] = "Launcher.exe";
inline constexpr char kLauncherDataFolder[] = "Data/";

struct LauncherRelease {
  std::int32_t version = 0;
  std::string url;
  std::string mirrors[2];  // LauncherUrl2 and LauncherUrl3; empty when not given
};

// Reads the options that describe a launcher release: the version follows the
// client's rule (1 to 2147483647) and every URL CheckServedUrl's, bounded by
// kMaxLauncherUrlBytes; an empty mirror is one not given. False with a reason
// in `error`.
bool ReadLauncherRelease(const std::string& version, const std::string& url,
                         const std::string& url2, const std::string& url3, LauncherRelease* release,
                         std::string* error);

// The files of a launcher folder, as CollectClientEntries lists it, that go
// into the package: Launcher.exe and everything under Data/ (folders are not
// entries of their own; the launcher makes those its files need). Every name
// outside those two, and a folder without Launcher.exe, adds a line to
// `errors`; a stray folder is named once, not with each of its files.
std::vector<PackEntry> SelectLauncherFiles(const std::vector<PackEntry>& entries,
                                           std::vector<std::string>* errors);

// The lines appended to version.cfg for a package of `size` bytes with SHA-256
// `digest`: LauncherVersion, LauncherUrl, LauncherUrl2 and LauncherUrl3 when
// given, LauncherSha256 and LauncherSize (CRLF line ends).
std::string FormatLauncherFacts(const LauncherRelease& release, const update::Sha256Digest& digest,
                                std::uint64_t size);

}  // namespace pack
