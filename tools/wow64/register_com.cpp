// Makes the 32-bit COM registrations that a WoW64 prefix lacks when the
// 32-bit half of its set-up never ran: each system DLL the launcher's COM
// classes depend on is loaded in this process and its DllRegisterServer
// called. Without them the 32-bit imaging components are not found, so GDI+
// decodes no PNG, and the browser control and JScript cannot be created.
//
//   register_com [--check-png FILE]
//
// With --check-png, FILE is decoded through GDI+ before and after the
// registrations, and the program fails unless it decodes afterwards.
// Prints one line per step; exit code 0 when every step succeeded.
#include <windows.h>
#include <gdiplus.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/guards.h"

namespace {

// In the order their registrations build on each other: the proxies and type
// libraries of OLE and automation first, the browser and script engines last.
const char* const kDlls[] = {"ole32.dll",   "oleaut32.dll", "actxprxy.dll",
                             "windowscodecs.dll", "ieframe.dll", "shdocvw.dll",
                             "jscript.dll", "mshtml.dll",   "urlmon.dll"};

using RegisterServer = HRESULT(STDAPICALLTYPE*)();

bool Register(const char* dll) {
  base::UniqueModule module(::LoadLibraryA(dll));
  if (!module) {
    std::printf("%s: not loaded (error %lu)\n", dll, ::GetLastError());
    return false;
  }
  const auto entry =
      reinterpret_cast<RegisterServer>(::GetProcAddress(module.Get(), "DllRegisterServer"));
  if (!entry) {
    std::printf("%s: no DllRegisterServer\n", dll);
    return false;
  }
  const HRESULT result = entry();
  std::printf("%s: DllRegisterServer 0x%08lX\n", dll, static_cast<unsigned long>(result));
  return SUCCEEDED(result);
}

// Decodes `file` with GDI+ and reports its status and size; true when it decoded.
bool CheckPng(const char* when, const std::wstring& file) {
  Gdiplus::Image image(file.c_str());
  const Gdiplus::Status status = image.GetLastStatus();
  std::printf("png %s: GDI+ status %d, %ux%u\n", when, static_cast<int>(status),
              status == Gdiplus::Ok ? image.GetWidth() : 0u,
              status == Gdiplus::Ok ? image.GetHeight() : 0u);
  return status == Gdiplus::Ok && image.GetWidth() > 0;
}

std::wstring Wide(const char* text) {
  const int count = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (count <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], count);
  wide.resize(static_cast<std::size_t>(count - 1));
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring png;
  if (argc == 3 && std::strcmp(argv[1], "--check-png") == 0) {
    png = Wide(argv[2]);
  } else if (argc != 1) {
    std::printf("usage: register_com [--check-png FILE]\n");
    return 2;
  }
  std::printf("pointer size %u\n", static_cast<unsigned>(sizeof(void*)));

  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  const Gdiplus::Status gdiplus = Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
  if (FAILED(com) || gdiplus != Gdiplus::Ok) {
    std::printf("start-up failed: COM 0x%08lX, GDI+ %d\n", static_cast<unsigned long>(com),
                static_cast<int>(gdiplus));
    return 1;
  }

  bool ok = true;
  if (!png.empty()) CheckPng("before", png);
  for (const char* dll : kDlls) ok = Register(dll) && ok;
  if (!png.empty()) ok = CheckPng("after", png) && ok;

  Gdiplus::GdiplusShutdown(gdiplusToken);
  ::CoUninitialize();
  std::fflush(stdout);
  return ok ? 0 : 1;
}
