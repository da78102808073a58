// The script bridge's hand-over: the page's parameters go to the update
// worker, and the page view gives way to the progress view. Repair hands over
// in the same way and asks the worker to verify the client as well.
// UpdateState tells the page how the update stands meanwhile.
#include <windows.h>

#include <memory>
#include <string>

#include "app/launcher.h"
#include "ui/progress_bar.h"
#include "update/update_worker.h"
#include "web/js_dispatch.h"
#include "web/z_web_browser.h"

namespace app {

namespace {

void HandOver(DISPPARAMS* params, update::GameEntry entry) {
  if (params == nullptr) return;
  // 64 KiB is too much for the stack of a call made from inside page script.
  auto text = std::make_unique<char[]>(web::kIntoGameTextSize);
  if (!web::ConvertIntoGameArgument(params, text.get(), web::kIntoGameTextSize)) return;

  ZornLauncher& launcher = Launcher();
  ::ShowWindow(launcher.mainWindowHandle, SW_HIDE);
  if (launcher.pageHost) ::ShowWindow(launcher.pageHost->GetHostWindow(), SW_HIDE);
  if (launcher.progressBar) launcher.progressBar->ShowCentered();
  launcher.windows.viewState = 2;
  // The worker copies the text before this returns.
  update::StartUpdateWorker(text.get(), entry);
}

}  // namespace

void OnIntoGame(DISPPARAMS* params) { HandOver(params, update::GameEntry::Play); }

void OnRepair(DISPPARAMS* params) { HandOver(params, update::GameEntry::Repair); }

std::string OnUpdateState() { return update::UpdateStateText(); }

}  // namespace app
