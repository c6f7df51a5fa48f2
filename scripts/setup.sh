#!/usr/bin/env bash
# Installs every build and test dependency from Debian packages. Safe to run again.
set -euo pipefail
pkgs=(cmake ninja-build g++ pkg-config
      qt6-base-dev libqt6serialport6-dev qt6-base-dev-tools libsystemd-dev
      dpkg-dev file ccache
      libgtest-dev libgmock-dev libbenchmark-dev
      clang libclang-rt-dev clang-format clang-tidy
      libmosquitto-dev libssl-dev libsqlite3-dev nlohmann-json3-dev mosquitto openssl ser2net
      libseccomp-dev systemd
      qt6-httpserver-dev qt6-websockets-dev
      fonts-dejavu-core librsvg2-bin python3-yaml
      chromium)
# The browser tests drive chromium from Node; a machine with its own Node build keeps it.
command -v npm >/dev/null || pkgs+=(nodejs npm)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
