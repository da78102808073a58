#include "update/install/code_page_936.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace update {

namespace {

// Owns one conversion descriptor.
class Converter {
 public:
  Converter() : cd_(iconv_open("CP936", "UTF-8")) {
    if (cd_ == kInvalid) cd_ = iconv_open("GBK", "UTF-8");
  }
  ~Converter() {
    if (cd_ != kInvalid) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != kInvalid; }
  iconv_t get() const { return cd_; }

 private:
  static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
  iconv_t cd_;
};

}  // namespace

bool Utf8ToCodePage936(std::string_view utf8, std::string* out) {
  out->clear();
  if (utf8.empty()) return true;
  Converter converter;
  if (!converter.ok()) return false;
  // A GBK character never takes more bytes than its UTF-8 form.
  std::vector<char> converted(utf8.size() + 1);
  std::vector<char> in(utf8.begin(), utf8.end());
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = converted.data();
  size_t outLeft = converted.size();
  // Any irreversible or failed conversion refuses the whole name.
  size_t result = iconv(converter.get(), &inPtr, &inLeft, &outPtr, &outLeft);
  if (result == static_cast<size_t>(-1) || result != 0 || inLeft != 0) return false;
  out->assign(converted.data(), converted.size() - outLeft);
  return true;
}

}  // namespace update
