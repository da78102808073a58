#include "web/z_web_browser.h"

#include <mshtml.h>

#include <utility>

#include "web/bstr.h"

namespace web {

ZWebBrowser::ZWebBrowser(std::unique_ptr<JsDispatch> bridge) : scriptBridge(std::move(bridge)) {
  SetClassName("ZWebBrowser");
}

ZWebBrowser::~ZWebBrowser() = default;

bool ZWebBrowser::RegisterWindow() { return RegisterFamilyClass(ui::BaseWindowProc, nullptr, nullptr); }

HWND ZWebBrowser::Create(const char* title, int x, int y, int widthPixels, int heightPixels,
                         DWORD extendedStyle, DWORD style) {
  ui::ZBaseWnd::Create(title, x, y, widthPixels, heightPixels, extendedStyle, style);
  if (owner) {
    RECT ownerRect = {};
    ::GetWindowRect(owner, &ownerRect);
    x -= ownerRect.left;
    y -= ownerRect.top;
  }
  offsetX = x;
  offsetY = y;
  width = widthPixels;
  height = heightPixels;
  // A host without a control is still a window: it stays empty, and the
  // launcher's other windows work on (HasControl tells the two apart).
  static_cast<void>(AttachBrowser());
  return window;
}

bool ZWebBrowser::AttachBrowser() {
  // Without a window there is nothing to activate the control in.
  if (window == nullptr) return false;
  // Without a control the window simply stays empty; the caller hears of it.
  const bool created = CreateBrowser();
  RECT client = {};
  ::GetClientRect(window, &client);
  if (inPlaceActive) {
    if (!oleObject || !inPlaceObject) return false;
    // The control takes the client size in pixels here, unconverted.
    SIZEL extent = {client.right - client.left, client.bottom - client.top};
    if (FAILED(oleObject->SetExtent(DVASPECT_CONTENT, &extent))) return false;
    if (FAILED(inPlaceObject->SetObjectRects(&client, &client))) return false;
  }
  objectRect = client;
  return created;
}

void ZWebBrowser::OnDocumentComplete() {
  // Frames complete too; the top-level body is styled each time.
  IWebBrowser2* browser = Browser();
  if (!browser) return;
  base::ComPtr<IDispatch> documentDispatch;
  if (FAILED(browser->get_Document(documentDispatch.Put())) || !documentDispatch) return;
  base::ComPtr<IHTMLDocument2> document;
  if (FAILED(documentDispatch->QueryInterface(IID_IHTMLDocument2, document.PutVoid()))) return;
  base::ComPtr<IHTMLElement> body;
  if (FAILED(document->get_body(body.Put())) || !body) return;

  base::ComPtr<IHTMLBodyElement> bodyElement;
  if (SUCCEEDED(body->QueryInterface(IID_IHTMLBodyElement, bodyElement.PutVoid()))) {
    ScopedBstr no(L"no");
    bodyElement->put_scroll(no.Get());
  }
  base::ComPtr<IHTMLStyle> style;
  if (SUCCEEDED(body->get_style(style.Put())) && style) {
    ScopedBstr hidden(L"hidden");
    ScopedBstr none(L"none");
    style->put_overflow(hidden.Get());
    style->put_border(none.Get());
  }
}

void ZWebBrowser::ShowAtOffset() {
  ::ShowWindow(window, SW_RESTORE);
  ::ShowWindow(window, SW_SHOWNORMAL);
  PlaceAtOffset();
  ::UpdateWindow(window);
}

void ZWebBrowser::PlaceAtOffset() {
  if (!owner) return;
  RECT ownerRect = {};
  ::GetWindowRect(owner, &ownerRect);
  const int x = ownerRect.left + offsetX;
  const int y = ownerRect.top + offsetY;
  // Already there (every mouse move off the buttons asks): nothing to move.
  RECT now = {};
  if (::GetWindowRect(window, &now) && now.left == x && now.top == y && now.right - now.left == width &&
      now.bottom - now.top == height)
    return;
  ::MoveWindow(window, x, y, width, height, TRUE);
}

HRESULT ZWebBrowser::GetExternal(IDispatch** external) {
  if (!external) return E_POINTER;
  *external = scriptBridge.get();
  if (!scriptBridge) return E_NOTIMPL;
  scriptBridge->AddRef();
  return S_OK;
}

}  // namespace web
