// Small single-purpose owners for the handles, COM pointers, GDI objects and
// streams the launcher opens. Each releases what it owns on every path out and
// can be moved but not copied.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

#include "base/unique_file.h"

namespace base {

// A kernel handle closed with CloseHandle. Both null and INVALID_HANDLE_VALUE
// count as "nothing owned".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : handle_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() { HANDLE h = handle_; handle_ = nullptr; return h; }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) ::CloseHandle(handle_);
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A COM interface pointer released on destruction.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : ptr_(p) {}  // adopts one reference
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) { if (ptr_) ptr_->AddRef(); }
  ComPtr& operator=(const ComPtr& other) {
    if (this != &other) { if (other.ptr_) other.ptr_->AddRef(); Reset(other.ptr_); }
    return *this;
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(other.Detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // For out parameters: releases what is held and hands out the slot.
  T** Put() { Reset(); return &ptr_; }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* Detach() { T* p = ptr_; ptr_ = nullptr; return p; }
  void Reset(T* p = nullptr) {
    if (ptr_) ptr_->Release();
    ptr_ = p;
  }
  template <typename U>
  HRESULT As(ComPtr<U>* out) const {
    if (!ptr_) return E_POINTER;
    return ptr_->QueryInterface(__uuidof(U), out->PutVoid());
  }

 private:
  T* ptr_ = nullptr;
};

// A GDI object (bitmap, brush, font, region) deleted with DeleteObject.
template <typename T>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(T h) : handle_(h) {}
  ~GdiObject() { Reset(); }
  GdiObject(GdiObject&& other) noexcept : handle_(other.Release()) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  T Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  T Release() { T h = handle_; handle_ = nullptr; return h; }
  void Reset(T h = nullptr) {
    if (handle_) ::DeleteObject(handle_);
    handle_ = h;
  }

 private:
  T handle_ = nullptr;
};

// Selects an object into a DC and selects the previous one back on destruction.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? ::SelectObject(dc, object) : nullptr) {}
  ~SelectedObject() { if (dc_ && previous_) ::SelectObject(dc_, previous_); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A memory DC made with CreateCompatibleDC and deleted with DeleteDC.
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatibleWith) : dc_(::CreateCompatibleDC(compatibleWith)) {}
  ~MemoryDC() { if (dc_) ::DeleteDC(dc_); }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_;
};

// The DC of a window (or of the screen, for a null window), from GetDC.
class WindowDC {
 public:
  explicit WindowDC(HWND window = nullptr) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDC() { if (dc_) ::ReleaseDC(window_, dc_); }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};
using ScreenDC = WindowDC;

// BeginPaint / EndPaint around one paint.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = ::BeginPaint(window, &ps_); }
  ~PaintScope() { ::EndPaint(window_, &ps_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};

// A module loaded with LoadLibrary, freed with FreeLibrary.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE m) : module_(m) {}
  ~UniqueModule() { Reset(); }
  UniqueModule(UniqueModule&& other) noexcept : module_(other.module_) { other.module_ = nullptr; }
  UniqueModule& operator=(UniqueModule&& other) noexcept {
    if (this != &other) { Reset(other.module_); other.module_ = nullptr; }
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;

  HMODULE Get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }
  void Reset(HMODULE m = nullptr) {
    if (module_) ::FreeLibrary(module_);
    module_ = m;
  }

 private:
  HMODULE module_ = nullptr;
};

// A directory search from FindFirstFile, ended with FindClose.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : handle_(h) {}
  ~FindHandle() { if (Valid()) ::FindClose(handle_); }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Memory from LocalAlloc (or FormatMessage's allocation), freed with LocalFree.
template <typename T>
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() { if (ptr_) ::LocalFree(ptr_); }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  T Get() const { return ptr_; }
  T* Put() { return &ptr_; }

 private:
  T ptr_ = nullptr;
};

}  // namespace base
