#include "update/directory_levels.h"

#include <cctype>
#include <cstring>

#include "update/dbcs.h"

namespace update {

namespace {

class Writer {
 public:
  explicit Writer(DirectoryLevels* out) : out_(out) {}
  bool Put(const char* text, std::size_t length) {
    if (used_ + length > kPathSize - 1) return (ok_ = false);  // each level must fit MAX_PATH
    std::memcpy(out_->path + used_, text, length);
    used_ += length;
    out_->path[used_] = '\0';
    return true;
  }
  // A level that ends in a lone lead byte is refused: the "\\" written after
  // it would become that byte's trail, joining the level to the next one.
  bool PutSeparator() {
    bool loneLead = false;
    for (std::size_t i = 0; i < used_; i += CharLength(out_->path + i)) {
      const unsigned char c = static_cast<unsigned char>(out_->path[i]);
      loneLead = (c >= 0x81 && c <= 0xFE && CharLength(out_->path + i) == 1);
    }
    if (loneLead) return (ok_ = false);
    return Put("\\", 1);
  }
  std::size_t Used() const { return used_; }
  bool Ok() const { return ok_; }

 private:
  DirectoryLevels* out_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

const char* SkipSeparators(const char* p) {
  while (IsSeparator(*p)) ++p;
  return p;
}

// End of the level that starts at p (the next separator or the terminator).
const char* LevelEnd(const char* p) {
  while (*p != '\0' && !(CharLength(p) == 1 && IsSeparator(*p))) p += CharLength(p);
  return p;
}

// Copies the root of `path` and returns where the levels begin.
const char* WriteRoot(const char* path, Writer* writer) {
  if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    // Network path: "\\server\share\" stays as the root.
    writer->Put("\\\\", 2);
    const char* p = path + 2;
    for (int part = 0; part < 2 && *p != '\0'; ++part) {
      const char* end = LevelEnd(p);
      writer->Put(p, static_cast<std::size_t>(end - p));
      writer->PutSeparator();
      p = SkipSeparators(end);
    }
    return p;
  }
  if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    writer->Put(path, 2);
    if (!IsSeparator(path[2])) return path + 2;  // drive-relative: "C:name"
    writer->PutSeparator();
    return SkipSeparators(path + 2);
  }
  if (IsSeparator(path[0])) {
    writer->PutSeparator();
    return SkipSeparators(path);
  }
  return path;
}

}  // namespace

bool ListDirectoryLevels(const char* path, LastLevel last, DirectoryLevels* out) {
  std::memset(out, 0, sizeof *out);
  if (path == nullptr) return false;
  Writer writer(out);
  const char* p = WriteRoot(path, &writer);
  out->rootLength = writer.Used();
  while (*p != '\0') {
    const char* end = LevelEnd(p);
    const std::size_t length = static_cast<std::size_t>(end - p);
    p = SkipSeparators(end);
    const bool isLast = (*p == '\0');
    if (isLast && last == LastLevel::FileName) break;
    if (length == 1 && end[-1] == '.') continue;  // "." adds no level
    if (!writer.Put(end - length, length) || !writer.PutSeparator()) break;
    out->levelEnds[out->count++] = writer.Used();
  }
  if (!writer.Ok()) {
    std::memset(out, 0, sizeof *out);
    return false;
  }
  return true;
}

}  // namespace update
