#!/usr/bin/env bash
# Builds the Debian package and checks what it holds: the executable, the unit
# naming it, the example udev rule, the man page, the copyright file, a README for
# the installed command, maintainer scripts that clean up the unit's links, and the
# dependencies dpkg-shlibdeps found.
#   scripts/package.sh [BUILD_DIR]             this machine's package from an existing
#                                              build directory (default: build)
#   scripts/package.sh --arch arm64|armhf      a Raspberry Pi's package, cross-built in
#                                              build-ARCH with Debian's multiarch packages
#                                              (installed first); its unit and engine
#                                              tests and the packaged executable's
#                                              simulated start-up run under qemu-user
set -euo pipefail
cd "$(dirname "$0")/.."
arch=""
if [ "${1:-}" = --arch ]; then
  arch=${2:?--arch needs arm64 or armhf}
  shift 2
fi
native=$(dpkg --print-architecture)
[ "$arch" = "$native" ] && arch=""

step() { printf '%s: %s\n' "${arch:-$native}" "$*"; }

# The cross tool chain, the target's -dev packages beside this machine's (all of
# them Multi-Arch: same), Qt's build tools of this machine and qemu-user.
install_cross() {
  local pkgs=(crossbuild-essential-"$1" qemu-user qt6-base-dev-tools cmake ninja-build pkg-config dpkg-dev file)
  local p
  for p in qt6-base-dev qt6-serialport-dev qt6-httpserver-dev qt6-websockets-dev libmosquitto-dev libsqlite3-dev libsystemd-dev \
           libseccomp-dev libssl-dev libgtest-dev libgmock-dev; do
    pkgs+=("$p:$1")
  done
  local SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  local missing=()
  for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  dpkg --print-foreign-architectures | grep -qx "$1" || $SUDO dpkg --add-architecture "$1"
  step "installing ${missing[*]}"
  local log; log=$(mktemp)
  # Multi-Arch: same packages of two architectures must have one version: apt brings
  # this machine's copies up to the target's where they differ, and removes none.
  { $SUDO apt-get update -qq -o DPkg::Lock::Timeout=600 &&
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends \
      --no-remove "${missing[@]}"; } >"$log" 2>&1 || { tail -40 "$log" >&2; rm -f "$log"; return 1; }
  rm -f "$log"
}

case "$arch" in
  "")
    build=${1:-build}
    ;;
  # The tool chain's triplet, its emulator, the loader's name and what `file` says of an executable.
  arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64 loader=ld-linux-aarch64.so.1 elf=aarch64 ;;
  armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm loader=ld-linux-armhf.so.3 elf='ARM, EABI5' ;;
  *) echo "package.sh: no cross build for $arch (arm64 or armhf)" >&2; exit 2 ;;
esac

if [ -n "$arch" ]; then
  build=build-$arch
  install_cross "$arch"
  step "configuring $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross-$arch.cmake" \
    -DVARNEL_BENCH=OFF -DVARNEL_INTEGRATION_TESTS=OFF -DVARNEL_WERROR="${VARNEL_WERROR:-OFF}" >/dev/null
  step "building"
  cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1 || { tail -50 "$build/build.log" >&2; exit 1; }
  step "unit and engine tests under $qemu"
  # Each test case is a process of its own under qemu: the cases run in parallel. Two
  # cases need a child process, and a fork under Debian 12's qemu-user hangs in the child
  # (a seccomp filter there would filter qemu's own calls, too): they are left out.
  ctest --test-dir "$build" -L 'unit|engine' \
    -E '^ReplaceFile\.(calls_chown_only_when|another_users_file_its_mode)' -j "$(($(nproc) * 2))" --output-on-failure --timeout 120 \
    >"$build/ctest.log" 2>&1 || { grep -v ' Passed ' "$build/ctest.log" | tail -60 >&2; exit 1; }
  grep -E 'tests passed|Total Test time' "$build/ctest.log"
fi

[ -z "$arch" ] || rm -f "$build"/varnel_*.deb
if ! out=$(cd "$build" && cpack -G DEB 2>&1); then echo "$out" >&2; exit 1; fi
deb=$(ls -t "$build"/varnel_*.deb | head -1)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/varnel ./usr/lib/systemd/system/varnel.service ./usr/share/doc/varnel/examples/60-varnel.rules \
         ./usr/share/doc/varnel/copyright ./usr/share/doc/varnel/README.md ./usr/share/man/man1/varnel.1.gz; do
  grep -q " $f\$" <<<"$contents" || { echo "$deb lacks $f" >&2; exit 1; }
