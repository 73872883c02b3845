#!/usr/bin/env bash
# Installs, only when missing, every Debian package that the build, the tests and the demo need.
# With arguments it installs those packages instead (without recommended ones): the fuzz,
# cross-build, package and service-check scripts name their own this way. apt-get waits for the
# package manager's lock (scripts/apt.sh: up to FERRYD_APT_LOCK_WAIT seconds, default 600).
set -euo pipefail
. "$(dirname "$0")/apt.sh"
if [ $# -gt 0 ]; then
  pkgs=("$@")
  extra=(--no-install-recommends)
else
  pkgs=(build-essential cmake pkg-config git clang-format
        libgtest-dev libgmock-dev googletest
        liblog4cpp5-dev libsystemd-dev
        umockdev libumockdev-dev libglib2.0-dev
        faketime libfaketime
        socat tshark
        python3 python3-pytest python3-pip python3-venv python3-setuptools python3-wheel)
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
  # tshark's wireshark-common asks whether non-root users may capture: no, and no question.
  echo "wireshark-common wireshark-common/install-setuid boolean false" |
    "${sudo_cmd[@]}" debconf-set-selections
  apt_get "${sudo_cmd[@]}" -- update -qq
  apt_get "${sudo_cmd[@]}" -- install -y -qq "${extra[@]}" "${missing[@]}"
fi
