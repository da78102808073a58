// The archive manifest: what is written reads back the same, names of every
// awkward kind included, and each rule that keeps a manifest to what the
// installer would do refuses on the line that breaks it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/manifest/manifest.h"

namespace {

using update::Manifest;
using update::ManifestEntry;
using update::ManifestParse;

const std::string kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";  // SHA-256 of no bytes
const std::string kA(64, 'a');
const std::string kB(64, 'b');

update::Sha256Digest Digest(const std::string& hex) {
  update::Sha256Digest digest;
  EXPECT_TRUE(update::ParseSha256Hex(hex.c_str(), &digest)) << hex;
  return digest;
}

ManifestEntry Entry(bool directory, bool utf8, const std::string& stored, const std::string& name, std::uint64_t size,
                    std::uint32_t crc, const std::string& sha, std::uint64_t offset, std::uint64_t length) {
  ManifestEntry e;
  e.directory = directory;
  e.utf8Name = utf8;
  e.storedName = stored;
  e.name = name;
  e.size = size;
  e.crc = crc;
  e.sha256 = Digest(sha);
  e.spanOffset = offset;
  e.spanLength = length;
  e.spanSha256 = Digest(kB);
  return e;
}

ManifestParse Parse(const std::string& text, std::size_t* line = nullptr, Manifest* out = nullptr) {
  Manifest ignored;
  return update::ParseManifest(text.data(), text.size(), out ? out : &ignored, line);
}

TEST(Manifest, WritesTheFormatAndReadsItBack) {
  Manifest m;
  m.archiveSize = 6000000000ull;  // past 4 GiB
  m.archiveSha256 = Digest(kA);
  m.entries = {
      Entry(true, false, "\xd7\xca\xd4\xb4/", "\xd7\xca\xd4\xb4/", 0, 0, kEmpty, 0, 40),
      // A trail byte of 0x5C, which is "\" in ASCII, and a name ending in one:
      // a file, not a directory.
      Entry(false, false, "\xd7\xca\xd4\xb4/\xb1\x5c", "\xd7\xca\xd4\xb4/\xb1\x5c", 3, 0x0000abcd, kA, 40, 60),
      Entry(false, false, "a b%.txt", "a b%.txt", 5000000000ull, 0xffffffffu, kA, 100, 5000000100ull),
      // Stored in UTF-8 under bit 11; on disk in code page 936.
      Entry(false, true, "\xe6\xb8\xb8\xe6\x88\x8f.txt", "\xd3\xce\xcf\xb7.txt", 1, 1, kA, 5000000200ull, 80),
  };
  const std::string text = update::FormatManifest(m);
  EXPECT_EQ("launcher-manifest 1\n"
            "archive 6000000000 " + kA + "\n"
            "entry d cp936 0 00000000 " + kEmpty + " 0 40 " + kB + " %D7%CA%D4%B4/\n"
            "entry f cp936 3 0000abcd " + kA + " 40 60 " + kB + " %D7%CA%D4%B4/%B1\\\n"
            "entry f cp936 5000000000 ffffffff " + kA + " 100 5000000100 " + kB + " a%20b%25.txt\n"
            "entry f utf8 1 00000001 " + kA + " 5000000200 80 " + kB + " %E6%B8%B8%E6%88%8F.txt\n"
            "end 4\n",
            text);
  Manifest back;
  ASSERT_EQ(ManifestParse::Parsed, Parse(text, nullptr, &back));
  EXPECT_TRUE(back == m);
}

TEST(Manifest, AFileInChunksMakesAVersion2ManifestThatReadsBack) {
  Manifest m;
  m.archiveSize = 100000;
  m.archiveSha256 = Digest(kA);
  ManifestEntry e = Entry(false, false, "big.pak", "big.pak", 3000, 0x12345678, kA, 0, 2000);
  e.dataStart = 37;
  update::ManifestChunk c1;
  c1.length = 1000;
  c1.sha256 = Digest(kA);
  c1.dataLength = 900;
  update::ManifestChunk c2 = c1;
  c2.offset = 1000;
  c2.length = 2000;
  c2.sha256 = Digest(kB);
  c2.dataOffset = 900;
  c2.dataLength = 1000;
  e.chunks = {c1, c2};
  m.entries = {e};
  const std::string text = update::FormatManifest(m);
  EXPECT_EQ("launcher-manifest 2\n"
            "archive 100000 " + kA + "\n"
            "entry f cp936 3000 12345678 " + kA + " 0 2000 " + kB + " big.pak\n"
            "chunks 2 37\n"
            "chunk 0 1000 " + kA + " 0 900\n"
            "chunk 1000 2000 " + kB + " 900 1000\n"
            "end 1\n",
            text);
  Manifest back;
  ASSERT_EQ(ManifestParse::Parsed, Parse(text, nullptr, &back));
  EXPECT_TRUE(back == m);
  EXPECT_EQ(37u + 900u, back.entries[0].ChunkDataAt(back.entries[0].chunks[1]));
}

// A two-entry manifest with one line replaced, or lines added.
struct Lines {
  std::string header = "launcher-manifest 1";
  std::string archive = "archive 1000 " + kA;
  std::vector<std::string> entries = {
      "entry d cp936 0 00000000 " + kEmpty + " 0 40 " + kB + " data/",
      "entry f cp936 5 3610a686 " + kA + " 40 50 " + kB + " data/a.txt",
  };
  std::string end = "end 2";
  std::string after;

