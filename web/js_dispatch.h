// The page's way back into the launcher: an automation object that page script
// reaches as window.external. It publishes IntoGame, LoginFail, NewUser,
// Repair and UpdateState; IntoGame and Repair do something, UpdateState
// answers with a string, and what they do belongs to the launcher, which
// hands the bridge its handlers at construction.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <string>

namespace web {

// Size of the ANSI buffer that receives the game parameters from IntoGame.
constexpr std::size_t kIntoGameTextSize = 65536;

class JsDispatch : public IDispatch {
 public:
  // Called on the GUI thread with the arguments of IntoGame (or Repair),
  // last one first.
  using IntoGameHandler = void (*)(DISPPARAMS*);
  // Called on the GUI thread for UpdateState(): how the update stands, in
  // ASCII ("state=fetching;installed=1;...").
  using StateReader = std::string (*)();

  enum MethodId : DISPID { kIntoGame = 1, kLoginFail = 2, kNewUser = 3, kRepair = 4, kUpdateState = 5 };

  // Repair takes the same arguments as IntoGame; without a handler of its
  // own it does nothing. Without a state reader UpdateState returns nothing.
  explicit JsDispatch(IntoGameHandler handler, IntoGameHandler repairHandler = nullptr,
                      StateReader stateReader = nullptr);
  virtual ~JsDispatch() = default;
  JsDispatch(const JsDispatch&) = delete;
  JsDispatch& operator=(const JsDispatch&) = delete;

  // IUnknown. The count never decides the lifetime: the page host owns the
  // bridge and deletes it.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch without type information: a fixed name table and a switch.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  // Looks up the first name only (case-sensitive) and always answers S_OK;
  // an unknown name leaves rgDispId[0] as the caller passed it.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  // Dispatches on the identifier alone; always S_OK. Only UpdateState
  // returns a value (a BSTR in `result`, when the caller asks for one).
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

 private:
  LONG refCount = 1;
  IntoGameHandler intoGame;
  IntoGameHandler repair;
  StateReader updateState;
};

// The converting half of IntoGame: zero-fills `out` and converts the call's
// last argument (rgvarg[0]) to the ANSI code page. False, with `out` empty,
// when there is no argument, it is not a string, the string is null, or its
// ANSI form does not fit in `size` bytes with the terminator. Characters the
// code page cannot show arrive as its default character.
bool ConvertIntoGameArgument(const DISPPARAMS* params, char* out, std::size_t size);

}  // namespace web
