// The script bridge, driven directly and from real JScript.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "web/js_dispatch.h"
#include "web/jscript_runner.h"

namespace {

// What the launcher's IntoGame handler saw.
struct IntoGameRecord {
  int calls = 0;
  int converted = 0;
  std::string text;
};
IntoGameRecord record;
IntoGameRecord repairRecord;

void Record(DISPPARAMS* params, IntoGameRecord* into) {
  static char text[web::kIntoGameTextSize];
  ++into->calls;
  if (web::ConvertIntoGameArgument(params, text, sizeof(text))) {
    ++into->converted;
    into->text = text;
  }
}
void RecordIntoGame(DISPPARAMS* params) { Record(params, &record); }
void RecordRepair(DISPPARAMS* params) { Record(params, &repairRecord); }

class BridgeFromScript : public ::testing::Test {
 protected:
  void SetUp() override {
    record = IntoGameRecord();
    repairRecord = IntoGameRecord();
  }
  web::JsDispatch bridge{&RecordIntoGame, &RecordRepair};
};

TEST_F(BridgeFromScript, CallsReachTheHandler) {
  struct Row {
    const char* name;
    const wchar_t* script;
    int calls;
    int converted;
    std::string text;
  } rows[] = {
      {"through window", L"window.external.IntoGame('a=1;b=2');", 1, 1, "a=1;b=2"},
      {"through external", L"external.IntoGame('token=xyz');", 1, 1, "token=xyz"},
      {"two arguments: the last is used", L"external.IntoGame('first', 'second');", 1, 1, "second"},
      {"empty string", L"external.IntoGame('');", 1, 1, ""},
      {"in code page 936", L"external.IntoGame('\u73a9\u5bb6=1');", 1, 1, "\xCD\xE6\xBC\xD2=1"},
      {"outside code page 936", L"external.IntoGame('a\u0e01b\u0639c');", 1, 1, "a?b?c"},
      {"a number", L"external.IntoGame(42);", 1, 0, ""},
      {"null", L"external.IntoGame(null);", 1, 0, ""},
      {"undefined", L"external.IntoGame(undefined);", 1, 0, ""},
      {"no argument", L"external.IntoGame();", 1, 0, ""},
      {"LoginFail", L"external.LoginFail('x');", 0, 0, ""},
      {"NewUser", L"window.external.NewUser();", 0, 0, ""},
      {"called twice", L"external.IntoGame('1'); external.IntoGame('2');", 2, 2, "2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    record = IntoGameRecord();
    char error[512];
    EXPECT_TRUE(web::RunJScript(row.script, &bridge, error, sizeof(error))) << error;
    EXPECT_EQ(row.calls, record.calls);
    EXPECT_EQ(row.converted, record.converted);
    EXPECT_EQ(row.text, record.text);
  }
}

TEST_F(BridgeFromScript, RepairReachesItsOwnHandlerWithTheSameArguments) {
  struct Row {
    const char* name;
    const wchar_t* script;
    int intoGameCalls;
    int repairCalls;
    int repairConverted;
    std::string repairText;
  } rows[] = {
      {"through window", L"window.external.Repair('a=1;b=2');", 0, 1, 1, "a=1;b=2"},
      {"in code page 936", L"external.Repair('\u73a9\u5bb6=1');", 0, 1, 1, "\xCD\xE6\xBC\xD2=1"},
      {"two arguments: the last is used", L"external.Repair('first', 'second');", 0, 1, 1, "second"},
      {"not a string", L"external.Repair(7);", 0, 1, 0, ""},
      {"no argument", L"external.Repair();", 0, 1, 0, ""},
      {"IntoGame stays IntoGame", L"external.IntoGame('p');", 1, 0, 0, ""},
      {"both", L"external.IntoGame('p'); external.Repair('q');", 1, 1, 1, "q"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    record = IntoGameRecord();
    repairRecord = IntoGameRecord();
    char error[512];
    EXPECT_TRUE(web::RunJScript(row.script, &bridge, error, sizeof(error))) << error;
    EXPECT_EQ(row.intoGameCalls, record.calls);
    EXPECT_EQ(row.repairCalls, repairRecord.calls);
    EXPECT_EQ(row.repairConverted, repairRecord.converted);
    EXPECT_EQ(row.repairText, repairRecord.text);
  }
  // A bridge made without a Repair handler accepts the call and does nothing.
  web::JsDispatch intoGameOnly(&RecordIntoGame);
  record = IntoGameRecord();
  char error[512];
  EXPECT_TRUE(web::RunJScript(L"external.Repair('x');", &intoGameOnly, error, sizeof(error))) << error;
  EXPECT_EQ(0, record.calls);
}

TEST_F(BridgeFromScript, NameInAnotherCaseHasNoEffect) {
  char error[512];
  for (const wchar_t* script : {L"external.intoGame('x');", L"external.INTOGAME('x');",
                                L"window.external.intogame('x');", L"external.repair('x');",
                                L"external.REPAIR('x');"}) {
    web::RunJScript(script, &bridge, error, sizeof(error));  // may or may not raise
    EXPECT_EQ(0, record.calls) << error;
    EXPECT_EQ(0, repairRecord.calls) << error;
  }
}

std::string StateForTest() { return "state=fetching;installed=1;available=2;done=1048576;total=20971520"; }

TEST_F(BridgeFromScript, UpdateStateAnswersWithTheLaunchersString) {
  web::JsDispatch withState(&RecordIntoGame, nullptr, &StateForTest);
  char error[512];
  // The page splits it as it likes; here it hands it back through IntoGame.
  EXPECT_TRUE(web::RunJScript(L"var s = window.external.UpdateState();"
                              L"external.IntoGame(typeof s + ' ' + s.split(';')[0] + ' ' + s);",
                              &withState, error, sizeof(error)))
      << error;
  EXPECT_EQ("string state=fetching " + StateForTest(), record.text);
  // A bridge without a state reader answers nothing, and the page can tell.
  record = IntoGameRecord();
  EXPECT_TRUE(web::RunJScript(L"external.IntoGame(typeof external.UpdateState());", &bridge, error, sizeof(error)))
      << error;
  EXPECT_EQ("undefined", record.text);
}

// Pumps this thread's messages (the thread timers of setTimeout) until
// `done` says so or `seconds` pass.
template <typename Done>
void PumpUntil(Done done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
}

TEST_F(BridgeFromScript, SetTimeoutRunsTheFunctionLaterFromTheMessageLoop) {
  web::ScriptEngine engine;
  char error[512];
  ASSERT_TRUE(engine.Start(&bridge, error, sizeof(error))) << error;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(engine.Run(L"var n = 0;"
                         L"window.setTimeout(function () { n++; external.IntoGame('late ' + n); }, 300);"
                         L"window.setTimeout(function () { n++; }, '50');"  // a delay that converts to a number
                         L"external.IntoGame('now');",
                         error, sizeof(error)))
      << error;
  EXPECT_EQ("now", record.text);  // nothing ran before the script's end
  EXPECT_EQ(2u, engine.PendingTimeouts());
  PumpUntil([&] { return record.calls == 2; }, 10);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(2, record.calls);
  EXPECT_EQ("late 2", record.text);  // the 50 ms one ran first
  EXPECT_GE(waited, std::chrono::milliseconds(280));
  EXPECT_EQ(0u, engine.PendingTimeouts());
  EXPECT_STREQ("", engine.LastTimeoutError());

  // An error in a timeout is kept for the host to report; the engine goes on.
  ASSERT_TRUE(engine.Run(L"window.setTimeout(function () { throw new Error('late boom'); }, 0);"
                         L"window.setTimeout(function () { external.IntoGame('after'); }, 30);",
                         error, sizeof(error)))
      << error;
  PumpUntil([&] { return record.text == "after"; }, 10);
  EXPECT_EQ("after", record.text);
  EXPECT_NE(std::string::npos, std::string(engine.LastTimeoutError()).find("boom")) << engine.LastTimeoutError();

  // What is still pending when the engine closes never runs.
  ASSERT_TRUE(engine.Run(L"window.setTimeout(function () { external.IntoGame('never'); }, 20);", error,
                         sizeof(error)))
      << error;
  engine.Close();
  EXPECT_EQ(0u, engine.PendingTimeouts());
  PumpUntil([] { return false; }, 1);
  EXPECT_EQ("after", record.text);
}

TEST_F(BridgeFromScript, SetTimeoutRefusesWhatIsNotAFunction) {
  char error[512];
  EXPECT_FALSE(web::RunJScript(L"window.setTimeout('external.IntoGame(1)', 10);", &bridge, error, sizeof(error)));
  EXPECT_FALSE(web::RunJScript(L"window.setTimeout();", &bridge, error, sizeof(error)));
  EXPECT_EQ(0, record.calls);
}

TEST(JScriptRunner, ReportsScriptErrors) {
  struct Row {
    const char* name;
    const wchar_t* script;
  } rows[] = {
      {"syntax error", L"external.IntoGame('x'"},
      {"undefined name", L"\nnoSuchThing.call();"},
      {"thrown error", L"throw new Error('boom');"},
  };
  web::JsDispatch bridge(&RecordIntoGame);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char error[512] = "untouched";
    EXPECT_FALSE(web::RunJScript(row.script, &bridge, error, sizeof(error)));
    EXPECT_EQ(0, std::string(error).rfind("line ", 0)) << error;
  }
  char error[512];
  EXPECT_TRUE(web::RunJScript(L"var x = 1 + 1;", nullptr, error, sizeof(error))) << error;
  EXPECT_STREQ("", error);
}

TEST(JsDispatch, NameLookup) {
  web::JsDispatch bridge(nullptr);
  const std::wstring tooLong(64, L'I');
  struct Row {
    const wchar_t* name;
    DISPID expected;  // 77: left as passed
  } rows[] = {
      {L"IntoGame", 1}, {L"LoginFail", 2},     {L"NewUser", 3},  {L"intogame", 77},
      {L"Repair", 4},   {L"repair", 77},       {L"Repair ", 77},
      {L"UpdateState", 5}, {L"updateState", 77},
      {L"IntoGame ", 77}, {L"Into", 77},       {L"", 77},        {tooLong.c_str(), 77},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "name length " << wcslen(row.name));
    LPOLESTR names[] = {const_cast<LPOLESTR>(row.name), const_cast<LPOLESTR>(L"NewUser")};
    DISPID ids[2] = {77, 77};
    EXPECT_EQ(S_OK, bridge.GetIDsOfNames(IID_NULL, names, 2, 0, ids));
    EXPECT_EQ(row.expected, ids[0]);
    EXPECT_EQ(77, ids[1]);  // only the first name is looked up
  }
}

TEST(JsDispatch, ComBehaviour) {
  web::JsDispatch bridge(nullptr);
  void* out = nullptr;
  ASSERT_EQ(S_OK, bridge.QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(static_cast<IDispatch*>(&bridge), out);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, bridge.QueryInterface(IID_IOleObject, &out));
  EXPECT_EQ(nullptr, out);
  // Created with 1, one added by the query: the count goes back down through 0.
  EXPECT_EQ(1u, bridge.Release());
  EXPECT_EQ(0u, bridge.Release());
  UINT count = 99;
  EXPECT_EQ(E_NOTIMPL, bridge.GetTypeInfoCount(&count));
  EXPECT_EQ(99u, count);
  // Still usable at 0; without a handler IntoGame does nothing but succeed.
  VARIANT result;
  ::VariantInit(&result);
  for (DISPID id : {1, 2, 3, 0, -1, 4}) {
    EXPECT_EQ(S_OK, bridge.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr));
    EXPECT_EQ(VT_EMPTY, V_VT(&result));
  }
}

