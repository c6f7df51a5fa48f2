#!/usr/bin/env bash
# Builds the Debian package from an existing build directory and checks what it
# holds: the executable, the unit naming it, the example udev rule, and the
# dependencies dpkg-shlibdeps found.
#   scripts/package.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if ! out=$(cd "$build" && cpack -G DEB 2>&1); then echo "$out" >&2; exit 1; fi
deb=$(ls -t "$build"/varnel_*.deb | head -1)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/varnel ./usr/lib/systemd/system/varnel.service ./usr/share/doc/varnel/examples/60-varnel.rules; do
  grep -q " $f\$" <<<"$contents" || { echo "$deb lacks $f" >&2; exit 1; }
done
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/varnel.service)
grep -q '^ExecStart=/usr/bin/varnel run ' <<<"$unit" || { echo "the unit does not start /usr/bin/varnel" >&2; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6serialport6 libqt6widgets6 libsystemd0; do
  grep -q "$lib" <<<"$depends" || { echo "$deb does not depend on $lib: $depends" >&2; exit 1; }
done
echo "$deb: Depends: $depends"
