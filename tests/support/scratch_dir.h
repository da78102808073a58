// A fresh directory for one test, removed with everything in it at the end of
// its scope. Windows only (ANSI paths, as the launcher uses them).
#pragma once

#include <initializer_list>
#include <string>

namespace testing_files {

class ScratchDir {
 public:
  ScratchDir();                                    // below the system's temp directory
  explicit ScratchDir(const std::string& parent);  // below `parent`
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  std::string Name() const;  // the last level only
  // Creates Path()\e1\e2... one element at a time (elements may hold GBK
  // characters whose trail byte is 0x5C, so no element is split at a "\")
  // and returns its path.
  std::string MakeDirs(std::initializer_list<std::string> elements) const;

 private:
  void Create(const std::string& parent);
  std::string path_;
};

}  // namespace testing_files
