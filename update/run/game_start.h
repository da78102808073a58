// The start phase of a run: Game\TLVR.exe started with the latest parameter
// string the page handed over, in Game, and the outcome logged
// ("Successfully started the game." or "Failed to start game. error=(N)").
#pragma once

#include "update/update_worker.h"

namespace update {

void StartGame(const char* gameDirectory, const GameParameters& parameters);

}  // namespace update
