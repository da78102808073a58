// The proxy a transfer takes: the launcher's own Proxy= first ("none" goes
// direct), then the user's Internet Settings in their one-proxy and
// per-scheme forms, with ProxyOverride's patterns and <local>.
#include "update/transfer/proxy_rules.h"

#include <gtest/gtest.h>

namespace {

using update::ProxyChoice;

TEST(ProxyRules, TheConfiguredProxyThenTheSystemsPerSchemeAndBypassed) {
  const update::SystemProxySettings off;
  update::SystemProxySettings one;
  one.enabled = true;
  one.server = "proxy.corp:8080";
  one.bypass = "*.intra.example;<local>; 10.* ";
  update::SystemProxySettings perScheme = one;
  perScheme.server = "ftp=f:21;http=http://hp:3128; https=sp:3129";
  update::SystemProxySettings httpOnly = one;
  httpOnly.server = "http=hp:3128";
  update::SystemProxySettings disabled = one;
  disabled.enabled = false;

  struct Case {
    const char* label;
    const char* configured;
    const update::SystemProxySettings& system;
    const char* url;
    bool direct;
    const char* proxy;
    ProxyChoice::From from;
  };
  const Case cases[] = {
      {"nothing set", "", off, "http://cdn.example/v.cfg", true, "", ProxyChoice::From::None},
      {"Proxy= wins over the system", "own:1080", one, "https://cdn.example/v.cfg", false, "own:1080",
       ProxyChoice::From::Config},
      {"Proxy=none goes direct", " None ", one, "http://cdn.example/v.cfg", true, "", ProxyChoice::From::Config},
      {"the system's one proxy, https too", "", one, "https://cdn.example/v.cfg", false, "proxy.corp:8080",
       ProxyChoice::From::System},
      {"ProxyEnable=0", "", disabled, "http://cdn.example/v.cfg", true, "", ProxyChoice::From::None},
      {"per scheme: http", "", perScheme, "http://cdn.example/a", false, "hp:3128", ProxyChoice::From::System},
      {"per scheme: https", "", perScheme, "HTTPS://cdn.example/a", false, "sp:3129", ProxyChoice::From::System},
      {"no entry for the scheme: direct", "", httpOnly, "https://cdn.example/a", true, "", ProxyChoice::From::System},
      {"a wildcard pattern", "", one, "http://A.Intra.Example:81/x", true, "", ProxyChoice::From::System},
      {"a pattern that does not match", "", one, "http://intra.example.com/x", false, "proxy.corp:8080",
       ProxyChoice::From::System},
      {"<local>: a name without a dot", "", one, "http://fileserver/x", true, "", ProxyChoice::From::System},
      {"loopback by address is not <local>", "", one, "http://127.0.0.1:8080/x", false, "proxy.corp:8080",
       ProxyChoice::From::System},
      {"an address pattern", "", one, "http://user@10.1.2.3/x", true, "", ProxyChoice::From::System},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const ProxyChoice choice = update::ChooseProxy(c.configured, c.system, c.url);
    EXPECT_EQ(c.direct, choice.direct);
    EXPECT_EQ(c.proxy, choice.proxy);
    EXPECT_EQ(c.from, choice.from);
  }
}

TEST(ProxyRules, HostsOfUrls) {
  EXPECT_EQ("cdn.example", update::UrlHost("https://u:p@CDN.example:8443/a?b"));
  EXPECT_EQ("::1", update::UrlHost("http://[::1]:80/"));
  EXPECT_EQ("", update::UrlHost("no scheme"));
}

}  // namespace
