#include "app/launcher.h"

namespace app {

// Window start-up is not built yet: with no window to close, the message loop
// would never end, so end it at once. The window objects replace this.
void ZornLauncher::StartWindows(HINSTANCE) { ::PostQuitMessage(0); }

void ZornLauncher::DestroyWindowObjects() {}

}  // namespace app
