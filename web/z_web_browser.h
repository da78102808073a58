// The page host: a popup window owned by the main window, kept at a fixed
// offset from it, with the web-browser control activated in place over its
// whole client area. It hands the script bridge to the page as its external
// object and restyles every loaded page (no scroll bars, no border).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "ui/base_wnd.h"
#include "ui/window_set.h"
#include "web/js_dispatch.h"
#include "web/st_web_browser.h"

namespace web {

class ZWebBrowser : public stWebBrowser, public ui::ZBaseWnd, public ui::PageHostView {
 public:
  // The host owns `bridge` (may be null: the page then gets no external object).
  explicit ZWebBrowser(std::unique_ptr<JsDispatch> bridge = nullptr);
  // Deletes the bridge; makes no COM call (see stWebBrowser) and leaves the
  // window to the main window's close sequence.
  ~ZWebBrowser() override;

  // Creates the control and fits it to the client area. False when there is
  // no host window, or the control could not be created and activated, or
  // would not take the size.
  virtual bool AttachBrowser();

  // ZBaseWnd: creates the window, records its offset from the owner (x and y
  // are screen coordinates) and its size, then attaches the control.
  HWND Create(const char* title, int x, int y, int width, int height, DWORD extendedStyle,
              DWORD style) override;
  bool RegisterWindow() override;

  // stWebBrowser and ui::PageHostView
  HWND GetHostWindow() override { return window; }
  // Removes the top-level body's scroll bars and border.
  void OnDocumentComplete() override;
  void OnStatusTextChange(const char* text) override { (void)text; }

  // ui::PageHostView
  void ShowAtOffset() override;
  void PlaceAtOffset() override;

  // IDocHostUIHandler: the script bridge, with a reference added.
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override;

  JsDispatch* ScriptBridge() const { return scriptBridge.get(); }
  std::int32_t OffsetX() const { return offsetX; }
  std::int32_t OffsetY() const { return offsetY; }

 private:
  std::int32_t offsetX = 0;
  std::int32_t offsetY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::unique_ptr<JsDispatch> scriptBridge;
};

}  // namespace web