done
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/varnel.service)
grep -q '^ExecStart=/usr/bin/varnel run ' <<<"$unit" || { echo "the unit does not start /usr/bin/varnel" >&2; exit 1; }
readme=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/varnel/README.md)
! grep -q 'build/app/varnel' <<<"$readme" || { echo "the package's README speaks of the build tree" >&2; exit 1; }
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/varnel.1.gz | gzip -t || { echo "bad man page" >&2; exit 1; }
# The unit's links, those `systemctl enable` makes included, are recorded so that a purge removes them.
scripts=$(mktemp -d); trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$deb" "$scripts"
if command -v deb-systemd-helper >/dev/null && command -v systemctl >/dev/null; then
  # Installed, enabled by hand, removed and purged in a root of its own (DPKG_ROOT).
  root="$scripts/root"
  mkdir -p "$root/usr/lib/systemd/system" "$root/var/lib/varnel"
  printf '%s\n' "$unit" >"$root/usr/lib/systemd/system/varnel.service"
  export DPKG_ROOT="$root" DPKG_MAINTSCRIPT_PACKAGE=varnel
  DPKG_MAINTSCRIPT_NAME=postinst sh "$scripts/postinst" configure
  systemctl --root="$root" enable varnel.service >/dev/null 2>&1
  [ -L "$root/etc/systemd/system/multi-user.target.wants/varnel.service" ] || { echo "enable made no link" >&2; exit 1; }
  DPKG_MAINTSCRIPT_NAME=postrm sh "$scripts/postrm" remove
  rm "$root/usr/lib/systemd/system/varnel.service"
  DPKG_MAINTSCRIPT_NAME=postrm sh "$scripts/postrm" purge
  unset DPKG_ROOT DPKG_MAINTSCRIPT_PACKAGE
  left=$(find "$root/etc" "$root/var/lib" -name 'varnel*')
  [ -z "$left" ] || { echo "a purge leaves: $left" >&2; exit 1; }
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6serialport6 libqt6widgets6 libsystemd0; do
  grep -q "$lib" <<<"$depends" || { echo "$deb does not depend on $lib: $depends" >&2; exit 1; }
done

if [ -n "$arch" ]; then
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || { echo "$deb is not for $arch" >&2; exit 1; }
  # The target's own package names, as on the board (no :arch qualifier).
  ! grep -q ':' <<<"$depends" || { echo "$deb: Depends names an architecture: $depends" >&2; exit 1; }
  # A throwaway root of the target's own: the package and what its Depends pull in
  # from Debian, resolved as on an empty board, and nothing of this machine's.
  board="$scripts/board-$arch"
  cache=${VARNEL_CROSS_CACHE:-$HOME/.cache/varnel/debs-$arch}
  mkdir -p "$board" "$cache/partial"
  : >"$scripts/status"
  step "the package's dependencies from Debian into a root of its own"
  empty=(-qq --no-install-recommends -o Dir::State::status="$scripts/status" -o APT::Architecture="$arch"
         -o APT::Architectures="$arch")
  apt-get install "${empty[@]}" -y --download-only -o Dir::Cache::archives="$cache" -o Debug::NoLocking=1 "./$deb" \
    >"$scripts/apt.log" 2>&1 ||
    { cat "$scripts/apt.log" >&2; echo "$deb: its dependencies cannot be installed" >&2; exit 1; }
  # "Inst NAME (VERSION ...": the archive's file name has the epoch's colon as %3a.
  pulled=$(apt-get install "${empty[@]}" -s "./$deb" 2>/dev/null |
    sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1_\2/p' | grep -v '^varnel_' | sed 's/:/%3a/')
  [ -n "$pulled" ] || { echo "$deb: apt resolved no dependencies" >&2; exit 1; }
  for p in $pulled; do
    f=$(ls "$cache/${p}"_*.deb 2>/dev/null | head -1)
    [ -n "$f" ] || { echo "$deb: $p was resolved but not downloaded" >&2; exit 1; }
    dpkg-deb -x "$f" "$board"
  done
  dpkg-deb -x "$deb" "$board"
  exe="$board/usr/bin/varnel"
  file -b "$exe" | grep -q "ELF.*$elf" ||
    { echo "$exe is not an $arch executable: $(file -b "$exe")" >&2; exit 1; }
  ldso="$board/lib/$loader"
  libs="$board/lib/$triplet:$board/usr/lib/$triplet"
  # Every library the executable loads comes from that root.
  list=$("$qemu" "$ldso" --inhibit-cache --library-path "$libs" --list "$exe") ||
    { echo "$list" >&2; echo "$exe: the target's loader cannot resolve its libraries" >&2; exit 1; }
  outside=$(grep -F '=>' <<<"$list" | grep -vF "=> $board/" || true)
  [ -z "$outside" ] || { echo "$deb: libraries its Depends do not bring: $outside" >&2; exit 1; }
  step "$(grep -cF '=>' <<<"$list") libraries, all from $(wc -w <<<"$pulled") packages of Debian's"
  run() { QT_PLUGIN_PATH="$board/usr/lib/$triplet/qt6/plugins" "$qemu" "$ldso" --inhibit-cache --library-path "$libs" "$exe" "$@"; }
  version=$(run --version)
  grep -qF "$(dpkg-deb -f "$deb" Version)" <<<"$version" || { echo "varnel --version says: $version" >&2; exit 1; }
  step "$version"
  step "simulated start-up under $qemu"
  start=$SECONDS
  HOME="$scripts/home" run run --simulate --no-demo --for 40 --host-dir "$scripts/host" </dev/null >"$scripts/run.log" 2>&1 ||
    { tail -30 "$scripts/run.log" >&2; echo "the simulated run under $qemu failed" >&2; exit 1; }
  done_line=$(grep -m1 'Start-up: done' "$scripts/run.log") ||
    { tail -30 "$scripts/run.log" >&2; echo "the simulated run under $qemu never finished its start-up" >&2; exit 1; }
  grep -q 'modules' <<<"$done_line" || { echo "the start-up found no modules: $done_line" >&2; exit 1; }
  step "$done_line (run took $((SECONDS - start)) s)"
fi
echo "$deb: Depends: $depends"
