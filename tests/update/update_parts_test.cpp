// The download log, the transfer against nginx and the fixture server, and
// the archive installation, each in a scratch current directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "base/progress_targets.h"
#include "tests/update/test_support.h"
#include "update/install/archive_install.h"
#include "update/install/directory_tree.h"
#include "update/download_log.h"
#include "update/download_log_testing.h"
#include "update/transfer/http_download.h"
#include "update/transfer/range_fetch.h"

namespace {

using namespace testing_update;

class InScratch : public ::testing::Test {
 protected:
  void SetUp() override {
    ::GetCurrentDirectoryA(sizeof previous_, previous_);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir_.Path().c_str()));
    update::ResetDownloadLogForTesting();
  }
  void TearDown() override {
    ::SetCurrentDirectoryA(previous_);
    update::ResetDownloadLogForTesting();
  }
  std::string Log() const { return ReadWholeFile(dir_ / "download.log"); }

  ScratchDir dir_;
  char previous_[MAX_PATH] = {};
};

// ---- download log ---------------------------------------------------------

using DownloadLog = InScratch;

TEST_F(DownloadLog, FirstTextOfARunEmptiesTheFileThenTextsAppend) {
  ASSERT_TRUE(WriteWholeFile(dir_ / "download.log", "previous run\n"));
  update::ResetDownloadLogForTesting();
  EXPECT_EQ("previous run\n", Log());  // no text yet: the old log stays
  update::WriteLog("Failed to start game. error=(%d)\n", 2);
  update::WriteLog("Successfully started the game.");
  EXPECT_EQ("Failed to start game. error=(2)\nSuccessfully started the game.", Log());
}

TEST_F(DownloadLog, BodiesAreLiteralAndLongTextsAreCut) {
  const std::string body = "404 Not Found %s %d %n %%";
  update::WriteLogText(body.data(), body.size());
  update::WriteLog("%s", std::string(3000, 'x').c_str());
  EXPECT_EQ(body + std::string(1023, 'x'), Log());
}

TEST_F(DownloadLog, PathIsFixedByTheFirstText) {
  update::WriteLog("one\n");
  ScratchDir other;
  ASSERT_TRUE(::SetCurrentDirectoryA(other.Path().c_str()));
  update::WriteLog("two\n");
  EXPECT_EQ("one\ntwo\n", Log());
  EXPECT_FALSE(Exists(other / "download.log"));
}

// ---- HTTP download --------------------------------------------------------

struct TransferCase {
  const char* label;
  std::string url;
  bool ok;
  std::string file;         // expected file content ("*" = not checked)
  std::string logPrefix;    // the log starts with this ...
  std::string logSuffix;    // ... and ends with this
};

using Download = InScratch;

TEST_F(Download, OutcomesOfRealServers) {
  ServedDir served;
  const std::string payload(200000, 'p');
  ASSERT_TRUE(WriteWholeFile(served / "file.bin", payload));
  const std::string missing = HttpUrl(served.UrlPath("missing.bin"));
  const std::string curlOk = "CURLcode=No error\n";
  const std::vector<TransferCase> cases = {
      {"nginx 200", HttpUrl(served.UrlPath("file.bin")), true, payload, "", ""},
      {"https self-signed", HttpsUrl(served.UrlPath("file.bin")), true, payload, "", ""},
      {"nginx 404 page", missing, false, "*", "<html>", "curl (" + missing + ") error. " + curlOk},
      {"200 holding the text", FixtureUrl("/fake404"), false, "<p>404 Not Found</p> with status 200",
       "<p>404 Not Found</p> with status 200curl (", curlOk},
      {"404 with percent signs", FixtureUrl("/percent404"), false, "*", "404 Not Found %s %d %n %%curl (", curlOk},
      {"empty 404", FixtureUrl("/empty404"), true, "", "", ""},
      {"500 page", FixtureUrl("/error500"), true, "<h1>500 Internal Server Error</h1>", "", ""},
      {"302 not followed", FixtureUrl("/redirect"), true, "moved to another place", "", ""},
      {"text in a later piece", FixtureUrl("/late404"), true, std::string(100, 'a') + " 404 Not Found", "", ""},
      {"connection dropped", FixtureUrl("/drop"), false, "*", "curl (", "CURLcode=Transferred a partial file\n"},
      {"nothing listens", "http://127.0.0.1:1/x", false, "", "curl (http://127.0.0.1:1/x) error. CURLcode=",
       "Couldn't connect to server\n"},
  };
  for (const TransferCase& c : cases) {
    SCOPED_TRACE(c.label);
    update::ResetDownloadLogForTesting();
    const std::string target = dir_ / "out.bin";
    EXPECT_EQ(c.ok, update::DownloadFile(target.c_str(), c.url.c_str()));
    if (c.file != "*") {
      const std::string got = ReadWholeFile(target);
      EXPECT_TRUE(c.file == got) << "expected " << c.file.size() << " bytes, got " << got.size() << ": "
                                 << got.substr(0, 200);
    }
    const std::string log = Exists(dir_ / "download.log") ? Log() : "";
    if (c.ok) {
      EXPECT_EQ("", log);
    } else {
      EXPECT_EQ(0u, log.rfind(c.logPrefix, 0)) << log;
      ASSERT_GE(log.size(), c.logSuffix.size());
      EXPECT_EQ(c.logSuffix, log.substr(log.size() - c.logSuffix.size())) << log;
    }
    ::DeleteFileA((dir_ / "download.log").c_str());
  }
}

