#!/usr/bin/env bash
# The banned-calls check on trees made here, outside any git checkout: it must
# find what is planted, pass what is allowed, and fail when it finds nothing.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CHECK=$ROOT/scripts/check-banned-calls
# shellcheck source=../support/check_outcomes.sh
source "$ROOT/tests/support/check_outcomes.sh"

tree_with() { # name line -> a tree whose app/x.cpp holds line
  local tree="$WORK/$1"
  mkdir -p "$tree/app"
  printf '#include <cstring>\nvoid f(char* d, const char* s) {\n  %s\n}\n' "$2" >"$tree/app/x.cpp"
  echo "$tree"
}

mkdir -p "$WORK/empty/app"
expect "no source files at all" 2 "$WORK/empty"
expect "strcpy" 1 "$(tree_with strcpy 'strcpy(d, s);')"
expect "std::strncpy" 1 "$(tree_with strncpy 'std::strncpy(d, s, 4);')"
expect "wcsncpy" 1 "$(tree_with wcsncpy 'wcsncpy((wchar_t*)d, (const wchar_t*)s, 4);')"
expect "_snprintf" 1 "$(tree_with snprintf_ms '_snprintf(d, 4, "%s", s);')"
expect "_vsnprintf" 1 "$(tree_with vsnprintf_ms '_vsnprintf(d, 4, s, nullptr);')"
expect "atoi" 1 "$(tree_with atoi 'int n = atoi(s); (void)n;')"
expect "strtok stays allowed" 0 "$(tree_with strtok 'strtok(d, ";");')"
expect "snprintf is bounded" 0 "$(tree_with snprintf 'snprintf(d, 4, "%s", s);')"
expect "a marked exception" 0 "$(tree_with marked 'strcpy(d, s);  // banned-ok: test')"
[ "$failures" -eq 0 ]
