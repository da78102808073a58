#include "update/run/update_state.h"

#include "base/decimal_text.h"

namespace update {

namespace {

void AppendPair(std::string* out, const char* key, std::uint64_t value) {
  out->push_back(';');
  out->append(key);
  out->push_back('=');
  base::AppendDecimal(out, value);
}

void AppendSigned(std::string* out, const char* key, std::int32_t value) {
  out->push_back(';');
  out->append(key);
  out->push_back('=');
  if (value < 0) out->push_back('-');
  // The magnitude of the lowest 32-bit number does not fit its own type.
  const std::int64_t wide = value;
  base::AppendDecimal(out, static_cast<std::uint64_t>(wide < 0 ? -wide : wide));
}

}  // namespace

const char* UpdateStageName(UpdateStage stage) {
  switch (stage) {
    case UpdateStage::Checking: return "checking";
    case UpdateStage::Current: return "current";
    case UpdateStage::Fetching: return "fetching";
    case UpdateStage::Ready: return "ready";
    case UpdateStage::Failed: return "failed";
    case UpdateStage::Offline: return "offline";
  }
  return "checking";
}

std::string FormatUpdateState(const UpdateState& state) {
  std::string out = "state=";
  out.append(UpdateStageName(state.stage));
  if (state.installedKnown) AppendSigned(&out, "installed", state.installed);
  if (state.availableKnown) AppendSigned(&out, "available", state.available);
  if (state.stage == UpdateStage::Fetching || state.stage == UpdateStage::Ready) {
    AppendPair(&out, "done", state.fetch.done);
    AppendPair(&out, "total", state.fetch.total);
  }
  if (state.nextNamed) {
    AppendSigned(&out, "next", state.next);
    AppendPair(&out, "nextdone", state.nextFetch.done);
    AppendPair(&out, "nexttotal", state.nextFetch.total);
  }
  return out;
}

UpdateState WithLiveBytes(UpdateState state, const ByteCount* fetch, const ByteCount* next) {
  if (state.fetchLive && fetch != nullptr) state.fetch = *fetch;
  if (state.nextLive && next != nullptr) state.nextFetch = *next;
  if (state.nextLive && (next == nullptr || next->total == 0)) state.nextNamed = false;
  return state;
}

}  // namespace update
