// The proxy settings every transfer of a run uses: read once from the
// launcher's `[VersionCDN] Proxy=` and the current user's Internet Settings
// (HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings), then
// applied to each transfer's handle (ApplyProxy, update/transfer/curl_transfer.h)
// by the rules of update/transfer/proxy_rules.h.
#pragma once

#include <string>

#include "update/transfer/proxy_rules.h"

namespace update {

struct ProxyConfig {
  std::string configured;       // [VersionCDN] Proxy=, "" when absent
  SystemProxySettings system;
};

// The Internet Settings of the current user (all empty when there are none).
SystemProxySettings ReadSystemProxySettings();

// One log line about the proxy settings in use, when any are set.
void LogProxyConfig(const ProxyConfig& config);

}  // namespace update
