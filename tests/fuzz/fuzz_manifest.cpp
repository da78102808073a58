// The manifest's reader on any bytes: it never reads past them, a manifest it
// accepts keeps to the installer's rules and to the archive, and what it
// accepts writes out to a text that reads back as the same manifest.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/install/entry_name.h"
#include "update/manifest/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  update::Manifest manifest;
  std::size_t line = 0;
  if (update::ParseManifest(bytes.data(), bytes.size(), &manifest, &line) != update::ManifestParse::Parsed) return 0;
  FUZZ_CHECK(line == 0);
  std::uint64_t spansEnd = 0;
  for (const update::ManifestEntry& entry : manifest.entries) {
    FUZZ_CHECK(update::IsConfinedEntryName(entry.name.c_str()));
    FUZZ_CHECK(entry.name.size() <= update::kMaxManifestNameBytes);
    FUZZ_CHECK(entry.directory == update::IsDirectoryEntry(entry.name.c_str(), 0));
    FUZZ_CHECK(entry.spanOffset >= spansEnd);
    FUZZ_CHECK(entry.spanLength <= manifest.archiveSize - entry.spanOffset);
    spansEnd = entry.spanOffset + entry.spanLength;
    // Chunks tile the file, and their data lies inside the span.
    std::uint64_t fileEnd = 0;
    for (const update::ManifestChunk& chunk : entry.chunks) {
      FUZZ_CHECK(chunk.offset == fileEnd && chunk.length <= update::kMaxChunkBytes);
      FUZZ_CHECK(entry.ChunkDataAt(chunk) + chunk.dataLength <= entry.spanOffset + entry.spanLength);
      fileEnd += chunk.length;
    }
    FUZZ_CHECK(entry.chunks.empty() || fileEnd == entry.size);
  }
  const std::string again = update::FormatManifest(manifest);
  update::Manifest reread;
  FUZZ_CHECK(update::ParseManifest(again.data(), again.size(), &reread) == update::ManifestParse::Parsed);
  FUZZ_CHECK(reread == manifest);
  return 0;
}
