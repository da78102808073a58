#include "app/launcher.h"

#include <ole2.h>
#include <gdiplus.h>

#include <cstring>

#include "app/start_url.h"
#include "base/bounded_format.h"
#include "ui/irregular_window.h"
#include "ui/progress_bar.h"
#include "web/z_web_browser.h"

namespace app {

ZornLauncher::ZornLauncher() = default;

ZornLauncher::~ZornLauncher() {
  // The control and its interfaces go while OLE is still initialised; the
  // page host's own destructor then makes no COM call.
  CloseBrowser();
  // Only a successful OleInitialize is balanced: a failed one took no count.
  if (oleInitialized) {
    ::OleUninitialize();
    oleInitialized = false;
  }
  DestroyWindowObjects();
}

bool ZornLauncher::Init(HINSTANCE instance, const char* commandLine) {
  const HRESULT ole = ::OleInitialize(nullptr);
  if (ole != S_OK) {
    // S_FALSE (OLE already up on this thread) took a count all the same: give
    // it back so that the thread's apartment stays balanced. A failure took none.
    if (SUCCEEDED(ole)) ::OleUninitialize();
    ::MessageBoxA(nullptr, "OleInitialize Failed!", "Failed", MB_OK);
    return false;
  }
  oleInitialized = true;

  arguments.ParseArguments(commandLine);

  // Started once for the life of the process; the token is not needed again.
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

  if (!ComposeConfigPath() || !ReadConfig(pathBuffer)) {
    ::MessageBoxA(nullptr, "Read Config.cfg failed!", "Failure", MB_OK);
    return false;
  }

  StartWindows(instance);
  return true;
}

bool ZornLauncher::ComposeConfigPath() {
  if (!GetModulePath(pathBuffer, sizeof pathBuffer)) return false;
  CutAtLastSeparator(pathBuffer);
  if (!base::AppendInto(pathBuffer, "\\Data\\Config.cfg")) {
    // A cut name could open another file; an empty one opens none.
    pathBuffer[0] = '\0';
    return false;
  }
  return true;
}

bool ZornLauncher::ReadConfig(const char* path) { return ReadConfigFile(path, &config); }

bool ZornLauncher::BuildStartUrl(const ArgumentMap& argumentMap, char* output,
                                 std::size_t outputSize) {
  const StartUrlForm form = ComposeStartUrl(config.page.url, config.page.startPage, argumentMap.FindToken(),
                                            static_cast<std::uint32_t>(tickSource()), output, outputSize);
  return form != StartUrlForm::kNone;
}

bool ZornLauncher::ComposeImagePath(const char* value) {
  char modulePath[MAX_PATH] = {};
  if (!GetModulePath(modulePath, sizeof modulePath)) {
    std::memset(pathBuffer, 0, sizeof pathBuffer);
    return false;
  }
  return ComposeImagePathFrom(modulePath, value, pathBuffer, sizeof pathBuffer);
}

bool GetModulePath(char* out, std::size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  const DWORD length = ::GetModuleFileNameA(nullptr, out, static_cast<DWORD>(outSize));
  // A full buffer means the name was cut (and may not even be terminated).
  if (length == 0 || length >= outSize) {
    std::memset(out, 0, outSize);
    return false;
  }
  return true;
}

}  // namespace app
