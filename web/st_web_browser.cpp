#include "web/st_web_browser.h"

#include <exdispid.h>

#include <utility>

namespace web {

namespace {

// The control's status text is converted into a 1,024-byte buffer, of which
// at most this many bytes may be used; a longer text is dropped.
constexpr int kStatusTextCapacity = 512;
constexpr std::size_t kStatusTextBufferSize = 1024;

#ifndef _WIN64
static_assert(sizeof(OLEINPLACEFRAMEINFO) == 20, "frame information as the control expects it");
#endif

}  // namespace

stWebBrowser::~stWebBrowser() {
  // Whatever CloseBrowser did not release is left alone: releasing it after
  // OleUninitialize could call into an unloaded control.
  eventConnection.Detach();
  webBrowser.Detach();
  storage.Detach();
  inPlaceObject.Detach();
  oleObject.Detach();
}

// ---- IUnknown --------------------------------------------------------------

HRESULT stWebBrowser::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(riid, IID_IOleClientSite)) {
    *object = ClientSite();
  } else if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
    *object = EventSink();
  } else if (IsEqualGUID(riid, IID_IDocHostUIHandler)) {
    *object = UiHandler();
  } else if (IsEqualGUID(riid, IID_IOleInPlaceSite)) {
    *object = InPlaceSite();
  } else if (IsEqualGUID(riid, IID_IOleInPlaceFrame) || IsEqualGUID(riid, IID_IOleInPlaceUIWindow)) {
    *object = InPlaceFrame();
  } else {
    // IOleWindow is ambiguous between the site and the frame: refused.
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG stWebBrowser::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount)); }

ULONG stWebBrowser::Release() { return static_cast<ULONG>(InterlockedDecrement(&refCount)); }

// ---- IDispatch: browser events -----------------------------------------------

HRESULT stWebBrowser::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT stWebBrowser::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT stWebBrowser::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT stWebBrowser::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                             EXCEPINFO*, UINT*) {
  switch (id) {
    case DISPID_DOCUMENTCOMPLETE:
      OnDocumentComplete();
      return S_OK;
    case DISPID_BEFORENAVIGATE2:
      return S_OK;  // navigation is never cancelled
    case DISPID_STATUSTEXTCHANGE:
      HandleStatusText(params);
      return E_NOTIMPL;
    default:
      return E_NOTIMPL;
  }
}

void stWebBrowser::HandleStatusText(const DISPPARAMS* params) {
  if (!params || !params->rgvarg || params->cArgs == 0) return;
  const VARIANT& text = params->rgvarg[0];
  if (V_VT(&text) != VT_BSTR || V_BSTR(&text) == nullptr) return;
  char buffer[kStatusTextBufferSize] = {};
  if (::WideCharToMultiByte(CP_ACP, 0, V_BSTR(&text), -1, buffer, kStatusTextCapacity, nullptr,
                            nullptr) != 0) {
    OnStatusTextChange(buffer);
  }
}

// ---- IOleClientSite ----------------------------------------------------------

HRESULT stWebBrowser::SaveObject() { return S_OK; }

HRESULT stWebBrowser::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT stWebBrowser::GetContainer(IOleContainer** container) {
  if (container) *container = nullptr;
  return E_FAIL;
}

HRESULT stWebBrowser::ShowObject() { return S_OK; }
HRESULT stWebBrowser::OnShowWindow(BOOL) { return S_OK; }
HRESULT stWebBrowser::RequestNewObjectLayout() { return S_OK; }

// ---- IOleWindow ------------------------------------------------------------------

HRESULT stWebBrowser::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = GetHostWindow();
  return S_OK;
}

HRESULT stWebBrowser::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// ---- IOleInPlaceSite -------------------------------------------------------------

HRESULT stWebBrowser::CanInPlaceActivate() { return inPlaceActive ? S_OK : S_FALSE; }
HRESULT stWebBrowser::OnInPlaceActivate() { return S_OK; }
HRESULT stWebBrowser::OnUIActivate() { return S_OK; }

HRESULT stWebBrowser::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                       LPRECT position, LPRECT clip,
                                       LPOLEINPLACEFRAMEINFO frameInfo) {
  if (frame) {
    *frame = InPlaceFrame();
    AddRef();
  }
  if (document) *document = nullptr;  // no separate document window
  const HWND host = GetHostWindow();
  ::GetClientRect(host, &objectRect);
  if (position) *position = objectRect;
  if (clip) *clip = objectRect;
  if (frameInfo) {
    frameInfo->cb = sizeof(OLEINPLACEFRAMEINFO);
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = ::GetParent(host);
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
  }
  return S_OK;
}

HRESULT stWebBrowser::Scroll(SIZE) { return E_NOTIMPL; }
HRESULT stWebBrowser::OnUIDeactivate(BOOL) { return S_OK; }
HRESULT stWebBrowser::OnInPlaceDeactivate() { return S_OK; }
HRESULT stWebBrowser::DiscardUndoState() { return S_OK; }
HRESULT stWebBrowser::DeactivateAndUndo() { return S_OK; }
HRESULT stWebBrowser::OnPosRectChange(LPCRECT) { return S_OK; }  // the control keeps its size

// ---- IOleInPlaceUIWindow / IOleInPlaceFrame --------------------------------------

HRESULT stWebBrowser::GetBorder(LPRECT border) {
  ::GetClientRect(GetHostWindow(), &objectRect);
  if (border) *border = objectRect;
  return S_OK;
}

