// A BSTR owned for one scope (SysAllocString / SysFreeString).
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace web {

class ScopedBstr {
 public:
  explicit ScopedBstr(const wchar_t* text) : bstr_(::SysAllocString(text)) {}
  ~ScopedBstr() { ::SysFreeString(bstr_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR Get() const { return bstr_; }

 private:
  BSTR bstr_;
};

}  // namespace web
