#include "update/run/run_shared.h"

#include <shlwapi.h>

#include <cstring>

#include "base/bounded_format.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/run/player_messages.h"
#include "update/transfer/http_download.h"

namespace update {

CutPath::CutPath(const char* directory, const char* name) {
  base::FormatTruncated(text, sizeof text, "%s\\%s", directory, name);
}

CommitPlace RunPaths::Place() const {
  CommitPlace place;
  place.gameDirectory = game;
  place.stagingDirectory = staging;
  place.journalPath = journal;
  return place;
}

ManifestUpdateSetup RunPaths::ManifestSetup(const char* tempDirectory) const {
  ManifestUpdateSetup setup;
  setup.place = Place();
  setup.tempDirectory = tempDirectory;
  setup.installRecord = installRecord;
  setup.installedManifest = installedManifest;
  return setup;
}

bool ComposeManifestUrl(char* out, std::size_t size, const ManifestExpectation& manifest) {
  return manifest.content.hasDigest ? ComposeDigestUrl(out, size, manifest.url, manifest.content.digest)
                                    : ComposeTickUrl(out, size, manifest.url, ::GetTickCount());
}

RunShared::RunShared(const WorkerSetup& setup, const HandOver* handOver) : setup_(setup), limits_(setup.limits) {
  proxy_.configured = setup.proxy != nullptr ? setup.proxy : "";
  proxy_.system = ReadSystemProxySettings();
  limits_.proxy = &proxy_;
  limits_.meter = &line_;
  if (handOver != nullptr) limits_.liveReceiveCap = &handOver->ReceiveCap();
}

bool RunShared::PrepareTemp() {
  const DWORD length = ::GetCurrentDirectoryA(sizeof paths_.current, paths_.current);
  if (length == 0 || length >= sizeof paths_.current) {
    std::memset(paths_.current, 0, sizeof paths_.current);
    WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", "Temp", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  if (!ComposePath(paths_.temp, sizeof paths_.temp, paths_.current, "Temp")) {
    WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", CutPath(paths_.current, "Temp").text,
             static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  if (::PathFileExistsA(paths_.temp)) return true;
  if (::CreateDirectoryA(paths_.temp, nullptr)) return true;
  WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", paths_.temp, static_cast<int>(::GetLastError()));
  return false;
}

bool RunShared::ComposeCommitPaths() {
  RunPaths& p = paths_;
  ComposePath(p.installRecord, sizeof p.installRecord, p.current, "install.cfg");
  ComposePath(p.installedManifest, sizeof p.installedManifest, p.current, "install.manifest");
  p.commitPathsFit = p.installRecord[0] != '\0' && ComposePath(p.game, sizeof p.game, p.current, "Game") &&
                     ComposePath(p.staging, sizeof p.staging, p.temp, "Staging") &&
                     ComposePath(p.journal, sizeof p.journal, p.temp, "commit.journal") &&
                     std::strlen(p.journal) + 4 < sizeof p.journal;  // room for its ".tmp"
  return p.commitPathsFit;
}

bool RunShared::PrepareGame() {
  RunPaths& p = paths_;
  if (p.game[0] == '\0') ComposePath(p.game, sizeof p.game, p.current, "Game");
  if (p.game[0] != '\0' && (::PathFileExistsA(p.game) || ::CreateDirectoryA(p.game, nullptr))) return true;
  WriteLog("Failed to CreateDirectory(%s)\n", p.game[0] ? p.game : CutPath(p.current, "Game").text);
  return false;
}

bool RunShared::FetchIntoTemp(const char* url, const char* name, char* localFile, std::size_t localFileSize,
                              BodyCheck* check) {
  if (!ComposePath(localFile, localFileSize, paths_.temp, name)) {
    WriteLog("Failed to open %s\n", CutPath(paths_.temp, name).text);
    return false;
  }
  return FetchFile(localFile, url, setup_.progress, limits_, setup_.retry, check, nullptr, &diskFull_);
}

bool RunShared::Stopping() const { return setup_.progress != nullptr && setup_.progress->stop.Requested(); }

void RunShared::ShowStage(std::int32_t stage, std::int32_t percent) const {
  if (setup_.progress != nullptr) {
    setup_.progress->RaiseLowerTarget(percent);
    setup_.progress->count.Clear();
    setup_.progress->stageIndex.store(stage);
  }
  if (setup_.progressWindow != nullptr) {
    RECT client;
    ::GetClientRect(setup_.progressWindow, &client);
    ::InvalidateRect(setup_.progressWindow, &client, TRUE);
  }
}

void RunShared::StoreUpper(std::int32_t percent) const {
  if (setup_.progress != nullptr) setup_.progress->upperTarget.store(percent);
}

void RunShared::PublishState() const {
  if (setup_.state != nullptr) setup_.state->Publish(state_);
}

void RunShared::ReportStage(UpdateStage stage) {
  state_.stage = stage;
  PublishState();
}

ByteCount CountedBytes(const progress::ProgressTargets& targets) {
  ByteCount bytes;
  const std::int64_t done = targets.count.done.load(std::memory_order_acquire);
  const std::int64_t total = targets.count.total.load(std::memory_order_relaxed);
  if (targets.count.Unit() != progress::CountUnit::Bytes) return bytes;
  bytes.done = done > 0 ? static_cast<std::uint64_t>(done) : 0;
  bytes.total = total > 0 ? static_cast<std::uint64_t>(total) : 0;
  return bytes;
}

ByteCount RunShared::CountedBytes() const {
  return setup_.progress != nullptr ? update::CountedBytes(*setup_.progress) : ByteCount{};
}

void RunShared::CloseLauncher(const char* message) const {
  if (Stopping()) {
    WriteLog("Cancelled\n");
  } else if (message != nullptr) {
    ::MessageBoxA(nullptr, message, kCaption, MB_OK);
  }
  AskMainWindowToClose();
}

void RunShared::AskMainWindowToClose() const { ::PostMessageA(setup_.mainWindow, WM_DESTROY, 0, 0); }

}  // namespace update
