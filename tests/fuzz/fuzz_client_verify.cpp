// The client verification over any archive bytes: minizip reads the central
// directory, the verifier checks names and compares files below a small
// client folder. Whatever the input, it must end, read only inside the
// folder, report consistent counts and leave the folder's files as they were.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/verify/client_verify.h"

namespace {

std::string Scratch() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/fuzz_client_verify_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    FUZZ_CHECK(made != nullptr);
    const std::string root = made;
    FUZZ_CHECK(::mkdir((root + "/Game").c_str(), 0700) == 0);
    FILE* f = std::fopen((root + "/Game/a.txt").c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    std::fputs("abc", f);
    std::fclose(f);
    return root;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string root = Scratch();
  const std::string archive = root + "/ClientContent";
  FILE* f = std::fopen(archive.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  if (size > 0) FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);

  std::uint64_t lastDone = 0;
  std::uint64_t total = 0;
  bool called = false;
  const update::VerifyReport report =
      update::VerifyClient((root + "/Game").c_str(), archive.c_str(), [&](std::uint64_t done, std::uint64_t all) {
        FUZZ_CHECK(!called || all == total);
        FUZZ_CHECK(done >= lastDone && done <= all);
        called = true;
        lastDone = done;
        total = all;
      });
  if (report.outcome == update::VerifyOutcome::Verified) {
    FUZZ_CHECK(report.damaged.size() <= report.filesChecked);
    FUZZ_CHECK(report.bytesRead <= total);
    FUZZ_CHECK(lastDone == total);
  } else {
    FUZZ_CHECK(report.damaged.empty() && report.filesChecked == 0 && report.bytesRead == 0);
    if (report.outcome == update::VerifyOutcome::ArchiveUnreadable) FUZZ_CHECK(report.refusedName.empty());
  }
  FILE* kept = std::fopen((root + "/Game/a.txt").c_str(), "rb");
  FUZZ_CHECK(kept != nullptr);
  char text[8] = {};
  FUZZ_CHECK(std::fread(text, 1, sizeof text, kept) == 3 && std::string(text) == "abc");
  std::fclose(kept);
  return 0;
}
