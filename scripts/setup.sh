#!/usr/bin/env bash
# Installs, only when missing, every Debian package that the build, the tests and the demo need.
# With arguments it installs those packages instead (without recommended ones): the fuzz,
# cross-build, package and service-check scripts name their own this way.
set -euo pipefail
if [ $# -gt 0 ]; then
  pkgs=("$@")
  extra=(--no-install-recommends)
else
  pkgs=(build-essential cmake pkg-config git clang-format
        libgtest-dev libgmock-dev googletest
        liblog4cpp5-dev libsystemd-dev
        umockdev libumockdev-dev libglib2.0-dev
        faketime libfaketime
        socat python3 python3-pytest python3-pip python3-venv python3-setuptools python3-wheel)
  extra=()
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${extra[@]}" "${missing[@]}"
fi
