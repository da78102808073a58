// Helpers the update tests share: the loopback servers' addresses, a scratch
// directory nginx serves, another process holding a file, and (from
// tests/support) scratch directories, whole-file reads and writes, and ZIP
// archives made on the spot.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/guards.h"
#include "tests/support/file_bytes.h"
#include "tests/support/file_tree.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/zip_fixture.h"

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

// The same requests with what the log adds (scripts/test-servers): the
// connection that served each, its how-manieth request on that connection,
// and when it began and ended (seconds, nginx's clock).
struct ServedRequest {
  int status = 0;
  long long bytes = 0;
  long long connection = 0;
  int onConnection = 0;
  double began = 0;
  double ended = 0;
};
std::vector<ServedRequest> ServedRequestsWithConnections(const std::string& urlPath);
// How many of `requests` were being served at once, at most.
int MostAtOnce(const std::vector<ServedRequest>& requests);

// The SHA-256 of `bytes` in lower-case hex, as a descriptor's Sha256 gives it.
using testing_files::Sha256Hex;

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

using testing_files::ScratchDir;  // a fresh directory, removed with everything in it at the end

// A scratch directory inside nginx's docroot, and its URL path ("/<name>/").
class ServedDir : public ScratchDir {
 public:
  ServedDir();
  std::string UrlPath(const std::string& file) const { return "/" + Name() + "/" + file; }
};

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
using testing_files::ReadWholeFile;  // "" when missing
using testing_files::WriteWholeFile;
// The bytes of `path` once it can be read and is not empty, or "" after `ms`.
std::string WaitForFile(const std::string& path, int ms);
using testing_files::RemoveTree;  // removes a directory and everything below it

using testing_zip::WriteZip;
using testing_zip::ZipEntry;

// The text after the first occurrence of `marker` in `bytes` is changed,
// keeping the length.
bool CorruptAfter(const std::string& path, const std::string& marker);

// Waits up to `graceMs` for every process whose program lies below `folder`
// (a game a run started) to end, then ends those still running. Such a
// process holds its program's file, and under Wine one whose starter was
// killed while it was being created can wait for ever, holding the test's
// output pipe too.
void EndProcessesBelow(const std::string& folder, DWORD graceMs);

}  // namespace testing_update
