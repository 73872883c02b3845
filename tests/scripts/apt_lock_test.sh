#!/usr/bin/env bash
# scripts/apt.sh against a stand-in apt-get (first on PATH) that finds a lock held a given number
# of times: apt_get tries again until the bound, passes apt-get's own failures through at once,
# and fails with the holders said once the bound has passed. Needs neither root nor apt.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/apt-get" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$STANDIN_DIR/calls"
calls=$(wc -l <"$STANDIN_DIR/calls")
if [ "$calls" -le "$LOCKED_CALLS" ]; then
  echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 1 (apt-get)" >&2
  exit 100
fi
[ -z "${OTHER_ERROR:-}" ] || { echo "E: $OTHER_ERROR" >&2; exit 100; }
exit 0
STANDIN
chmod +x "$dir/apt-get"
export PATH="$dir:$PATH" STANDIN_DIR=$dir apt_lock_retry=0.2
fails=0
check() { # what, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; fails=1; fi
}
# run LOCKED_CALLS WAIT [OTHER_ERROR]: apt_get update; its status in $rc, its messages in $dir/err.
run() {
  rm -f "$dir/calls"
  rc=0
  LOCKED_CALLS=$1 OTHER_ERROR=${3:-} FERRYD_APT_LOCK_WAIT=$2 \
    bash -c ". '$here/scripts/apt.sh'; apt_get -- update -qq" 2>"$dir/err" || rc=$?
  calls=$(wc -l <"$dir/calls")
}

run 2 30
check "a lock held twice: the third try goes through (status $rc, $calls tries)" [ "$rc:$calls" = 0:3 ]
check "the wait is said once" [ "$(grep -c 'waits up to 30 s' "$dir/err")" = 1 ]
check "apt-get itself waits for dpkg's lock" grep -q -- '-o DPkg::Lock::Timeout=[1-9][0-9]* update -qq' "$dir/calls"

start=$SECONDS
run 1000 1
took=$((SECONDS - start))
check "a lock that stays held fails (status $rc)" [ "$rc" = 1 ]
check "once the bound has passed ($took s)" [ "$took" -ge 1 -a "$took" -lt 10 ]
check "and says so" grep -q "lock is still held after 1 s" "$dir/err"

run 0 30 "Unable to locate package nosuch"
check "another failure passes at once (status $rc, $calls tries)" [ "$rc:$calls" = 100:1 ]
check "with apt-get's own words" grep -q "Unable to locate package nosuch" "$dir/err"
exit "$fails"