TEST(ConvertIntoGameArgument, RejectsWhatIsNotAStringThatFits) {
  static char out[web::kIntoGameTextSize];
  const std::wstring fits(web::kIntoGameTextSize - 1, L'a');
  const std::wstring tooLong(web::kIntoGameTextSize, L'a');
  const std::wstring wideFits((web::kIntoGameTextSize - 2) / 2, L'\u4e2d');  // 2 bytes each
  const std::wstring wideTooLong(web::kIntoGameTextSize / 2, L'\u4e2d');
  struct Row {
    const char* name;
    bool hasParams;
    UINT cArgs;
    VARTYPE type;
    const wchar_t* text;
    bool expected;
    std::size_t length;
  } rows[] = {
      {"null params", false, 0, VT_EMPTY, nullptr, false, 0},
      {"no arguments", true, 0, VT_BSTR, L"x", false, 0},
      {"not a string", true, 1, VT_I4, nullptr, false, 0},
      {"null string", true, 1, VT_BSTR, nullptr, false, 0},
      {"65,535 bytes", true, 1, VT_BSTR, fits.c_str(), true, fits.size()},
      {"65,536 bytes", true, 1, VT_BSTR, tooLong.c_str(), false, 0},
      {"65,534 bytes of double-byte text", true, 1, VT_BSTR, wideFits.c_str(), true, wideFits.size() * 2},
      {"65,536 bytes of double-byte text", true, 1, VT_BSTR, wideTooLong.c_str(), false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    out[0] = 'X';
    out[sizeof(out) - 2] = 'X';
    VARIANT arg;
    ::VariantInit(&arg);
    V_VT(&arg) = row.type;
    if (row.type == VT_BSTR) V_BSTR(&arg) = row.text ? ::SysAllocString(row.text) : nullptr;
    if (row.type == VT_I4) V_I4(&arg) = 5;
    DISPPARAMS params = {&arg, nullptr, row.cArgs, 0};
    EXPECT_EQ(row.expected, web::ConvertIntoGameArgument(row.hasParams ? &params : nullptr, out, sizeof(out)));
    EXPECT_EQ(row.length, std::string(out).size());
    if (!row.expected) {
      EXPECT_EQ('\0', out[sizeof(out) - 2]);
    }
    ::VariantClear(&arg);
  }
}

}  // namespace
