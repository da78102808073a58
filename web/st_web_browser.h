// A reusable OLE container for the system's web-browser control: client site,
// in-place site, in-place frame and document-host UI handler in one object,
// which is also the sink of the control's browser events. A derived class
// says which window hosts the control (GetHostWindow) and reacts to loaded
// documents and status texts.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <ocidl.h>

#include "base/guards.h"

namespace web {

class stWebBrowser : public IDispatch,
                     public IOleClientSite,
                     public IOleInPlaceSite,
                     public IOleInPlaceFrame,
                     public IDocHostUIHandler {
 public:
  stWebBrowser() = default;
  // Makes no COM call: OLE may already be uninitialised when the container
  // is destroyed. Call CloseBrowser before that.
  virtual ~stWebBrowser();
  stWebBrowser(const stWebBrowser&) = delete;
  stWebBrowser& operator=(const stWebBrowser&) = delete;

  // The window that hosts the control; none here.
  virtual HWND GetHostWindow() { return nullptr; }
  // A document (top level or frame) has finished loading.
  virtual void OnDocumentComplete() {}
  // The control's status text, in the ANSI code page.
  virtual void OnStatusTextChange(const char* text) { (void)text; }

  // Creates the control in a temporary compound file, activates it in place
  // in GetHostWindow() and connects the event sink. True when the sink is
  // connected.
  bool CreateBrowser();
  // Opens `url` (ANSI) in the control with its dialogs silenced. False when
  // there is no control or the control refuses the navigation.
  bool Navigate(const char* url);
  // Disconnects the sink, deactivates and closes the control and releases
  // every interface held. Must run while OLE is initialised; safe to repeat.
  void CloseBrowser();

  // IUnknown, shared by all five faces. The count never decides lifetime.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch: the DWebBrowserEvents2 sink.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override;
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) override;
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

  // IOleWindow, for both the in-place site and the in-place frame.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enterMode) override;

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnUIActivate() override;
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                             LPRECT position, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO frameInfo) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE extent) override;
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL undoable) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;

  // IOleInPlaceUIWindow / IOleInPlaceFrame
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT border) override;
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override;
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) override;
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU shared) override;
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR text) override;
  // Also the UI handler's EnableModeless.
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, WORD id) override;

  // IDocHostUIHandler
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD id, POINT* point, IUnknown* target,
                                            IDispatch* reserved) override;
  HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override;
  HRESULT STDMETHODCALLTYPE ShowUI(DWORD id, IOleInPlaceActiveObject* active,
                                   IOleCommandTarget* target, IOleInPlaceFrame* frame,
                                   IOleInPlaceUIWindow* document) override;
  HRESULT STDMETHODCALLTYPE HideUI() override;
  HRESULT STDMETHODCALLTYPE UpdateUI() override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                         BOOL frameWindow) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, const GUID* group, DWORD id) override;
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget* dropTarget, IDropTarget** replacement) override;
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override;
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD translate, LPWSTR url, LPWSTR* translated) override;
  HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject* in, IDataObject** out) override;

  // The five faces, as the control sees them.
  IDispatch* EventSink() { return static_cast<IDispatch*>(this); }
  IOleClientSite* ClientSite() { return static_cast<IOleClientSite*>(this); }
  IOleInPlaceSite* InPlaceSite() { return static_cast<IOleInPlaceSite*>(this); }
  IOleInPlaceFrame* InPlaceFrame() { return static_cast<IOleInPlaceFrame*>(this); }
  IDocHostUIHandler* UiHandler() { return static_cast<IDocHostUIHandler*>(this); }

  bool HasControl() const { return static_cast<bool>(oleObject); }
  LONG ReferenceCount() const { return refCount; }

 protected:
  // The browser interface of the control, queried on first need and kept.
  IWebBrowser2* Browser();

  LONG refCount = 0;
  base::ComPtr<IOleObject> oleObject;
  base::ComPtr<IOleInPlaceObject> inPlaceObject;
  base::ComPtr<IStorage> storage;
  base::ComPtr<IWebBrowser2> webBrowser;
  RECT objectRect = {};
  bool inPlaceActive = false;
  // The event connection, kept so that CloseBrowser can undo it.
  base::ComPtr<IConnectionPoint> eventConnection;
  DWORD eventCookie = 0;

 private:
  void HandleStatusText(const DISPPARAMS* params);
  bool ConnectEvents();
};

}  // namespace web
