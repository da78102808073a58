#!/usr/bin/env bash
# The layering check on trees made here: it must pass a sound tree, find each
# kind of fault planted in a copy of it, and fail when there is nothing to check.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CHECK=$ROOT/scripts/check-layers
# shellcheck source=../support/check_outcomes.sh
source "$ROOT/tests/support/check_outcomes.sh"

sound_tree() { # name -> a tree with a worker, a shared file and two phases, one using the other
  local tree="$WORK/$1"
  mkdir -p "$tree/update/a" "$tree/update/b"
  printf '#include "update/a/x.h"\n#include "update/b/y.h"\n' >"$tree/update/update_worker.cpp"
  printf '#include "update/download_log.h"\n' >"$tree/update/a/x.h"
  printf '#include "update/a/x.h"\n' >"$tree/update/b/y.h"
  : >"$tree/update/download_log.h"
  echo "$tree"
}

expect "a sound tree" 0 "$(sound_tree sound)"
tree=$(sound_tree worker); echo '#include "update/update_worker.h"' >>"$tree/update/a/x.h"
expect "a phase including the worker" 1 "$tree"
tree=$(sound_tree cycle); echo '#include "update/b/y.h"' >>"$tree/update/a/x.h"
expect "two phases including each other" 1 "$tree"
tree=$(sound_tree shared); echo '#include "update/a/x.h"' >>"$tree/update/download_log.h"
expect "a shared file including a phase" 1 "$tree"
tree=$(sound_tree window); echo '#include "ui/guards.h"' >>"$tree/update/b/y.h"
expect "a phase including a window header" 1 "$tree"
tree=$(sound_tree run); mkdir -p "$tree/update/run"
printf '#include "update/update_worker.h"\n#include "update/a/x.h"\n' >"$tree/update/run/r.h"
expect "the worker's run including the worker and a phase" 0 "$tree"
echo '#include "update/run/r.h"' >>"$tree/update/b/y.h"
expect "a phase including the worker's run" 1 "$tree"
mkdir -p "$WORK/flat/update"; : >"$WORK/flat/update/update_worker.cpp"
expect "no phase folder at all" 2 "$WORK/flat"
[ "$failures" -eq 0 ]
