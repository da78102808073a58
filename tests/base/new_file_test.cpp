// A file opened as new: what was at the path is replaced, never kept in part
// or added to, and a file that may not be removed is left as it was.
#include "base/new_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/unique_file.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_dir.h"

namespace {

bool WriteThrough(const std::string& path, const std::string& bytes) {
  base::UniqueFile file(base::OpenNewFile(path.c_str()));
  return file && std::fwrite(bytes.data(), 1, bytes.size(), file.Get()) == bytes.size() && file.Close();
}

TEST(NewFile, ReplacesWhatWasThereAndKeepsAFileThatMayNotBeRemoved) {
  testing_files::ScratchDir dir;
  const std::string path = dir / "a.pak";
  ASSERT_TRUE(WriteThrough(path, "first and longer"));
  ASSERT_TRUE(WriteThrough(path, "second"));
  EXPECT_EQ(testing_files::ReadWholeFile(path), "second");

  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(base::OpenNewFile(path.c_str()), nullptr);
  EXPECT_EQ(testing_files::ReadWholeFile(path), "second");
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_EQ(base::OpenNewFile((dir / "missing\\a.pak").c_str()), nullptr);  // no such folder
}

}  // namespace
