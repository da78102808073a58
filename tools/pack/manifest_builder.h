// The manifest of a written archive (update/manifest/manifest.h), made by
// reading the archive back rather than from what was meant to be written, so
// that every span and digest is that of the bytes the server will hold.
#pragma once

#include <filesystem>
#include <string>

#include "tools/pack/zip_writer.h"
#include "update/manifest/manifest.h"

namespace pack {

// Describes `archive`: its size and SHA-256, and for every entry, in archive
// order, the central directory's name, flag, CRC-32 and sizes, the SHA-256 of
// its content (inflated and CRC-checked through minizip), and its span: from
// its local header (found through its central directory record, 64-bit
// offsets throughout) over the name and extra field the local header
// announces (they may differ from the central directory's), the compressed
// data and any data descriptor, with the SHA-256 of those raw bytes. The
// result is checked by the launcher's own parser before it is returned.
// False with a reason in `error` when the archive cannot be read, an entry's
// records disagree, or the manifest would be refused (a name whose meaning
// depends on a Unicode Path field, which the manifest does not carry, among
// them).
// With `layout`, the chunks it lists for an entry are described too: each is
// read from the archive, inflated alone and hashed, so that a chunk that does
// not stand alone fails here and not on a player's machine.
bool BuildManifest(const std::filesystem::path& archive, update::Manifest* manifest, std::string* error,
                   const ChunkLayout* layout = nullptr);

}  // namespace pack
