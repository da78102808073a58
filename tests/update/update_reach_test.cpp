// The launcher's reach in whole worker runs: an archive mirror takes over
// from a host that answers 404 or serves wrong bytes, a descriptor mirror
// from a Url that cannot be reached, and every request goes through the
// proxy that the user's Internet Settings or [VersionCDN] Proxy= name (and
// none with Proxy=none), as the logging proxy on loopback shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"

namespace {

using namespace testing_update;

const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The user's Internet Settings for one test, put back as they were after it.
class InternetSettings {
 public:
  InternetSettings() { ::RegCreateKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr); }
  ~InternetSettings() {
    ::RegDeleteValueA(key_, "ProxyEnable");
    ::RegDeleteValueA(key_, "ProxyServer");
    ::RegDeleteValueA(key_, "ProxyOverride");
    ::RegCloseKey(key_);
  }
  void Set(DWORD enable, const std::string& server, const std::string& bypass) {
    ::RegSetValueExA(key_, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
    ::RegSetValueExA(key_, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                     static_cast<DWORD>(server.size() + 1));
    ::RegSetValueExA(key_, "ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(bypass.c_str()),
                     static_cast<DWORD>(bypass.size() + 1));
  }

 private:
  HKEY key_ = nullptr;
};

class Reach : public Worker {
 protected:
  void SetUp() override {
    Worker::SetUp();
    PlaceGame();
    archive_ = {{"data/", "", 0x10}, {"data/a.pak", "the client", 0x20}};
  }
  // The descriptor of version 1 whose archive lies at `url` and `url2`.
  std::string Descriptor1(const std::string& url, const std::string& url2, bool digest = true) {
    ServeZip("good.zip", archive_);
    const std::string bytes = ReadWholeFile(served_ / "good.zip");
    std::string text = "[Launcher]\r\nVersion=1\r\nUrl=" + url + "\r\nUrl2=" + url2 + "\r\n";
    if (digest) text += "Sha256=" + Sha256Hex(bytes) + "\r\nSize=" + std::to_string(bytes.size()) + "\r\n";
    return text;
  }
  std::size_t ProxyLines() const {
    const std::string log = ReadWholeFile(ServerEnv("LAUNCHER_PROXY_LOG_WIN"));
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
  }
  std::string ProxyLogSince(std::size_t lines) const {
    std::string log = ReadWholeFile(ServerEnv("LAUNCHER_PROXY_LOG_WIN"));
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines && at != std::string::npos; ++i) at = log.find('\n', at) + 1;
    return at == std::string::npos ? "" : log.substr(at);
  }
  std::vector<ZipEntry> archive_;
};

TEST_F(Reach, AnArchiveMirrorTakesOverFromAHostThatFailsOrServesWrongBytes) {
  struct Case {
    const char* label;
    const char* firstHost;  // what Url names
    const char* logged;     // the first host's failure in the log
  };
  const Case cases[] = {
      {"Url answers 404", "missing.zip", "curl ("},
      {"Url serves another archive", "other.zip", "Refused archive: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    ServeZip("other.zip", {{"data/", "", 0x10}, {"data/a.pak", "not the client", 0x20}});
    const std::string descriptor = Descriptor1(HttpUrl(served_.UrlPath(c.firstHost)), HttpUrl(served_.UrlPath("good.zip")));
    const Observed seen = Run(Serve("version.cfg", descriptor));
    EXPECT_TRUE(seen.boxes.empty()) << Log();
    EXPECT_EQ(1, InstalledVersion()) << Log();
    EXPECT_EQ("the client", ReadWholeFile(Game() + "\\data\\a.pak"));
    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
    EXPECT_NE(std::string::npos, log.find("Trying the next mirror of the archive (")) << log;
    EXPECT_NE(std::string::npos, log.find("Fetched the archive from mirror (" + HttpUrl(served_.UrlPath("good.zip")))) << log;
  }
}

TEST_F(Reach, ArchiveMirrorsWithoutADigestSaySoInTheLog) {
  const Observed seen = Run(Serve("version.cfg", Descriptor1(HttpUrl(served_.UrlPath("missing.zip")),
                                                             HttpUrl(served_.UrlPath("good.zip")), false)));
  EXPECT_TRUE(seen.boxes.empty()) << Log();
  EXPECT_EQ(1, InstalledVersion()) << Log();
  EXPECT_NE(std::string::npos, Log().find("without a Sha256 to check it by")) << Log();
}

TEST_F(Reach, ADescriptorMirrorIsUsedWhenUrlCannotBeReached) {
  versionUrl2_ = Serve("version.cfg", Descriptor1(HttpUrl(served_.UrlPath("good.zip")), ""));
  const Observed seen = Run("http://127.0.0.1:1/version.cfg");  // a closed port
  EXPECT_TRUE(seen.boxes.empty()) << Log();
  EXPECT_EQ(1, InstalledVersion()) << Log();
  EXPECT_NE(std::string::npos, Log().find("Fetched version.cfg from mirror (" + versionUrl2_)) << Log();
}

TEST_F(Reach, EveryRequestGoesThroughTheProxyThatTheSettingsName) {
  const std::string proxy = "127.0.0.1:" + ServerEnv("LAUNCHER_PROXY_PORT");
  struct Case {
    const char* label;
    bool systemProxy;        // Internet Settings name the proxy
    std::string configured;  // [VersionCDN] Proxy=
    bool https;              // the descriptor over HTTPS: a CONNECT tunnel
    bool throughProxy;
  };
  const Case cases[] = {
      {"Internet Settings", true, "", false, true},
      {"Internet Settings, HTTPS through CONNECT", true, "", true, true},
      {"Proxy=none goes direct", true, "none", false, false},
      {"Proxy= overrides the system", false, proxy, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    InternetSettings settings;
    if (c.systemProxy) settings.Set(1, "http=" + proxy + ";https=" + proxy, "<local>;*.invalid");
    proxy_ = c.configured;
    const std::string descriptor = Descriptor1(HttpUrl(served_.UrlPath("good.zip")), "");
    Serve("version.cfg", descriptor);
    const std::string versionUrl = c.https ? HttpsUrl(served_.UrlPath("version.cfg")) : HttpUrl(served_.UrlPath("version.cfg"));
    const std::size_t before = ProxyLines();
    const Observed seen = Run(versionUrl);
    EXPECT_TRUE(seen.boxes.empty()) << Log();
    EXPECT_EQ(1, InstalledVersion()) << Log();
    const std::string asked = ProxyLogSince(before);
    if (c.throughProxy) {
      EXPECT_NE(std::string::npos, asked.find(c.https ? "CONNECT 127.0.0.1:" : "GET " + versionUrl)) << asked;
      EXPECT_NE(std::string::npos, asked.find("GET " + HttpUrl(served_.UrlPath("good.zip")))) << asked;
    } else {
      EXPECT_EQ("", asked);
    }
  }
}

}  // namespace
