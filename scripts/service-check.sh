#!/usr/bin/env bash
# Checks etc/ferryd.service: `systemd-analyze verify` passes and the offline security rating is
# at most 2.0 (fails when a change weakens the unit).
# Usage: scripts/service-check.sh [daemon binary]   (default build/normal/main/ferryd)
# verify insists that ExecStart names an existing program, so it checks a copy of the unit whose
# ExecStart points at the built daemon; everything else is the shipped unit.
set -euo pipefail
cd "$(dirname "$0")/.."
daemon=$(realpath "${1:-build/normal/main/ferryd}")
max_exposure=2.0
if ! command -v systemd-analyze >/dev/null; then
  bash scripts/setup.sh systemd
fi
[ -x "$daemon" ] || { echo "service-check: no daemon at $daemon" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed "s|^ExecStart=/usr/sbin/ferryd |ExecStart=$daemon |" etc/ferryd.service >"$tmp/ferryd.service"
grep -q "^ExecStart=$daemon " "$tmp/ferryd.service" || { echo "service-check: ExecStart not found" >&2; exit 1; }
echo "== service unit: systemd-analyze verify and security (exposure at most $max_exposure)"
# verify reports unknown or malformed settings as "ignoring" and still succeeds: any output fails.
if ! out=$(systemd-analyze verify "$tmp/ferryd.service" 2>&1) || [ -n "$out" ]; then
  echo "$out" >&2
  echo "service-check: systemd-analyze verify failed" >&2
  exit 1
fi

rating=$(systemd-analyze security --offline=true --no-pager etc/ferryd.service | tail -1)
echo "$rating"
exposure=$(echo "$rating" | sed -n 's/.*ferryd.service: \([0-9.]*\) .*/\1/p')
[ -n "$exposure" ] || { echo "service-check: no exposure rating found" >&2; exit 1; }
if awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e > m) }'; then
  echo "service-check: exposure $exposure is above $max_exposure" >&2
  systemd-analyze security --offline=true --no-pager etc/ferryd.service | grep -v '✓' >&2
  exit 1
fi
