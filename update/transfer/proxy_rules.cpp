#include "update/transfer/proxy_rules.h"

#include <cctype>

namespace update {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// `text` split at `separator`, each part trimmed, empty parts left out.
template <typename Visit>
void ForEachPart(const std::string& text, char separator, Visit visit) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    const std::string part = Trim(text.substr(start, end - start));
    if (!part.empty() && !visit(part)) return;
    start = end + 1;
  }
}

// Glob match with "*" only, both sides in lower case.
bool Matches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* at = text;; ++at) {
      if (Matches(pattern + 1, at)) return true;
      if (*at == '\0') return false;
    }
  }
  return *text != '\0' && *pattern == *text && Matches(pattern + 1, text + 1);
}

// A proxy as ProxyServer writes it, maybe with a scheme ("http://h:p"): host:port.
std::string ProxyAddress(const std::string& value) {
  const std::size_t scheme = value.find("://");
  return scheme == std::string::npos ? value : value.substr(scheme + 3);
}

}  // namespace

std::string UrlHost(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return "";
  std::size_t start = scheme + 3;
  std::size_t end = url.find_first_of("/?#", start);
  if (end == std::string::npos) end = url.size();
  std::string authority = url.substr(start, end - start);
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    return close == std::string::npos ? "" : Lower(authority.substr(1, close - 1));
  }
  const std::size_t colon = authority.find(':');
  return Lower(colon == std::string::npos ? authority : authority.substr(0, colon));
}

bool BypassesProxy(const std::string& host, const std::string& patterns) {
  const std::string name = Lower(host);
  bool bypass = false;
  ForEachPart(patterns, ';', [&](const std::string& pattern) {
    const std::string p = Lower(pattern);
    bypass = p == "<local>" ? name.find('.') == std::string::npos && name.find(':') == std::string::npos
                            : Matches(p.c_str(), name.c_str());
    return !bypass;
  });
  return bypass;
}

ProxyChoice ChooseProxy(const std::string& configured, const SystemProxySettings& system, const std::string& url) {
  ProxyChoice choice;
  const std::string own = Trim(configured);
  if (!own.empty()) {
    choice.from = ProxyChoice::From::Config;
    if (Lower(own) != "none") {
      choice.direct = false;
      choice.proxy = ProxyAddress(own);
    }
    return choice;
  }
  if (!system.enabled || Trim(system.server).empty()) return choice;
  choice.from = ProxyChoice::From::System;
  if (BypassesProxy(UrlHost(url), system.bypass)) return choice;
  const std::string scheme = Lower(url.substr(0, url.find("://")));
  std::string chosen;
  if (system.server.find('=') == std::string::npos) {
    chosen = Trim(system.server);  // one proxy for every scheme
  } else {
    ForEachPart(system.server, ';', [&](const std::string& part) {
      const std::size_t equals = part.find('=');
      if (equals == std::string::npos || Lower(Trim(part.substr(0, equals))) != scheme) return true;
      chosen = Trim(part.substr(equals + 1));
      return false;
    });
  }
  if (!chosen.empty()) {
    choice.direct = false;
    choice.proxy = ProxyAddress(chosen);
  }
  return choice;
}

}  // namespace update