TEST_F(Download, NotFoundPageIsLoggedBeforeTheErrorLineAndKeptInTheFile) {
  const std::string url = HttpUrl("/no-such-file.cfg?123");
  EXPECT_FALSE(update::DownloadFile((dir_ / "version.cfg").c_str(), url.c_str()));
  const std::string page = ReadWholeFile(dir_ / "version.cfg");
  EXPECT_NE(std::string::npos, page.find("404 Not Found"));
  EXPECT_EQ(page + "curl (" + url + ") error. CURLcode=No error\n", Log());
}

TEST_F(Download, ProgressReachesAllOrStaysLowestWithoutLength) {
  ServedDir served;
  ASSERT_TRUE(WriteWholeFile(served / "big.bin", std::string(300000, 'b')));
  progress::ProgressTargets targets;
  EXPECT_TRUE(update::DownloadFile((dir_ / "a").c_str(), HttpUrl(served.UrlPath("big.bin")).c_str(), &targets));
  EXPECT_EQ(100, targets.upperTarget.load());
  EXPECT_TRUE(update::DownloadFile((dir_ / "b").c_str(), FixtureUrl("/nolength?size=300000").c_str(), &targets));
  EXPECT_EQ(INT32_MIN, targets.upperTarget.load());  // shown as 0 %
  EXPECT_EQ(300000u, ReadWholeFile(dir_ / "b").size());
}

TEST_F(Download, StalledOrSilentServersEndWithinTheLimits) {
  update::TransferLimits limits;
  limits.connectTimeoutSeconds = 2;
  limits.lowSpeedSeconds = 2;
  for (const char* path : {"/stall", "/silent"}) {
    SCOPED_TRACE(path);
    update::ResetDownloadLogForTesting();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(update::DownloadFile((dir_ / "s").c_str(), FixtureUrl(path).c_str(), nullptr, limits));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("CURLcode=Timeout was reached\n")) << log;
  }
}

