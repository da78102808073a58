#include "update/transfer/system_proxy.h"

#include "update/transfer/curl_transfer.h"  // libcurl before windows.h: it brings winsock2.h

#include <windows.h>

#include "update/download_log.h"

namespace update {

namespace {

const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string ReadString(HKEY key, const char* name) {
  char value[2048] = {};
  DWORD type = 0;
  DWORD size = sizeof value - 1;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return "";
  value[size < sizeof value ? size : sizeof value - 1] = '\0';
  return value;
}

// An open registry key, closed on every path out.
struct RegistryKey {
  HKEY key = nullptr;
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key != nullptr) ::RegCloseKey(key);
  }
};

}  // namespace

SystemProxySettings ReadSystemProxySettings() {
  SystemProxySettings settings;
  RegistryKey opened;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_READ, &opened.key) != ERROR_SUCCESS)
    return settings;
  const HKEY key = opened.key;
  DWORD enabled = 0;
  DWORD type = 0;
  DWORD size = sizeof enabled;
  if (::RegQueryValueExA(key, "ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD)
    settings.enabled = enabled != 0;
  settings.server = ReadString(key, "ProxyServer");
  settings.bypass = ReadString(key, "ProxyOverride");
  return settings;
}

void ApplyProxy(CURL* handle, const ProxyConfig& config, const char* url) {
  const ProxyChoice choice = ChooseProxy(config.configured, config.system, url != nullptr ? url : "");
  if (choice.direct) {
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    return;
  }
  // An HTTP proxy: https:// goes through it with CONNECT.
  const std::string proxy = "http://" + choice.proxy;
  curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str());  // libcurl copies it
}

void LogProxyConfig(const ProxyConfig& config) {
  if (!config.configured.empty()) {
    WriteLog("Proxy: %s (Config.cfg)\n", config.configured.c_str());
  } else if (config.system.enabled && !config.system.server.empty()) {
    WriteLog("Proxy: %s, not for %s (Internet Settings)\n", config.system.server.c_str(),
             config.system.bypass.empty() ? "-" : config.system.bypass.c_str());
  }
}

}  // namespace update
