// The one guard that needs no windows.h: a C stream closed with fclose. The
// window-free cores (the client verification) use it natively too, and
// base/guards.h offers it beside the Win32 guards.
#pragma once

#include <cstdio>

namespace base {

// A C stream closed with fclose.
class UniqueFile {
 public:
  UniqueFile() = default;
  explicit UniqueFile(FILE* f) : file_(f) {}
  ~UniqueFile() { Reset(); }
  UniqueFile(UniqueFile&& other) noexcept : file_(other.file_) { other.file_ = nullptr; }
  UniqueFile& operator=(UniqueFile&& other) noexcept {
    if (this != &other) { Reset(other.file_); other.file_ = nullptr; }
    return *this;
  }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;

  FILE* Get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // Closes now and reports whether every buffered byte reached the file.
  bool Close() {
    if (!file_) return false;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }
  void Reset(FILE* f = nullptr) {
    if (file_) std::fclose(file_);
    file_ = f;
  }

 private:
  FILE* file_ = nullptr;
};

}  // namespace base
