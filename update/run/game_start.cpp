#include "update/run/game_start.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>

#include "update/directory_levels.h"
#include "update/download_log.h"
#include "update/update_paths.h"

namespace update {

namespace {

const char kGameExecutable[] = "TLVR.exe";

}  // namespace

void StartGame(const char* gameDirectory, const GameParameters& parameters) {
  char executable[kPathSize] = {};
  if (!ComposePath(executable, sizeof executable, gameDirectory, kGameExecutable)) {
    WriteLog("Failed to start game. error=(%d)\n", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    return;
  }
  // The latest string the page handed over, copied whole under its lock.
  auto text = std::make_unique<char[]>(GameParameters::kSize);
  parameters.CopyTo(text.get(), GameParameters::kSize);

  // The shell may use COM for what it starts; give this thread an apartment.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const HINSTANCE started = ::ShellExecuteA(nullptr, "open", executable, text.get(), gameDirectory, SW_SHOWNORMAL);
  const DWORD error = ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  if (reinterpret_cast<INT_PTR>(started) <= 32)
    WriteLog("Failed to start game. error=(%d)\n", static_cast<int>(error));
  else
    WriteLog("Successfully started the game.");
}

}  // namespace update
