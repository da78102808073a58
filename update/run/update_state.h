// How the update stands, as the page's script sees it through
// window.external.UpdateState(): one string of key=value pairs joined by
// ";", such as "state=fetching;installed=1;available=2;done=1048576;total=20971520".
// The worker thread writes the state; the GUI thread reads it while page
// script runs, so it sits behind one lock. Pure: no windows.h.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace update {

enum class UpdateStage : std::uint8_t {
  Checking,  // the descriptor is being fetched and checked (or nothing is known yet)
  Current,   // the installed client is the live version
  Fetching,  // what the live version needs is being fetched into Temp
  Ready,     // all of it is in Temp: the click only commits it
  Failed,    // a step failed (logged); the click tries again
  Offline,   // the descriptor could not be fetched from any host
};

// Bytes of a fetch: `total` 0 while no total is known.
struct ByteCount {
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

struct UpdateState {
  UpdateStage stage = UpdateStage::Checking;
  bool installedKnown = false;
  std::int32_t installed = 0;  // install.cfg's Version
  bool availableKnown = false;
  std::int32_t available = 0;  // the live version the descriptor names
  ByteCount fetch;             // the live version's fetch (shown while fetching and when ready)
  bool fetchLive = false;      // its bytes are the running transfers' count
  bool nextNamed = false;      // the descriptor names a next version fetched ahead
  std::int32_t next = 0;
  ByteCount nextFetch;
  bool nextLive = false;  // its bytes are the running transfers' count
};

// "fetching", "ready", ... as the state string spells them.
const char* UpdateStageName(UpdateStage stage);

// "state=S", then "installed=N" and "available=N" when known, "done=D" and
// "total=T" while fetching and when ready, and "next=V", "nextdone=D",
// "nexttotal=T" when a next version is fetched ahead; joined by ";".
std::string FormatUpdateState(const UpdateState& state);

// The state with the bytes the transfers count right now in place of the
// ones recorded, where the state says they are live and a count is given
// (null: no transfer counts bytes at the moment, the recorded ones stand).
// A next version whose fetch counts no bytes yet is not shown: its total is
// not known, and a page must not take 0 of 0 for done.
UpdateState WithLiveBytes(UpdateState state, const ByteCount* fetch, const ByteCount* next);

// The one place the state is kept: written by the worker, read by the bridge.
class UpdateStateBoard {
 public:
  void Publish(const UpdateState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
  }
  UpdateState Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
  }

 private:
  mutable std::mutex mutex_;
  UpdateState state_;
};

}  // namespace update
