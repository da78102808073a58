// The container's COM behaviour, without a window or a control.
#include <exdispid.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "web/st_web_browser.h"
#include "web/z_web_browser.h"

namespace {

class RecordingContainer : public web::stWebBrowser {
 public:
  void OnDocumentComplete() override { ++documentsCompleted; }
  void OnStatusTextChange(const char* text) override { statusTexts.emplace_back(text); }
  int documentsCompleted = 0;
  std::vector<std::string> statusTexts;
};

TEST(Container, QueryInterfaceHandsOutOneFacePerInterface) {
  RecordingContainer c;
  struct Row {
    const char* name;
    const IID& iid;
    void* expected;
  } rows[] = {
      {"IUnknown", IID_IUnknown, c.EventSink()},
      {"IDispatch", IID_IDispatch, c.EventSink()},
      {"IOleClientSite", IID_IOleClientSite, c.ClientSite()},
      {"IOleInPlaceSite", IID_IOleInPlaceSite, c.InPlaceSite()},
      {"IOleInPlaceFrame", IID_IOleInPlaceFrame, c.InPlaceFrame()},
      {"IOleInPlaceUIWindow", IID_IOleInPlaceUIWindow, c.InPlaceFrame()},
      {"IDocHostUIHandler", IID_IDocHostUIHandler, c.UiHandler()},
      {"IOleWindow", IID_IOleWindow, nullptr},
      {"IOleObject", IID_IOleObject, nullptr},
      {"IConnectionPointContainer", IID_IConnectionPointContainer, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const LONG before = c.ReferenceCount();
    void* out = reinterpret_cast<void*>(1);
    const HRESULT hr = c.QueryInterface(row.iid, &out);
    EXPECT_EQ(row.expected, out);
    EXPECT_EQ(row.expected ? S_OK : E_NOINTERFACE, hr);
    EXPECT_EQ(before + (row.expected ? 1 : 0), c.ReferenceCount());
  }
  // Every face answers through the same table and the same count.
  void* viaFrame = nullptr;
  ASSERT_EQ(S_OK, c.InPlaceFrame()->QueryInterface(IID_IOleClientSite, &viaFrame));
  EXPECT_EQ(static_cast<void*>(c.ClientSite()), viaFrame);
  void* viaHandler = nullptr;
  ASSERT_EQ(S_OK, c.UiHandler()->QueryInterface(IID_IUnknown, &viaHandler));
  EXPECT_EQ(static_cast<void*>(c.EventSink()), viaHandler);
}

TEST(Container, ReleaseToZeroFreesNothing) {
  auto c = std::make_unique<RecordingContainer>();
  EXPECT_EQ(1u, c->InPlaceSite()->AddRef());
  EXPECT_EQ(2u, c->UiHandler()->AddRef());
  EXPECT_EQ(1u, c->ClientSite()->Release());
  EXPECT_EQ(0u, c->EventSink()->Release());
  // Still a working object after the count reached 0.
  EXPECT_EQ(S_FALSE, c->CanInPlaceActivate());
  DISPPARAMS none = {};
  EXPECT_EQ(S_OK, c->Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                            nullptr, nullptr));
  EXPECT_EQ(1, c->documentsCompleted);
}

TEST(Container, EventDispatch) {
  VARIANT args[2];
  struct Row {
    const char* name;
    DISPID id;
    const wchar_t* text;  // first argument as VT_BSTR; null: no argument array
    VARTYPE type;         // VT_BSTR, or another type to pass instead of a string
    HRESULT expected;
    int documents;
    std::vector<std::string> statusTexts;
  } rows[] = {
      {"document complete", DISPID_DOCUMENTCOMPLETE, nullptr, VT_EMPTY, S_OK, 1, {}},
      {"before navigate is never cancelled", DISPID_BEFORENAVIGATE2, L"x", VT_BSTR, S_OK, 0, {}},
      {"status text handled, still E_NOTIMPL", DISPID_STATUSTEXTCHANGE, L"Done", VT_BSTR, E_NOTIMPL, 0,
       {"Done"}},
      {"status text in the ANSI code page", DISPID_STATUSTEXTCHANGE, L"\u5c31\u7eea", VT_BSTR,
       E_NOTIMPL, 0, {"\xBE\xCD\xD0\xF7"}},
      {"empty status text", DISPID_STATUSTEXTCHANGE, L"", VT_BSTR, E_NOTIMPL, 0, {""}},
      {"status text without arguments", DISPID_STATUSTEXTCHANGE, nullptr, VT_EMPTY, E_NOTIMPL, 0, {}},
      {"status text that is not a string", DISPID_STATUSTEXTCHANGE, L"", VT_I4, E_NOTIMPL, 0, {}},
      {"other event", DISPID_NAVIGATECOMPLETE2, nullptr, VT_EMPTY, E_NOTIMPL, 0, {}},
      {"unknown identifier", 12345, nullptr, VT_EMPTY, E_NOTIMPL, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingContainer c;
    DISPPARAMS params = {};
    BSTR text = nullptr;
    if (row.text) {
      ::VariantInit(&args[0]);
      ::VariantInit(&args[1]);
      if (row.type == VT_BSTR) {
        text = ::SysAllocString(row.text);
        V_VT(&args[0]) = VT_BSTR;
        V_BSTR(&args[0]) = text;
      } else {
        V_VT(&args[0]) = VT_I4;
        V_I4(&args[0]) = 7;
      }
      params.rgvarg = args;
      params.cArgs = 1;
    }
    EXPECT_EQ(row.expected,
              c.Invoke(row.id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(row.documents, c.documentsCompleted);
    EXPECT_EQ(row.statusTexts, c.statusTexts);
    ::SysFreeString(text);
  }
}

TEST(Container, StatusTextTooLongForItsBufferIsDropped) {
  RecordingContainer c;
  for (std::size_t length : {511u, 512u}) {
    std::wstring wide(length, L'a');
    BSTR text = ::SysAllocString(wide.c_str());
    VARIANT arg;
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = text;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    c.Invoke(DISPID_STATUSTEXTCHANGE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    ::SysFreeString(text);
  }
  // 511 characters and the terminator fill the 512 bytes; 512 do not fit.
  ASSERT_EQ(1u, c.statusTexts.size());
  EXPECT_EQ(511u, c.statusTexts[0].size());
}

TEST(Container, GetHostInfoAddsOnlyTheBorderFlag) {
  RecordingContainer c;
  DOCHOSTUIINFO info = {};
  info.cbSize = sizeof(info);
  info.dwFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_SCROLL_NO;
  info.dwDoubleClick = DOCHOSTUIDBLCLK_SHOWCODE;
  info.pchHostCss = reinterpret_cast<OLECHAR*>(0x1234);
  ASSERT_EQ(S_OK, c.GetHostInfo(&info));
  EXPECT_EQ(static_cast<DWORD>(DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_SCROLL_NO | 0x200000), info.dwFlags);
  EXPECT_EQ(sizeof(info), info.cbSize);
  EXPECT_EQ(static_cast<DWORD>(DOCHOSTUIDBLCLK_SHOWCODE), info.dwDoubleClick);
  EXPECT_EQ(reinterpret_cast<OLECHAR*>(0x1234), info.pchHostCss);
  EXPECT_EQ(nullptr, info.pchHostNS);
}

TEST(Container, OutParametersAreClearedOnRefusal) {
  RecordingContainer c;
  IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
  EXPECT_EQ(E_NOTIMPL, c.GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, &moniker));
  EXPECT_EQ(nullptr, moniker);
  IOleContainer* container = reinterpret_cast<IOleContainer*>(1);
  EXPECT_EQ(E_FAIL, c.GetContainer(&container));
  EXPECT_EQ(nullptr, container);
  IDispatch* external = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(E_NOTIMPL, c.GetExternal(&external));
  EXPECT_EQ(nullptr, external);
  HWND window = reinterpret_cast<HWND>(1);
  EXPECT_EQ(S_OK, c.InPlaceFrame()->GetWindow(&window));
  EXPECT_EQ(nullptr, window);
}

TEST(PageHostWithoutControl, NavigatesNothingAndStylesNothing) {
  web::ZWebBrowser host;
  EXPECT_FALSE(host.HasControl());
  EXPECT_FALSE(host.Navigate("http://127.0.0.1/start.html"));
  EXPECT_FALSE(host.Navigate(nullptr));
  EXPECT_EQ(S_FALSE, host.CanInPlaceActivate());
  DISPPARAMS none = {};
  EXPECT_EQ(S_OK, host.Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                              nullptr, nullptr));
  host.CloseBrowser();  // nothing to close
  EXPECT_STREQ("ZWebBrowser", host.ClassName());
}

TEST(PageHostWithoutControl, GetExternalHandsOutTheBridge) {
  auto owned = std::make_unique<web::JsDispatch>(nullptr);
  web::JsDispatch* bridge = owned.get();
  web::ZWebBrowser host(std::move(owned));
  IDispatch* external = nullptr;
  ASSERT_EQ(S_OK, host.UiHandler()->GetExternal(&external));
  EXPECT_EQ(static_cast<IDispatch*>(bridge), external);
  EXPECT_EQ(1u, external->Release());  // GetExternal added one to the initial 1

  web::ZWebBrowser bare;
  external = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(E_NOTIMPL, bare.GetExternal(&external));
  EXPECT_EQ(nullptr, external);
}

}  // namespace
