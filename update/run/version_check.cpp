#include "update/run/version_check.h"

#include "base/bounded_format.h"
#include "update/download_log.h"
#include "update/run/player_messages.h"
#include "update/transfer/http_download.h"

namespace update {

namespace {

constexpr int kCurlUrlMalformat = 3;  // CURLE_URL_MALFORMAT

}  // namespace

bool VersionCheck::LoadKeys() {
  return LoadTrustedKeys(run_.Setup().publicKey, run_.Setup().publicKey2, &keys_);
}

bool VersionCheck::Fetch() {
  const WorkerSetup& setup = run_.Setup();
  const char* bases[] = {setup.versionCdnUrl, setup.versionCdnUrl2, setup.versionCdnUrl3};
  for (std::size_t i = 0; i < sizeof bases / sizeof bases[0]; ++i) {
    if (i != 0 && (bases[i] == nullptr || bases[i][0] == '\0')) continue;
    if (i != 0) WriteLog("Trying the next mirror of version.cfg (%s)\n", bases[i]);
    base_ = bases[i] != nullptr ? bases[i] : "";
    if (FetchFrom(base_)) {
      if (i != 0) WriteLog("Fetched version.cfg from mirror (%s)\n", base_);
      return true;
    }
    if (run_.Stopping()) return false;
  }
  return false;
}

bool VersionCheck::FetchFrom(const char* base) {
  tick_ = ::GetTickCount();
  char url[kPathSize] = {};
  if (!ComposeTickUrl(url, sizeof url, base, tick_)) {
    LogTransferFailure(base, kCurlUrlMalformat);
    return false;
  }
  RunPaths& paths = run_.Paths();
  if (!keys_.Configured())
    return run_.FetchIntoTemp(url, "version.cfg", paths.versionFile, sizeof paths.versionFile, nullptr);
  LimitCheck limit(kMaxSignedDescriptorBytes);
  if (run_.FetchIntoTemp(url, "version.cfg", paths.versionFile, sizeof paths.versionFile, &limit))
    return FetchSignature();
  if (limit.Exceeded()) LogDescriptorRefusal(DescriptorRefusal::DescriptorTooLarge);
  return false;
}

bool VersionCheck::FetchSignature() {
  char base[kPathSize] = {};
  char url[kPathSize] = {};
  if (!base::FormatInto(base, sizeof base, "%s.minisig", base_) || !ComposeTickUrl(url, sizeof url, base, tick_)) {
    LogTransferFailure(base, kCurlUrlMalformat);
    LogDescriptorRefusal(DescriptorRefusal::SignatureNotFetched);
    return false;
  }
  LimitCheck limit(kMaxSignatureFileBytes);
  RunPaths& paths = run_.Paths();
  if (run_.FetchIntoTemp(url, "version.cfg.minisig", paths.signatureFile, sizeof paths.signatureFile, &limit))
    return true;
  LogDescriptorRefusal(limit.Exceeded() ? DescriptorRefusal::SignatureTooLarge
                                        : DescriptorRefusal::SignatureNotFetched);
  return false;
}

bool VersionCheck::Trust(TrustedDescriptor* out) const {
  const RunPaths& paths = run_.Paths();
  *out = TrustedDescriptor{};
  if (keys_.Configured() && !CheckDescriptorSignature(paths.versionFile, paths.signatureFile, keys_)) return false;
  if (!ReadArchiveExpectation(paths.versionFile, keys_.Configured(), &out->archive) ||
      !ReadManifestExpectation(paths.versionFile, keys_.Configured(), &out->manifest))
    return false;
  out->version = static_cast<std::int32_t>(::GetPrivateProfileIntA(kLauncherSection, "Version", 0, paths.versionFile));
  char nextVersion[16] = {};
  ::GetPrivateProfileStringA(kLauncherSection, "NextVersion", "", nextVersion, sizeof nextVersion, paths.versionFile);
  if (nextVersion[0] != '\0') {
    NextRelease& next = out->next;
    next.named = true;
    next.version =
        static_cast<std::int32_t>(::GetPrivateProfileIntA(kLauncherSection, "NextVersion", 0, paths.versionFile));
    if (!ReadArchiveExpectation(paths.versionFile, keys_.Configured(), &next.archive, "Next") ||
        !ReadManifestExpectation(paths.versionFile, keys_.Configured(), &next.manifest, "Next"))
      return false;
  }
  out->signedByKey = keys_.Configured();
  out->fetchedAt = tick_;
  return true;
}

}  // namespace update
