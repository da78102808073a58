// Which proxy a transfer goes through: the launcher's own `[VersionCDN]
// Proxy=` when it is set ("none": direct; "host:port": that proxy for every
// request), else the current user's Internet Settings, the ones the
// web-browser control uses (ProxyEnable, ProxyServer in its one-proxy or its
// per-scheme form "http=h:p;https=h:p", ProxyOverride's host patterns with
// "*" and "<local>"). Automatic configuration scripts are not read. Pure: the
// caller reads the registry.
#pragma once

#include <cstddef>
#include <string>

namespace update {

struct SystemProxySettings {
  bool enabled = false;        // ProxyEnable != 0
  std::string server;          // ProxyServer
  std::string bypass;          // ProxyOverride
};

struct ProxyChoice {
  bool direct = true;
  std::string proxy;  // "host:port" when not direct
  enum class From { None, Config, System } from = From::None;
};

// The proxy for `url` (http:// or https://). `configured` is the value of
// `[VersionCDN] Proxy=` ("" when absent).
ProxyChoice ChooseProxy(const std::string& configured, const SystemProxySettings& system, const std::string& url);

// Whether `host` matches one of the semicolon-separated patterns of
// ProxyOverride: "*" stands for any run of characters, letters match in
// either case, and "<local>" matches a host name without a dot.
bool BypassesProxy(const std::string& host, const std::string& patterns);

// The host of an http:// or https:// URL ("" when it has none), without
// user, port or brackets.
std::string UrlHost(const std::string& url);

}  // namespace update