// Ranges of one file, one request after another on one connection; only
// the exact range asked for reaches the sink.
TEST_F(Download, RangesAreTakenOnlyAsTheExactBytesAskedFor) {
  ServedDir served;
  std::string payload(300000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_TRUE(WriteWholeFile(served / "archive.bin", payload));
  struct Collect : update::BodyObserver {
    std::string bytes;
    std::size_t limit = std::string::npos;
    bool OnBody(const char* data, std::size_t size) override {
      bytes.append(data, size);
      return bytes.size() <= limit;
    }
  };
  const std::string url = HttpUrl(served.UrlPath("archive.bin"));
  update::RangeFetcher fetcher(url.c_str(), payload.size(), update::TransferLimits{});
  struct Span {
    std::uint64_t offset, length;
  } const spans[] = {{0, 1}, {1000, 70000}, {299990, 10}, {5, 200000}};
  for (const Span& span : spans) {
    Collect sink;
    ASSERT_EQ(update::RangeResult::Received, fetcher.Fetch(span.offset, span.length, &sink)) << span.offset;
    EXPECT_EQ(payload.substr(span.offset, span.length), sink.bytes) << span.offset;
  }
  struct Refusal {
    const char* label;
    std::string url;
    std::uint64_t fileSize;
    update::RangeResult result;
  } const refusals[] = {
      {"a server that ignores ranges", HttpUrl("/noranges" + served.UrlPath("archive.bin")), payload.size(),
       update::RangeResult::Ignored},
      {"another file's length", url, payload.size() + 1, update::RangeResult::OtherRange},
      {"no such file", HttpUrl(served.UrlPath("missing.bin")), payload.size(), update::RangeResult::OtherRange},
  };
  for (const Refusal& r : refusals) {
    update::RangeFetcher other(r.url.c_str(), r.fileSize, update::TransferLimits{});
    Collect sink;
    EXPECT_EQ(r.result, other.Fetch(100, 50, &sink)) << r.label;
    EXPECT_EQ("", sink.bytes) << r.label;
  }
  Collect stopping;
  stopping.limit = 0;
  EXPECT_EQ(update::RangeResult::Stopped, fetcher.Fetch(0, 100000, &stopping));
  EXPECT_EQ("", Log()) << "refused answers are the caller's to log";
}

TEST_F(Download, LocalFileThatCannotBeOpenedFailsWithALine) {
  const std::string target = dir_ / "no-dir\\x.bin";
  EXPECT_FALSE(update::DownloadFile(target.c_str(), HttpUrl("/").c_str()));
  EXPECT_EQ("Failed to open " + target + "\n", Log());
}

// ---- archive installation -------------------------------------------------

constexpr std::uint32_t kDir = 0x10;
constexpr std::uint32_t kArchiveBit = 0x20;
constexpr std::uint32_t UnixDir() { return (040755u << 16) | kDir; }
constexpr std::uint32_t UnixFile() { return 0100644u << 16; }

const char kGbkDir[] = "\xd7\xca\xd4\xb4";          // 资源
const char kGbkFile[] = "\x81\x5c.txt";             // 乗.txt: its second byte is the "\" byte

struct InstallCase {
  const char* label;
  std::vector<ZipEntry> entries;
  bool ok;
  std::vector<std::pair<std::string, std::string>> files;  // path below Game, content
  std::vector<std::string> directories;                      // below Game
};

class Install : public InScratch {
 protected:
  std::string Game() const { return dir_ / "Game"; }
  std::string Archive() const { return dir_ / "ClientContent"; }
  bool Run(progress::ProgressTargets* targets = nullptr) {
    return update::InstallArchive(Game().c_str(), Archive().c_str(), targets);
  }
  void SetUp() override {
    InScratch::SetUp();
    ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
  }
};

TEST_F(Install, EntryKindsAndLevels) {
  const std::string gbkPath = std::string(kGbkDir) + "\\" + kGbkFile;
  const std::vector<InstallCase> cases = {
      {"empty archive", {}, true, {}, {}},
      {"directory with attributes 16", {{"data/", "", kDir}, {"data/a.pak", "A", 0}}, true, {{"data\\a.pak", "A"}}, {"data"}},
      {"directory with the archive bit", {{"arc/", "", kDir | kArchiveBit}, {"arc/f.bin", "F", kArchiveBit}}, true,
       {{"arc\\f.bin", "F"}}, {"arc"}},
      {"Unix modes", {{"tools/", "", UnixDir()}, {"tools/run.sh", "#!", UnixFile()}}, true, {{"tools\\run.sh", "#!"}}, {"tools"}},
      {"directory bit without separator", {{"plain", "", kDir}}, true, {}, {"plain"}},
      {"directory named with a dot", {{"pack.new/", "", kDir}}, true, {}, {"pack.new"}},
      {"nested levels made by a file", {{"a/b/c/d.txt", "D", 0}}, true, {{"a\\b\\c\\d.txt", "D"}}, {"a\\b\\c"}},
      {"names without extension", {{"bin/readme", "R", 0}, {"LICENSE", "L", 0}}, true,
       {{"bin\\readme", "R"}, {"LICENSE", "L"}}, {"bin"}},
      {"GBK names", {{std::string(kGbkDir) + "/", "", kDir}, {std::string(kGbkDir) + "/" + kGbkFile, "G", 0}}, true,
       {{gbkPath, "G"}}, {kGbkDir}},
      {"dotted and doubled separators", {{"./x//y.txt", "Y", 0}}, true, {{"x\\y.txt", "Y"}}, {"x"}},
  };
  for (const InstallCase& c : cases) {
    SCOPED_TRACE(c.label);
    RemoveTree(Game());
    ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
    ASSERT_TRUE(WriteZip(Archive(), c.entries));
    EXPECT_EQ(c.ok, Run());
    for (const auto& file : c.files) EXPECT_EQ(file.second, ReadWholeFile(Game() + "\\" + file.first)) << file.first;
    for (const auto& d : c.directories) EXPECT_TRUE(IsDirectory(Game() + "\\" + d)) << d;
  }
}

TEST_F(Install, ReplacesNamedFilesAndLeavesOthers) {
  ASSERT_TRUE(WriteWholeFile(Game() + "\\keep.txt", "mine"));
  ASSERT_TRUE(WriteWholeFile(Game() + "\\new.txt", "old"));
  ASSERT_TRUE(WriteZip(Archive(), {{"new.txt", "new", 0}}));
  EXPECT_TRUE(Run());
  EXPECT_EQ("mine", ReadWholeFile(Game() + "\\keep.txt"));
  EXPECT_EQ("new", ReadWholeFile(Game() + "\\new.txt"));
}

TEST_F(Install, ProgressIsTheShareOfEntriesStarted) {
  progress::ProgressTargets targets;
  ASSERT_TRUE(WriteZip(Archive(), {{"1", "", 0}, {"2", "", 0}, {"3", "", 0}, {"4", "", 0}}));
  EXPECT_TRUE(Run(&targets));
  EXPECT_EQ(75, targets.upperTarget.load());
}

TEST_F(Install, BrokenArchivesAndEntriesFail) {
  struct Case { const char* label; std::vector<ZipEntry> entries; const char* corruptAfter; bool truncate; std::string log; };
  const std::string archive = Archive();
  const std::vector<Case> cases = {
      {"stored data with a bad CRC", {{"ok.txt", "fine", 0}, {"bad.bin", std::string(4000, 'q'), 0, true}}, "bad.bin", false,
       "Failed to extract bad.bin\n"},
      {"deflated data that does not inflate", {{"bad.bin", std::string(50000, 'r'), 0}}, "bad.bin", false,
       "Failed to extract bad.bin\n"},
      // Past the size read whole, entries stream from their raw data.
      {"large stored data with a bad CRC", {{"ok.txt", "fine", 0}, {"big.bin", std::string(3u << 20, 'q'), 0, true}},
       "big.bin", false, "Failed to extract big.bin\n"},
      {"large deflated data that does not inflate", {{"big.bin", std::string(5u << 20, 'r'), 0}}, "big.bin", false,
       "Failed to extract big.bin\n"},
      {"truncated archive", {{"a.bin", std::string(50000, 's'), 0, true}}, nullptr, true,
       "Failed to open " + archive + "\n"},
      {"not an archive at all", {}, nullptr, false, "Failed to open " + archive + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    update::ResetDownloadLogForTesting();
    if (c.entries.empty()) {
      ASSERT_TRUE(WriteWholeFile(archive, "<html>not a zip</html>"));
    } else {
      ASSERT_TRUE(WriteZip(archive, c.entries));
    }
    if (c.corruptAfter) {
      ASSERT_TRUE(CorruptAfter(archive, c.corruptAfter));
    }
    if (c.truncate) {
      const std::string bytes = ReadWholeFile(archive);
      ASSERT_TRUE(WriteWholeFile(archive, bytes.substr(0, bytes.size() / 2)));
    }
    EXPECT_FALSE(Run());
    EXPECT_EQ(c.log, Log());
  }
}

// Sets the uncompressed size that both headers of the entry `name` declare.
bool DeclareUncompressedSize(const std::string& path, const std::string& name, std::uint32_t size) {
  std::string bytes = ReadWholeFile(path);
  int patched = 0;
  // Local header: size at 22, name at 30; central header: size at 24, name at 46.
  const struct { const char* signature; std::size_t sizeAt; std::size_t nameAt; } headers[] = {
      {"PK\x03\x04", 22, 30}, {"PK\x01\x02", 24, 46}};
  for (const auto& h : headers) {
    for (std::size_t at = bytes.find(h.signature); at != std::string::npos; at = bytes.find(h.signature, at + 4)) {
      if (bytes.compare(at + h.nameAt, name.size(), name) != 0) continue;
      for (int i = 0; i < 4; ++i) bytes[at + h.sizeAt + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
      ++patched;
    }
  }
  return patched == 2 && WriteWholeFile(path, bytes);
}

// Entries past the size read whole stream from their raw data through the
// copy buffer: stored, deflated text and deflated noise (deflate's stored
// blocks), across many pieces of the buffer, come out exactly.
TEST_F(Install, LargeEntriesStreamExactly) {
  std::string noise(3u << 20, '\0'), text;
  std::uint32_t state = 77;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  while (text.size() < (5u << 20) + 12345) text += "texture model sound level " + std::to_string(text.size() % 977) + "\n";
  const std::vector<ZipEntry> entries = {{"a/noise.bin", noise, 0}, {"a/text.txt", text, 0},
                                         {"b/stored.bin", noise.substr(1000, (2u << 20) + 3), 0, true}};
  ASSERT_TRUE(WriteZip(Archive(), entries));
  ASSERT_TRUE(Run());
  for (const ZipEntry& e : entries) EXPECT_TRUE(ReadWholeFile(Game() + "\\" + e.name) == e.data) << e.name;
  EXPECT_EQ("", Log());
}

TEST_F(Install, EntryDataEndingBeforeItsDeclaredSizeFails) {
  // The data ends early, so the CRC of the whole entry is never checked by the
  // reader: the short, damaged data must still not pass as installed.
  // Small entries are read whole, large ones streamed.
  for (const std::uint32_t size : {4000u, 3u << 20})
    for (bool stored : {true, false}) {
      SCOPED_TRACE(std::string(stored ? "stored " : "deflated ") + std::to_string(size));
      update::ResetDownloadLogForTesting();
      ASSERT_TRUE(WriteZip(Archive(), {{"short.bin", std::string(size, 'q'), 0, stored}}));
      if (stored) {
        ASSERT_TRUE(CorruptAfter(Archive(), "short.bin"));
      }
      ASSERT_TRUE(DeclareUncompressedSize(Archive(), "short.bin", size + 1000));
      EXPECT_FALSE(Run());
      EXPECT_EQ("Failed to extract short.bin\n", Log());
    }
}

TEST_F(Install, NamesReachingOutsideFailBeforeAnythingIsWritten) {
  const char* corpus[] = {"../x", "..\\x", "/x", "\\x", "C:x", "C:\\x", "a/../../x", "x:stream", "a/.. /x"};
  for (const char* name : corpus) {
    SCOPED_TRACE(name);
    update::ResetDownloadLogForTesting();
    ASSERT_TRUE(WriteZip(Archive(), {{"first.txt", "1", 0}, {name, "escaped", 0}}));
    EXPECT_FALSE(Run());
    EXPECT_EQ(std::string("Refused archive entry (") + name + ")\n", Log());
    EXPECT_FALSE(Exists(Game() + "\\first.txt"));
    EXPECT_FALSE(Exists(dir_ / "x"));
    EXPECT_FALSE(Exists(Game() + "\\x"));
  }
}

TEST_F(Install, FileThatCannotBeCreatedFailsAndBlockedDirectoryIsPassedOver) {
  ASSERT_TRUE(::CreateDirectoryA((Game() + "\\taken").c_str(), nullptr));
  ASSERT_TRUE(WriteZip(Archive(), {{"taken", "data", 0}}));
  EXPECT_FALSE(Run());
  EXPECT_EQ("Failed to extract taken\n", Log());

  ASSERT_TRUE(WriteWholeFile(Game() + "\\file", "x"));
  ASSERT_TRUE(WriteZip(Archive(), {{"file/sub/", "", kDir}, {"after.txt", "after", 0}}));
  update::ResetDownloadLogForTesting();
  EXPECT_TRUE(Run());
  EXPECT_EQ("Failed to CreateDirectory(" + Game() + "/file/sub/)\n", Log());
  EXPECT_EQ("after", ReadWholeFile(Game() + "\\after.txt"));
}

// The folders of an archive whose entries go from folder to folder in turn
// are each looked at once: a folder the cache knows costs no call, however
// many other folders came between (one gone meanwhile is then not made
// again, which shows that nothing looked).
TEST_F(InScratch, KnownFoldersCostNoCallWhateverCameBetween) {
  update::DirectoryCache cache;
  const std::string a = dir_ / "a", b = dir_ / "b";
  ASSERT_TRUE(update::CreateDirectoryTree((a + "\\sub\\one.dat").c_str(), update::LastLevel::FileName, &cache));
  ASSERT_TRUE(update::CreateDirectoryTree((b + "\\sub\\two.dat").c_str(), update::LastLevel::FileName, &cache));
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, ::GetFileAttributesA((b + "\\sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_TRUE(::RemoveDirectoryA((a + "\\sub").c_str()));
  EXPECT_TRUE(update::CreateDirectoryTree((a + "\\sub\\three.dat").c_str(), update::LastLevel::FileName, &cache));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((a + "\\sub").c_str()));
  // Without the cache the same call looks, and makes the folder again.
  EXPECT_TRUE(update::CreateDirectoryTree((a + "\\sub\\three.dat").c_str(), update::LastLevel::FileName, nullptr));
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, ::GetFileAttributesA((a + "\\sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
