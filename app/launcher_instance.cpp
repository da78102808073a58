#include "app/launcher.h"

namespace app {
namespace {

// The one launcher object: constructed before WinMain, destroyed at normal
// exit after WinMain has returned.
ZornLauncher g_launcher;

}  // namespace

ZornLauncher& Launcher() { return g_launcher; }

}  // namespace app
