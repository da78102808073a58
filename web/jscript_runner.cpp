#include "web/jscript_runner.h"

#include <activscp.h>

#include <cwchar>
#include <map>
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
constexpr DISPID kSetTimeoutMethod = 2;

// Where window.setTimeout hands its function and delay; returns the
// timeout's number for script, 0 when it could not be set.
class TimeoutSink {
 public:
  virtual ~TimeoutSink() = default;
  virtual UINT_PTR SetTimeout(IDispatch* function, UINT delayMs) = 0;
};

// The delay argument as a count of milliseconds: a number (or what converts
// to one), negative and missing as 0.
UINT DelayOf(const DISPPARAMS& params) {
  if (params.cArgs < 2) return 0;
  VARIANT delay;
  ::VariantInit(&delay);
  UINT ms = 0;
  if (SUCCEEDED(::VariantChangeType(&delay, &params.rgvarg[params.cArgs - 2], 0, VT_I4)) && V_I4(&delay) > 0)
    ms = static_cast<UINT>(V_I4(&delay));
  ::VariantClear(&delay);
  return ms;
}

// The script's `window`: a read-only property, `external`, and the method
// setTimeout(function, ms).
class WindowObject : public IDispatch {
 public:
  WindowObject(IDispatch* external, TimeoutSink* timeouts) : external_(external), timeouts_(timeouts) {}
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
      } else if (i == 0 && names[i] && std::wcscmp(names[i], L"setTimeout") == 0) {
        ids[i] = kSetTimeoutMethod;
      } else {
        ids[i] = DISPID_UNKNOWN;
        result = DISP_E_UNKNOWNNAME;
      }
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id == kSetTimeoutMethod && (flags & DISPATCH_METHOD)) return InvokeSetTimeout(params, result);
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
  // Arguments arrive last-first: the function is the first one given.
  HRESULT InvokeSetTimeout(DISPPARAMS* params, VARIANT* result) {
    if (!params || params->cArgs == 0 || !params->rgvarg) return DISP_E_BADPARAMCOUNT;
    const VARIANT& function = params->rgvarg[params->cArgs - 1];
    if (V_VT(&function) != VT_DISPATCH || V_DISPATCH(&function) == nullptr) return DISP_E_TYPEMISMATCH;
    const UINT_PTR id = timeouts_ ? timeouts_->SetTimeout(V_DISPATCH(&function), DelayOf(*params)) : 0;
    if (id == 0) return E_FAIL;
    if (result) {
      ::VariantInit(result);
      V_VT(result) = VT_I4;
      V_I4(result) = static_cast<LONG>(id);
    }
    return S_OK;
  }

  LONG refs_ = 0;
  IDispatch* external_;
  TimeoutSink* timeouts_;
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
  void ClearFailure() {
    failed_ = false;
    message_[0] = '\0';
  }
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

// A description of an error that a function run by a timeout raised.
void DescribeException(const EXCEPINFO& exception, HRESULT hr, char* out, std::size_t size) {
  char description[512];
  ToAnsi(exception.bstrDescription, description, sizeof description);
  if (description[0] == '\0')
    base::FormatTruncated(description, sizeof description, "error 0x%08lX",
                          static_cast<unsigned long>(exception.scode != 0 ? exception.scode : hr));
  base::FormatTruncated(out, size, "in a timeout: %s", description);
}

}  // namespace

struct ScriptEngine::Impl : public TimeoutSink {
  explicit Impl(IDispatch* externalObject)
      : external(externalObject), window(externalObject, this), site(externalObject, &window) {}
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  UINT_PTR SetTimeout(IDispatch* function, UINT delayMs) override;
  void RunTimeout(UINT_PTR id);
  void DropTimeouts();

  base::ComPtr<IActiveScript> engine;
  base::ComPtr<ScriptParse> parser;
  IDispatch* external = nullptr;
  WindowObject window;
  ScriptSite site;
  bool started = false;
  std::map<UINT_PTR, IDispatch*> timeouts;  // each holds one reference
  char timeoutError[1024] = {};
};

namespace {

// Thread timers carry no pointer of their own: their numbers lead to the
// engine that set them. Only the thread that runs the script touches this.
std::map<UINT_PTR, ScriptEngine::Impl*>& TimerOwners() {
  static std::map<UINT_PTR, ScriptEngine::Impl*> owners;
  return owners;
}

void CALLBACK OnTimeout(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);  // a timeout runs once
  auto owner = TimerOwners().find(id);
  if (owner == TimerOwners().end()) return;
  ScriptEngine::Impl* engine = owner->second;
  TimerOwners().erase(owner);
  engine->RunTimeout(id);
}

}  // namespace

