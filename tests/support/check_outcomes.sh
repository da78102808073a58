# Sourced by the tests of the repository's check scripts: a scratch folder
# $WORK removed at exit, and expect(), which runs $CHECK on a tree and counts
# in $failures each status other than the one wanted.
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

expect() { # label wanted-status tree
  local label=$1 want=$2 tree=$3 got
  "$CHECK" "$tree" >"$WORK/out" 2>&1
  got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAIL: $label: status $got, wanted $want"; sed 's/^/    /' "$WORK/out"
    failures=$((failures + 1))
  else
    echo "ok: $label ($got)"
  fi
}
