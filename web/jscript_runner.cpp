#include "web/jscript_runner.h"

#include <activscp.h>

#include <cwchar>
#include <string>
#include <type_traits>

#include "base/bounded_format.h"
#include "base/guards.h"

namespace web {

namespace {

// The parse interface matches the process's pointer size.
using ScriptParse =
    std::conditional_t<sizeof(void*) == 8, IActiveScriptParse64, IActiveScriptParse32>;

constexpr DISPID kExternalProperty = 1;

// The script's `window`: one read-only property, `external`.
class WindowObject : public IDispatch {
 public:
  explicit WindowObject(IDispatch* external) : external_(external) {}
  virtual ~WindowObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IDispatch)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  // Lives on the runner's stack: counts are kept but never free it.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
      if (i == 0 && names[i] && std::wcscmp(names[i], L"external") == 0) {
        ids[i] = kExternalProperty;
      } else {
        ids[i] = DISPID_UNKNOWN;
        result = DISP_E_UNKNOWNNAME;
      }
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != kExternalProperty || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (result) {
      ::VariantInit(result);
      if (external_) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = external_;
        external_->AddRef();
      } else {
        V_VT(result) = VT_NULL;
      }
    }
    return S_OK;
  }

 private:
  LONG refs_ = 0;
  IDispatch* external_;
};

// Converts a wide text into `out` (ANSI), keeping what fits.
void ToAnsi(const wchar_t* text, char* out, std::size_t size) {
  if (!out || size == 0) return;
  out[0] = '\0';
  if (!text) return;
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  std::string whole(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, &whole[0], needed, nullptr, nullptr);
  base::FormatTruncated(out, size, "%s", whole.c_str());
}

class ScriptSite : public IActiveScriptSite {
 public:
  ScriptSite(IDispatch* external, IDispatch* window) : external_(external), window_(window) {}
  virtual ~ScriptSite() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IActiveScriptSite))
      return E_NOINTERFACE;
    *object = static_cast<IActiveScriptSite*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

  HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                                        ITypeInfo** typeInfo) override {
    if ((mask & SCRIPTINFO_IUNKNOWN) && !item) return E_POINTER;
    if ((mask & SCRIPTINFO_ITYPEINFO) && !typeInfo) return E_POINTER;
    if (item) *item = nullptr;
    if (typeInfo) *typeInfo = nullptr;
    IDispatch* found = nullptr;
    if (name && std::wcscmp(name, L"external") == 0) found = external_;
    if (name && std::wcscmp(name, L"window") == 0) found = window_;
    if (!found) return TYPE_E_ELEMENTNOTFOUND;
    if (mask & SCRIPTINFO_IUNKNOWN) {
      *item = found;
      found->AddRef();
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* scriptError) override {
    failed_ = true;
    if (!scriptError) return S_OK;
    EXCEPINFO exception = {};
    scriptError->GetExceptionInfo(&exception);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    scriptError->GetSourcePosition(&context, &line, &column);
    char description[512];
    ToAnsi(exception.bstrDescription, description, sizeof(description));
    if (description[0] == '\0') {
      base::FormatTruncated(description, sizeof(description), "error 0x%08lX",
                            static_cast<unsigned long>(exception.scode));
    }
    base::FormatTruncated(message_, sizeof(message_), "line %lu, column %ld: %s",
                          static_cast<unsigned long>(line) + 1, static_cast<long>(column) + 1,
                          description);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

  bool Failed() const { return failed_; }
  const char* Message() const { return message_; }

 private:
  LONG refs_ = 0;
  IDispatch* external_;
  IDispatch* window_;
  bool failed_ = false;
  char message_[1024] = {};
};

void Report(char* error, std::size_t errorSize, const char* step, HRESULT hr) {
  if (error && errorSize > 0)
    base::FormatTruncated(error, errorSize, "%s failed: 0x%08lX", step, static_cast<unsigned long>(hr));
}

}  // namespace

bool RunJScript(const wchar_t* code, IDispatch* external, char* error, std::size_t errorSize) {
  if (error && errorSize > 0) error[0] = '\0';
  if (!code) {
    Report(error, errorSize, "RunJScript (no code)", E_POINTER);
    return false;
  }

  CLSID engineClass = {};
  HRESULT hr = ::CLSIDFromProgID(L"JScript", &engineClass);
  if (FAILED(hr)) {
    Report(error, errorSize, "CLSIDFromProgID", hr);
    return false;
  }
  base::ComPtr<IActiveScript> engine;
  hr = ::CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                          engine.PutVoid());
  if (FAILED(hr)) {
    Report(error, errorSize, "CoCreateInstance", hr);
    return false;
  }
  base::ComPtr<ScriptParse> parser;
  hr = engine->QueryInterface(__uuidof(ScriptParse), parser.PutVoid());
  if (FAILED(hr)) {
    Report(error, errorSize, "QueryInterface(IActiveScriptParse)", hr);
    return false;
  }

  // Both objects live on this stack; the engine is closed before they go.
  WindowObject window(external);
  ScriptSite site(external, &window);
  bool ran = false;
  if (FAILED(hr = engine->SetScriptSite(&site))) {
    Report(error, errorSize, "SetScriptSite", hr);
  } else if (FAILED(hr = parser->InitNew())) {
    Report(error, errorSize, "InitNew", hr);
  } else if (external && FAILED(hr = engine->AddNamedItem(L"external", SCRIPTITEM_ISVISIBLE))) {
    Report(error, errorSize, "AddNamedItem(external)", hr);
  } else if (FAILED(hr = engine->AddNamedItem(L"window", SCRIPTITEM_ISVISIBLE))) {
    Report(error, errorSize, "AddNamedItem(window)", hr);
  } else if (FAILED(hr = engine->SetScriptState(SCRIPTSTATE_STARTED))) {
    Report(error, errorSize, "SetScriptState", hr);
  } else {
    EXCEPINFO exception = {};
    hr = parser->ParseScriptText(code, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &exception);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    if (site.Failed()) {
      if (error && errorSize > 0) base::FormatTruncated(error, errorSize, "%s", site.Message());
    } else if (FAILED(hr)) {
      Report(error, errorSize, "ParseScriptText", hr);
    } else {
      ran = true;
    }
  }
  parser.Reset();
  engine->Close();
  return ran;
}

}  // namespace web
