// The worker's parameter string and its one run; the phases of a run live in
// update/run/.
#include "update/update_worker.h"

#include <algorithm>
#include <cstring>

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

unsigned RunUpdate(const WorkerSetup& setup, const GameParameters& parameters) {
  UpdateRun run(setup, parameters);
  run.Execute();
  return 0;
}

}  // namespace update