  std::string Text() const {
    std::string text = header + "\n" + archive + "\n";
    for (const std::string& e : entries) text += e + "\n";
    return text + end + "\n" + after;
  }
};

std::string WithEntry(const std::string& line) {
  Lines l;
  l.entries[1] = line;
  return l.Text();
}

std::string FileLine(const std::string& fields, const std::string& name) {
  return "entry f " + fields + " " + name;
}

TEST(Manifest, RefusesOnTheLineThatBreaksARule) {
  const std::string file = "cp936 5 3610a686 " + kA + " 40 50 " + kB;  // the second entry's fields before its name
  const std::string roomy = "cp936 5 3610a686 " + kA + " 40 400 " + kB;  // the same with a span long enough for any name
  Lines noEnd;
  noEnd.end.clear();
  Lines unterminated;
  Lines shortCount;
  shortCount.end = "end 3";
  Lines trailing;
  trailing.after = "entry f\n";
  Lines unknown;
  unknown.header = "launcher-manifest 3";
  Lines duplicate;
  // The same name on disk from GBK bytes and from UTF-8 under bit 11.
  duplicate.entries.push_back("entry f cp936 0 00000000 " + kEmpty + " 90 40 " + kB + " %D3%CE.txt");
  duplicate.entries.push_back("entry f utf8 0 00000000 " + kEmpty + " 130 40 " + kB + " %E6%B8%B8.txt");
  duplicate.end = "end 4";
  Lines huge;
  huge.archive = "archive 18446744073709551615 " + kA;
  huge.entries[1] = "entry f cp936 5 3610a686 " + kA + " 18446744073709551515 100 " + kB + " a";
  Lines overflow = huge;
  overflow.entries[1] = "entry f cp936 5 3610a686 " + kA + " 18446744073709551515 18446744073709551615 " + kB + " a";

  // data/a.txt (5 bytes, its data at 40 of its 50-byte span) in two chunks.
  auto chunked = [](std::vector<std::string> lines, const std::string& header = "launcher-manifest 2") {
    Lines l;
    l.header = header;
    l.entries.insert(l.entries.end(), lines.begin(), lines.end());
    return l.Text();
  };
  const std::string two = "chunks 2 40";
  const std::string first = "chunk 0 3 " + kA + " 0 4";
  Lines big;  // a file of 4 MiB + 1 in one chunk
  big.header = "launcher-manifest 2";
  big.archive = "archive 9000000 " + kA;
  big.entries[1] = "entry f cp936 4194305 3610a686 " + kA + " 40 8000000 " + kB + " data/a.txt";
  big.entries.push_back("chunks 1 40");
  big.entries.push_back("chunk 0 4194305 " + kA + " 0 4194305");

  struct Case {
    const char* label;
    std::string text;
    ManifestParse result;
    std::size_t line;
  };
  std::string text = Lines().Text();
  const Case cases[] = {
      {"valid", Lines().Text(), ManifestParse::Parsed, 0},
      {"percent-encoding in lower case", WithEntry(FileLine(file, "%d3%ce.txt")), ManifestParse::Parsed, 0},
      {"a name of 254 bytes", WithEntry(FileLine(roomy, std::string(254, 'n'))), ManifestParse::Parsed, 0},
      {"a span ending at 2^64 - 1", huge.Text(), ManifestParse::Parsed, 0},
      {"over 64 MiB", text + std::string(update::kMaxManifestBytes + 1 - text.size(), '\n'), ManifestParse::TooLarge, 0},
      {"no header", "<html>\n", ManifestParse::BadHeader, 1},
      {"another version", unknown.Text(), ManifestParse::UnknownVersion, 1},
      {"two spaces", WithEntry("entry f cp936  5 3610a686 " + kA + " 40 50 " + kB + " data/a.txt"),
       ManifestParse::Malformed, 4},
      {"upper-case CRC-32", WithEntry("entry f cp936 5 3610A686 " + kA + " 40 50 " + kB + " data/a.txt"),
       ManifestParse::Malformed, 4},
      {"a sign", WithEntry("entry f cp936 +5 3610a686 " + kA + " 40 50 " + kB + " data/a.txt"),
       ManifestParse::Malformed, 4},
      {"a size past 2^64 - 1",
       WithEntry("entry f cp936 18446744073709551616 3610a686 " + kA + " 40 50 " + kB + " data/a.txt"),
       ManifestParse::Malformed, 4},
      {"a stray %", WithEntry(FileLine(file, "data/a%2.txt")), ManifestParse::Malformed, 4},
      {"a raw non-ASCII byte in a name", WithEntry(FileLine(file, "data/\x80.txt")), ManifestParse::Malformed, 4},
      {"a line over 4096 bytes", WithEntry(FileLine(file, std::string(4097, 'n'))), ManifestParse::Malformed, 4},
      {"a span too short for its header and name",
       WithEntry("entry f cp936 5 3610a686 " + kA + " 40 39 " + kB + " data/a.txt"), ManifestParse::Malformed, 4},
      {"a line after the end line", trailing.Text(), ManifestParse::Malformed, 6},
      {"a parent level", WithEntry(FileLine(file, "data/../../a.txt")), ManifestParse::RefusedName, 4},
      {"a NUL byte", WithEntry(FileLine(file, "data/a%00.txt")), ManifestParse::RefusedName, 4},
      {"malformed UTF-8", WithEntry("entry f utf8 " + file.substr(6) + " data/%FF.txt"), ManifestParse::RefusedName, 4},
      {"a name of 255 bytes", WithEntry(FileLine(roomy, std::string(255, 'n'))), ManifestParse::RefusedName, 4},
      {"a file named as a directory", WithEntry(FileLine(file, "data/b/")), ManifestParse::KindMismatch, 4},
      {"a directory not named as one",
       WithEntry("entry d cp936 0 00000000 " + kEmpty + " 40 50 " + kB + " data/b"), ManifestParse::KindMismatch, 4},
      {"a directory with content",
       WithEntry("entry d cp936 0 00000000 " + kA + " 40 50 " + kB + " data/b/"), ManifestParse::KindMismatch, 4},
      {"a span past the archive's end",
       WithEntry("entry f cp936 5 3610a686 " + kA + " 960 50 " + kB + " data/a.txt"),
       ManifestParse::SpanOutsideArchive, 4},
      {"offset and length past 2^64", overflow.Text(), ManifestParse::SpanOutsideArchive, 4},
      {"overlapping spans", WithEntry("entry f cp936 5 3610a686 " + kA + " 39 50 " + kB + " data/a.txt"),
       ManifestParse::SpansOutOfOrder, 4},
      {"the same name twice", duplicate.Text(), ManifestParse::DuplicateName, 6},
      {"no end line", noEnd.Text().substr(0, noEnd.Text().size() - 1), ManifestParse::Truncated, 5},
      {"the last line without its line end", text.substr(0, text.size() - 1), ManifestParse::Truncated, 5},
      {"a wrong count", shortCount.Text(), ManifestParse::Truncated, 5},
      {"chunks", chunked({two, first, "chunk 3 2 " + kA + " 4 6"}), ManifestParse::Parsed, 0},
      {"chunks in a version 1 manifest", chunked({two, first, "chunk 3 2 " + kA + " 4 6"}, "launcher-manifest 1"),
       ManifestParse::ChunksWrong, 5},
      {"chunks of a directory", [] {
         Lines l;
         l.header = "launcher-manifest 2";
         l.entries.insert(l.entries.begin() + 1, "chunks 1 40");
         return l.Text();
       }(), ManifestParse::ChunksWrong, 4},
      {"a chunk line without its chunks line", chunked({first}), ManifestParse::ChunksWrong, 5},
      {"data that starts inside the local header", chunked({"chunks 2 39"}), ManifestParse::ChunksWrong, 5},
      {"a gap between chunks", chunked({two, first, "chunk 4 1 " + kA + " 4 6"}), ManifestParse::ChunksWrong, 7},
      {"a gap in the data", chunked({two, first, "chunk 3 2 " + kA + " 5 5"}), ManifestParse::ChunksWrong, 7},
      {"chunks that end before the file", chunked({two, first, "chunk 3 1 " + kA + " 4 6"}),
       ManifestParse::ChunksWrong, 7},
      {"data past the span", chunked({two, first, "chunk 3 2 " + kA + " 4 7"}), ManifestParse::ChunksWrong, 7},
      {"a chunk over 4 MiB", big.Text(), ManifestParse::ChunksWrong, 6},
      {"fewer chunk lines than announced", chunked({two, first}), ManifestParse::ChunksWrong, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::size_t line = 99;
    Manifest out;
    out.archiveSize = 7;
    EXPECT_EQ(c.result, update::ParseManifest(c.text.data(), c.text.size(), &out, &line));
    EXPECT_EQ(c.line, line);
    if (c.result != ManifestParse::Parsed) {
      EXPECT_EQ(7u, out.archiveSize) << "left alone on a refusal";
    }
  }
}

}  // namespace