UINT_PTR ScriptEngine::Impl::SetTimeout(IDispatch* function, UINT delayMs) {
  if (!started) return 0;
  const UINT_PTR id = ::SetTimer(nullptr, 0, delayMs, &OnTimeout);
  if (id == 0) return 0;
  function->AddRef();
  timeouts[id] = function;
  TimerOwners()[id] = this;
  return id;
}

void ScriptEngine::Impl::RunTimeout(UINT_PTR id) {
  auto found = timeouts.find(id);
  if (found == timeouts.end()) return;
  base::ComPtr<IDispatch> function(found->second);  // adopts the reference the table held
  timeouts.erase(found);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  ::VariantInit(&result);
  EXCEPINFO exception = {};
  site.ClearFailure();
  const HRESULT hr = function->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &exception, nullptr);
  if (site.Failed())
    base::FormatTruncated(timeoutError, sizeof timeoutError, "in a timeout: %s", site.Message());
  else if (FAILED(hr))
    DescribeException(exception, hr, timeoutError, sizeof timeoutError);
  ::VariantClear(&result);
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
}

void ScriptEngine::Impl::DropTimeouts() {
  for (auto& timeout : timeouts) {
    ::KillTimer(nullptr, timeout.first);
    TimerOwners().erase(timeout.first);
    timeout.second->Release();
  }
  timeouts.clear();
}

ScriptEngine::ScriptEngine() : impl_(std::make_unique<Impl>(nullptr)) {}

ScriptEngine::~ScriptEngine() { Close(); }

bool ScriptEngine::Start(IDispatch* external, char* error, std::size_t errorSize) {
  if (error && errorSize > 0) error[0] = '\0';
  Close();
  impl_ = std::make_unique<Impl>(external);
  Impl& e = *impl_;

  CLSID engineClass = {};
  HRESULT hr = ::CLSIDFromProgID(L"JScript", &engineClass);
  if (FAILED(hr)) {
    Report(error, errorSize, "CLSIDFromProgID", hr);
    return false;
  }
  hr = ::CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, e.engine.PutVoid());
  if (FAILED(hr)) {
    Report(error, errorSize, "CoCreateInstance", hr);
    return false;
  }
  hr = e.engine->QueryInterface(__uuidof(ScriptParse), e.parser.PutVoid());
  if (FAILED(hr)) {
    Report(error, errorSize, "QueryInterface(IActiveScriptParse)", hr);
  } else if (FAILED(hr = e.engine->SetScriptSite(&e.site))) {
    Report(error, errorSize, "SetScriptSite", hr);
  } else if (FAILED(hr = e.parser->InitNew())) {
    Report(error, errorSize, "InitNew", hr);
  } else if (external && FAILED(hr = e.engine->AddNamedItem(L"external", SCRIPTITEM_ISVISIBLE))) {
    Report(error, errorSize, "AddNamedItem(external)", hr);
  } else if (FAILED(hr = e.engine->AddNamedItem(L"window", SCRIPTITEM_ISVISIBLE))) {
    Report(error, errorSize, "AddNamedItem(window)", hr);
  } else if (FAILED(hr = e.engine->SetScriptState(SCRIPTSTATE_STARTED))) {
    Report(error, errorSize, "SetScriptState", hr);
  } else {
    e.started = true;
    return true;
  }
  Close();
  return false;
}

bool ScriptEngine::Run(const wchar_t* code, char* error, std::size_t errorSize) {
  if (error && errorSize > 0) error[0] = '\0';
  Impl& e = *impl_;
  if (!code) {
    Report(error, errorSize, "RunJScript (no code)", E_POINTER);
    return false;
  }
  if (!e.started) {
    Report(error, errorSize, "ScriptEngine::Run (not started)", E_UNEXPECTED);
    return false;
  }
  e.site.ClearFailure();
  EXCEPINFO exception = {};
  const HRESULT hr = e.parser->ParseScriptText(code, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &exception);
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  if (e.site.Failed()) {
    if (error && errorSize > 0) base::FormatTruncated(error, errorSize, "%s", e.site.Message());
    return false;
  }
  if (FAILED(hr)) {
    Report(error, errorSize, "ParseScriptText", hr);
    return false;
  }
  return true;
}

std::size_t ScriptEngine::PendingTimeouts() const { return impl_->timeouts.size(); }

const char* ScriptEngine::LastTimeoutError() const { return impl_->timeoutError; }

void ScriptEngine::Close() {
  Impl& e = *impl_;
  e.DropTimeouts();
  e.started = false;
  e.parser.Reset();
  if (e.engine) e.engine->Close();
  e.engine.Reset();
}

bool RunJScript(const wchar_t* code, IDispatch* external, char* error, std::size_t errorSize) {
  if (error && errorSize > 0) error[0] = '\0';
  if (!code) {
    Report(error, errorSize, "RunJScript (no code)", E_POINTER);
    return false;
  }
  ScriptEngine engine;
  return engine.Start(external, error, errorSize) && engine.Run(code, error, errorSize);
}

}  // namespace web
