// The demo start page's inline script, run through JScript the way the
// scripted launcher runs it (only window and window.external, no document),
// must hand the game parameters to IntoGame exactly once.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>

#include "start_page.h"
#include "web/js_dispatch.h"
#include "web/jscript_runner.h"

namespace {

int g_calls = 0;
std::string g_text;

void RecordIntoGame(DISPPARAMS* params) {
  static char text[web::kIntoGameTextSize];
  ++g_calls;
  if (web::ConvertIntoGameArgument(params, text, sizeof(text))) g_text = text;
}

std::wstring InlineScript(const std::string& page) {
  const size_t open = page.find("<script");
  const size_t start = page.find('>', open);
  const size_t end = page.find("</script>", start);
  if (open == std::string::npos || start == std::string::npos || end == std::string::npos) return L"";
  const std::string utf8 = page.substr(start + 1, end - start - 1);
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

TEST(DemoStartPage, ScriptWithoutDocumentEntersTheGameOnce) {
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
  const std::wstring script = InlineScript(kDemoStartPage);
  ASSERT_FALSE(script.empty());
  {
    web::JsDispatch bridge(&RecordIntoGame);
    char error[512] = {};
    EXPECT_TRUE(web::RunJScript(script.c_str(), &bridge, error, sizeof error)) << error;
  }
  EXPECT_EQ(1, g_calls);
  EXPECT_EQ("server=demo-1;user=demo;mode=window", g_text);
  OleUninitialize();
}

}  // namespace
