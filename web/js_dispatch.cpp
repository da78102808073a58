#include "web/js_dispatch.h"

#include <climits>
#include <string>
#include <cstring>

namespace web {

namespace {

// Method names are converted into a buffer of this size; longer names are
// simply not found.
constexpr int kNameBufferSize = 64;

struct MethodName {
  const char* name;
  DISPID id;
};

constexpr MethodName kMethods[] = {
    {"IntoGame", JsDispatch::kIntoGame},
    {"LoginFail", JsDispatch::kLoginFail},
    {"NewUser", JsDispatch::kNewUser},
    {"Repair", JsDispatch::kRepair},
    {"UpdateState", JsDispatch::kUpdateState},
};

// The state text is ASCII: each byte becomes one wide character.
void ReturnString(const std::string& text, VARIANT* result) {
  std::wstring wide(text.begin(), text.end());
  ::VariantInit(result);
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace

JsDispatch::JsDispatch(IntoGameHandler handler, IntoGameHandler repairHandler, StateReader stateReader)
    : intoGame(handler), repair(repairHandler), updateState(stateReader) {}

HRESULT JsDispatch::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG JsDispatch::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount)); }

ULONG JsDispatch::Release() { return static_cast<ULONG>(InterlockedDecrement(&refCount)); }

HRESULT JsDispatch::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT JsDispatch::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT JsDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !names[0] || !ids || count == 0) return S_OK;
  char name[kNameBufferSize] = {};
  if (::WideCharToMultiByte(CP_ACP, 0, names[0], -1, name, kNameBufferSize, nullptr, nullptr) == 0)
    return S_OK;
  for (const MethodName& method : kMethods) {
    if (std::strcmp(name, method.name) == 0) ids[0] = method.id;
  }
  return S_OK;
}

HRESULT JsDispatch::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                           UINT*) {
  switch (id) {
    case kIntoGame:
      if (intoGame) intoGame(params);
      break;
    case kRepair:
      if (repair) repair(params);
      break;
    case kUpdateState:
      if (updateState && result) ReturnString(updateState(), result);
      break;
    case kLoginFail:
    case kNewUser:
      // Recognised so that the page's calls succeed; nothing is attached.
      break;
    default:
      break;
  }
  return S_OK;
}

bool ConvertIntoGameArgument(const DISPPARAMS* params, char* out, std::size_t size) {
  if (!out || size == 0) return false;
  std::memset(out, 0, size);
  if (!params || params->cArgs == 0 || !params->rgvarg) return false;
  const VARIANT& last = params->rgvarg[0];
  if (V_VT(&last) != VT_BSTR || V_BSTR(&last) == nullptr) return false;
  const int capacity = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  if (::WideCharToMultiByte(CP_ACP, 0, V_BSTR(&last), -1, out, capacity, nullptr, nullptr) == 0) {
    std::memset(out, 0, size);  // a failed conversion may have left a cut prefix
    return false;
  }
  return true;
}

}  // namespace web
