#!/usr/bin/env bash
# Builds the Debian package from an existing build directory and checks what it
# holds: the executable, the unit naming it, the example udev rule, the man page,
# the copyright file, a README for the installed command, maintainer scripts that
# clean up the unit's links, and the dependencies dpkg-shlibdeps found.
#   scripts/package.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
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
echo "$deb: Depends: $depends"
