// The worker's parameter string and its one run; the phases of a run live in
// update/run/.
#include "update/update_worker.h"

#include <algorithm>
#include <cstring>

#include "update/run/hand_over.h"
#include "update/run/update_run.h"

namespace update {

GameParameters::GameParameters() : text_(std::make_unique<char[]>(kSize)) {}

void GameParameters::Store(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t length = text ? std::strlen(text) : 0;
  if (length > kSize - 1) length = kSize - 1;
  if (length != 0) std::memcpy(text_.get(), text, length);
  text_[length] = '\0';
}

void GameParameters::CopyTo(char* out, std::size_t size) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t length = std::min(std::strlen(text_.get()), size - 1);
  std::memcpy(out, text_.get(), length);
  out[length] = '\0';
}

HandOver::HandOver() : enteredEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void HandOver::SetCaps(std::int64_t background, std::int64_t afterClick) {
  afterClick_ = afterClick;
  if (!Entered()) receiveCap_.store(BackgroundReceiveCap(background, afterClick));
}

void HandOver::Enter() {
  receiveCap_.store(afterClick_);  // before the flag: a worker that sees the click sees its cap
  if (!Entered()) enteredAt_.store(::GetTickCount());
  entered_.store(true);
  if (enteredEvent_.Valid()) ::SetEvent(enteredEvent_.Get());
  ahead_.stop.Request();
}

bool HandOver::WaitForEntry(const base::StopRequest& stop) const {
  while (!Entered() && !stop.Requested()) {
    const HANDLE events[] = {enteredEvent_.Get(), stop.Event()};
    if (events[0] == nullptr || events[1] == nullptr) {
      ::Sleep(50);  // without events: look again shortly
      continue;
    }
    ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  }
  return Entered() && !stop.Requested();
}

unsigned RunUpdate(const WorkerSetup& setup, const GameParameters& parameters) {
  UpdateRun run(setup, parameters, nullptr);
  run.Execute();
  return 0;
}

unsigned RunUpdateFromPageView(const WorkerSetup& setup, const GameParameters& parameters, HandOver& handOver) {
  UpdateRun run(setup, parameters, &handOver);
  run.ExecuteFromPageView();
  return 0;
}

}  // namespace update