HRESULT stWebBrowser::RequestBorderSpace(LPCBORDERWIDTHS) { return S_OK; }
HRESULT stWebBrowser::SetBorderSpace(LPCBORDERWIDTHS) { return S_OK; }
HRESULT stWebBrowser::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }
HRESULT stWebBrowser::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return E_NOTIMPL; }
HRESULT stWebBrowser::SetMenu(HMENU, HOLEMENU, HWND) { return E_NOTIMPL; }
HRESULT stWebBrowser::RemoveMenus(HMENU) { return E_NOTIMPL; }
HRESULT stWebBrowser::SetStatusText(LPCOLESTR) { return E_NOTIMPL; }
HRESULT stWebBrowser::EnableModeless(BOOL) { return E_NOTIMPL; }
HRESULT stWebBrowser::TranslateAccelerator(LPMSG, WORD) { return E_NOTIMPL; }

// ---- IDocHostUIHandler: the control keeps its own menu, keys and URL handling ----

HRESULT stWebBrowser::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return E_NOTIMPL; }

HRESULT stWebBrowser::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  info->dwFlags |= DOCHOSTUIFLAG_NO3DOUTERBORDER;
  return S_OK;
}

HRESULT stWebBrowser::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                             IOleInPlaceUIWindow*) {
  return E_NOTIMPL;
}
HRESULT stWebBrowser::HideUI() { return E_NOTIMPL; }
HRESULT stWebBrowser::UpdateUI() { return E_NOTIMPL; }
HRESULT stWebBrowser::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
HRESULT stWebBrowser::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
HRESULT stWebBrowser::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
HRESULT stWebBrowser::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }
HRESULT stWebBrowser::GetOptionKeyPath(LPOLESTR*, DWORD) { return E_NOTIMPL; }
HRESULT stWebBrowser::GetDropTarget(IDropTarget*, IDropTarget**) { return E_NOTIMPL; }

HRESULT stWebBrowser::GetExternal(IDispatch** external) {
  if (external) *external = nullptr;
  return E_NOTIMPL;
}

HRESULT stWebBrowser::TranslateUrl(DWORD, LPWSTR, LPWSTR*) { return E_NOTIMPL; }
HRESULT stWebBrowser::FilterDataObject(IDataObject*, IDataObject**) { return E_NOTIMPL; }

// ---- Operations ------------------------------------------------------------------

IWebBrowser2* stWebBrowser::Browser() {
  if (!webBrowser && oleObject) oleObject->QueryInterface(IID_IWebBrowser2, webBrowser.PutVoid());
  return webBrowser.Get();
}

bool stWebBrowser::CreateBrowser() {
  if (!oleObject) {
    // The temporary file goes when the storage is released (CloseBrowser);
    // without the flag every run would leave one behind.
    const DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_DELETEONRELEASE;
    if (SUCCEEDED(::StgCreateDocfile(nullptr, mode, 0, storage.Put())) &&
        SUCCEEDED(::OleCreate(CLSID_WebBrowser, IID_IOleObject, OLERENDER_DRAW, nullptr, ClientSite(),
                              storage.Get(), oleObject.PutVoid()))) {
      oleObject->QueryInterface(IID_IOleInPlaceObject, inPlaceObject.PutVoid());
    }
  }
  if (!oleObject) return false;

  if (objectRect.right == objectRect.left && objectRect.bottom == objectRect.top)
    ::GetClientRect(GetHostWindow(), &objectRect);
  if (inPlaceActive) return true;

  // Set before the verb so that CanInPlaceActivate agrees while it runs.
  inPlaceActive = true;
  if (FAILED(oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, ClientSite(), 0, GetHostWindow(),
                               &objectRect))) {
    return false;
  }
  if (!Browser()) return false;
  return ConnectEvents();
}

bool stWebBrowser::ConnectEvents() {
  base::ComPtr<IConnectionPointContainer> container;
  if (FAILED(webBrowser->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())))
    return false;
  base::ComPtr<IConnectionPoint> point;
  if (FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put()))) return false;
  DWORD cookie = 0;
  if (FAILED(point->Advise(EventSink(), &cookie))) return false;
  eventConnection = std::move(point);
  eventCookie = cookie;
  return true;
}

bool stWebBrowser::Navigate(const char* url) {
  if (!url) return false;
  VARIANT target;
  ::VariantInit(&target);
  V_VT(&target) = VT_BSTR;

  const int wideCount = ::MultiByteToWideChar(CP_ACP, 0, url, -1, nullptr, 0);
  if (wideCount <= 0) return false;
  HGLOBAL wide = ::GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(wideCount) * 2);
  if (!wide) return false;
  ::MultiByteToWideChar(CP_ACP, 0, url, -1, static_cast<wchar_t*>(wide), wideCount);
  V_BSTR(&target) = ::SysAllocString(static_cast<const wchar_t*>(wide));
  ::GlobalFree(wide);

  bool navigated = false;
  if (IWebBrowser2* browser = Browser()) {
    browser->put_Silent(VARIANT_TRUE);  // no dialog boxes, script errors included
    navigated = SUCCEEDED(browser->Navigate2(&target, nullptr, nullptr, nullptr, nullptr));
  }
  ::VariantClear(&target);
  return navigated;
}

void stWebBrowser::CloseBrowser() {
  if (eventConnection) {
    eventConnection->Unadvise(eventCookie);
    eventConnection.Reset();
    eventCookie = 0;
  }
  if (inPlaceObject) inPlaceObject->InPlaceDeactivate();
  webBrowser.Reset();
  inPlaceObject.Reset();
  if (oleObject) {
    oleObject->Close(OLECLOSE_NOSAVE);
    oleObject->SetClientSite(nullptr);
    oleObject.Reset();
  }
  storage.Reset();
  inPlaceActive = false;
}

}  // namespace web
