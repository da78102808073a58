// Helpers the update tests share: the loopback servers' addresses, scratch
// directories, whole-file reads and writes, and ZIP archives made on the spot.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/guards.h"
#include "tests/support/file_tree.h"

namespace testing_update {

// An environment variable that scripts/test-servers exports; the test fails
// (not skips) when the servers are not running.
std::string ServerEnv(const char* name);
std::string HttpUrl(const std::string& path);     // nginx, plain HTTP
std::string HttpsUrl(const std::string& path);    // nginx, self-signed certificate
std::string FixtureUrl(const std::string& path);  // tests/update/fixture_server.py

// The status and byte count of every request for `urlPath` in nginx's access
// log, in order.
std::vector<std::pair<int, long long>> ServedRequests(const std::string& urlPath);

// The SHA-256 of `bytes` in lower-case hex, as a descriptor's Sha256 gives it.
std::string Sha256Hex(const std::string& bytes);

// Another process (test_file_holder, at `holderProgram`) holding `path` open
// without sharing, as a running game holds its files, until Release() or the
// end of its scope. Holding() says whether it got the file open in time.
class FileHeldElsewhere {
 public:
  FileHeldElsewhere(const std::string& holderProgram, const std::string& path, const std::string& readyMarker);
  ~FileHeldElsewhere() { Release(); }
  FileHeldElsewhere(const FileHeldElsewhere&) = delete;
  FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;
  bool Holding() const { return holding_; }
  void Release();

 private:
  base::UniqueHandle process_;
  bool holding_ = false;
};

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir();                         // below the system's temp directory
  explicit ScratchDir(const std::string& parent);  // below `parent`
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  std::string Name() const;  // the last level only

 private:
  void Create(const std::string& parent);
  std::string path_;
};

// A scratch directory inside nginx's docroot, and its URL path ("/<name>/").
class ServedDir : public ScratchDir {
 public:
  ServedDir();
  std::string UrlPath(const std::string& file) const { return "/" + Name() + "/" + file; }
};

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
std::string ReadWholeFile(const std::string& path);  // "" when missing
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// The bytes of `path` once it can be read and is not empty, or "" after `ms`.
std::string WaitForFile(const std::string& path, int ms);
using testing_files::RemoveTree;  // removes a directory and everything below it

struct ZipEntry {
  std::string name;
  std::string data;
  std::uint32_t attributes = 0;  // external attributes
  bool stored = false;           // no compression
  std::uint16_t flags = 0;       // general-purpose bits beside those the writer sets (bit 11: UTF-8 name)
  std::string extra = {};        // extra field blocks, in the local and the central header alike
};
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// The text after the first occurrence of `marker` in `bytes` is changed,
// keeping the length.
bool CorruptAfter(const std::string& path, const std::string& marker);

}  // namespace testing_update
