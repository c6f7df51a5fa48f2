#!/usr/bin/env bash
# The Home Assistant app's images, built here from Debian's packages and varnel's own
# (no container registry is needed), rehearsed as the Supervisor runs them, published.
#   scripts/ha-app.sh build [--arch amd64|arm64]  one architecture's image, from the Debian
#       package that scripts/package.sh builds (built first when missing or older than the
#       build); amd64 is started in podman, arm64 under qemu-aarch64 from the image's own
#       root. The last line is the image's name.
#   scripts/ha-app.sh test                         the rehearsal (tests/ha_app/rehearsal.sh)
#   scripts/ha-app.sh push REGISTRY                both images under one multi-arch name,
#       REGISTRY/varnel/varnel:VERSION; config.yaml's image: must name REGISTRY/varnel/varnel
#       for the Supervisor to pull it
set -euo pipefail
cd "$(dirname "$0")/.."
app=packaging/home-assistant/varnel
version=$(sed -n 's/^version: "\([^"]*\)"$/\1/p' "$app/config.yaml")
[ -n "$version" ] || { echo "ha-app.sh: $app/config.yaml has no version" >&2; exit 1; }
local_name=localhost/varnel/varnel

temps=()
trap 'rm -rf "${temps[@]}"' EXIT
say() { printf 'ha-app: %s\n' "$*" >&2; }
die() { printf 'ha-app: %s\n' "$*" >&2; exit 1; }

# Rootful podman as it works on these machines: runc, cgroups without systemd, events in a file.
pm() { podman --runtime=runc --cgroup-manager=cgroupfs --events-backend=file "$@"; }

install_tools() {
  local pkgs=(podman buildah mmdebstrap runc netavark aardvark-dns iptables catatonit qemu-user
              docker-registry mosquitto mosquitto-clients python3 python3-yaml curl)
  local p missing=() SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  say "installing ${missing[*]}"
  $SUDO apt-get update -qq -o DPkg::Lock::Timeout=600
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# The Debian package of ARCH: this machine's is built again when the executable is newer;
# another architecture's is cross-built when missing.
package_of() {
  local arch=$1 build deb
  if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    build=build
    [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    # What the package holds, brought up to date with the sources.
    cmake --build "$build" -j "$(nproc)" --target varnel varnel_man >/dev/null
    deb=$(ls -t "$build"/varnel_*.deb 2>/dev/null | head -1 || true)
    if [ -z "$deb" ] || [ "$build/app/varnel" -nt "$deb" ]; then
      bash scripts/package.sh "$build" >&2
      deb=$(ls -t "$build"/varnel_*.deb | head -1)
    fi
  else
    build=build-$arch
    deb=$(ls -t "$build"/varnel_*.deb 2>/dev/null | head -1 || true)
    if [ -z "$deb" ]; then
      bash scripts/package.sh --arch "$arch" >&2
      deb=$(ls -t "$build"/varnel_*.deb | head -1)
    fi
  fi
  local v; v=$(dpkg-deb -f "$deb" Version)
  [ "${v%%[-~+]*}" = "$version" ] || die "$deb is version $v, config.yaml says $version"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || die "$deb is not for $arch"
  echo "$deb"
}

# This machine's Debian sources, for the image's root.
debian_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q '^[^#]*debian' "$f" && echo "$f"
  done
}

build() {
  local arch=${1:-$(dpkg --print-architecture)} hass
  case "$arch" in
    amd64) hass=amd64 ;;
    arm64) hass=aarch64 ;;
    *) die "no image for $arch (amd64 or arm64)" ;;
  esac
  install_tools
  local deb; deb=$(package_of "$arch")
  local work; work=$(mktemp -d)
  temps+=("$work")
  mkdir -p "$work/ctx"
  cp "$deb" "$work/varnel.deb"
  local cache=${VARNEL_IMAGE_CACHE:-$HOME/.cache/varnel/image-debs-$arch}
  mkdir -p "$cache"
  local sources; mapfile -t sources < <(debian_sources)
  ((${#sources[@]})) || die "no Debian apt sources on this machine"
  # Debian's packages are kept between builds; recommendations, documentation and
  # translations stay out.
  local common=(--architectures="$arch" --include="$work/varnel.deb" --aptopt='Apt::Install-Recommends "false"'
    --skip=essential/unlink --setup-hook="mkdir -p '$cache' \"\$1\"/var/cache/apt/archives/"
    --setup-hook="sync-in '$cache' /var/cache/apt/archives/"
    --customize-hook="sync-out /var/cache/apt/archives '$cache'"
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright'
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/locale/*'
    --dpkgopt='path-exclude=/usr/share/info/*'
    # Nothing draws on a GPU in the container: Qt's GUI library pulls in mesa's drivers and
    # the compiler they load (about 160 MB), never opened by a run without a display.
    --dpkgopt='path-exclude=/usr/lib/*/dri/*' --dpkgopt='path-exclude=/usr/lib/*/libLLVM-*'
    --dpkgopt='path-exclude=/usr/lib/*/libz3.so*')
  local variant=(--variant=essential --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr)
  # No binfmt here for another architecture's maintainer scripts: its packages, the
  # package's Depends resolved by apt, are unpacked as they are on the board.
  # apt hands the package's path to the inside: a copy lies there while the root is made.
  if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    variant+=(--hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount)
  else
    variant=(--variant=extract --setup-hook="mkdir -p \"\$1$work\" && cp '$work/varnel.deb' \"\$1$work/\""
      --customize-hook="rm -r \"\$1/${work#/}\" && rmdir -p \"\$1$(dirname "$work")\" 2>/dev/null || true"
      # Unpacked without dpkg, so the same paths as dpkg leaves out above go by hand.
      --customize-hook='cd "$1" && rm -rf usr/lib/*/dri usr/lib/*/libLLVM-* usr/lib/*/libz3.so* usr/share/man usr/share/locale usr/share/info && find usr/share/doc -type f ! -name copyright -delete')
  fi
  say "$arch: the Debian 12 root with $(basename "$deb")"
  mmdebstrap --quiet "${variant[@]}" "${common[@]}" bookworm "$work/ctx/rootfs.tar" "${sources[@]}" </dev/null \
    >"$work/mmdebstrap.log" 2>&1 || { tail -30 "$work/mmdebstrap.log" >&2; die "mmdebstrap could not assemble the root"; }
  cp "$app/Dockerfile" "$work/ctx/Dockerfile"
  local name=$local_name:$version-$arch
  local before; before=$(pm image inspect --format '{{.Id}}' "$name" 2>/dev/null || true)
  say "$arch: the image $name"
  pm build --quiet --format docker --arch "$arch" --build-arg BUILD_ARCH="$hass" --build-arg BUILD_VERSION="$version" \
    -t "$name" "$work/ctx" >/dev/null
  check_image "$arch" "$name" "$deb"
  # The image this one replaces goes, unless a container still uses it.
  if [ -n "$before" ] && [ "$before" != "$(pm image inspect --format '{{.Id}}' "$name")" ]; then
    pm rmi "$before" >/dev/null 2>&1 || true
  fi
  say "$arch: $(pm image inspect --format '{{.Size}}' "$name" | awk '{printf "%.0f MB", $1 / 1e6}')"
  echo "$name"
}

# The image's varnel answers and completes a simulated start-up: in podman for this
# machine's architecture, under qemu-user from the image's own root for another.
check_image() {
  local arch=$1 name=$2 deb=$3 out
  local want; want=$(dpkg-deb -f "$deb" Version)
  if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    out=$(pm run --rm --ulimit nofile=1024:1024 --ulimit nproc=4096:4096 "$name" run --simulate --no-demo --for 12 \
      --host-dir /tmp/host 2>&1) || { echo "$out" | tail -20 >&2; die "$name: the simulated run failed"; }
  else
    local mnt qemu=qemu-aarch64
    mnt=$(pm image mount "$name")
    local host; host=$(mktemp -d)
    temps+=("$host")
    # The image's own loader and libraries (the host's /dev stays the host's: the simulator
    # needs its pseudo-terminals).
    local libs=$mnt/lib/aarch64-linux-gnu:$mnt/usr/lib/aarch64-linux-gnu
    out=$(QT_PLUGIN_PATH="$mnt/usr/lib/aarch64-linux-gnu/qt6/plugins" HOME="$host" \
      "$qemu" "$mnt/lib/ld-linux-aarch64.so.1" --inhibit-cache --library-path "$libs" "$mnt/usr/bin/varnel" \
      run --simulate --no-demo --for 20 --host-dir "$host" </dev/null 2>&1) ||
      { pm image unmount "$name" >/dev/null; echo "$out" | tail -20 >&2; die "$name: the simulated run under $qemu failed"; }
    pm image unmount "$name" >/dev/null
  fi
  local done_line; done_line=$(grep -m1 'Start-up: done' <<<"$out") ||
    { echo "$out" | tail -20 >&2; die "$name: the simulated run never finished its start-up"; }
  grep -q 'modules' <<<"$done_line" || die "$name: the start-up found no modules: $done_line"
  local labelled; labelled=$(pm image inspect --format '{{index .Labels "io.hass.version"}}' "$name")
  [ "$labelled" = "$version" ] || die "$name: io.hass.version is $labelled"
  pm image inspect --format '{{json .Config.Healthcheck}}' "$name" | grep -q 'varnel","health' ||
    die "$name: no HEALTHCHECK calling varnel health"
  say "$arch: $(grep -o 'Start-up: done.*' <<<"$done_line") (package $want)"
}

push() {
  local registry=${1:?push needs a registry, for example registry.example.org}
  local target=$registry/varnel/varnel:$version arch names=() tls=()
  install_tools
  for arch in amd64 arm64; do
    pm image exists "$local_name:$version-$arch" || build "$arch" >/dev/null
    names+=("$local_name:$version-$arch")
  done
  # A registry on this machine's loopback speaks plain HTTP.
  case "$registry" in localhost:* | 127.0.0.1:* | "[::1]":*) tls=(--tls-verify=false) ;; esac
  pm manifest rm "$target" >/dev/null 2>&1 || true
  pm manifest create "$target" >/dev/null
  for n in "${names[@]}"; do pm manifest add "$target" "containers-storage:$n" >/dev/null; done
  pm manifest push --quiet --all --format v2s2 "${tls[@]}" "$target" "docker://$target"
  pm manifest rm "$target" >/dev/null
  local named; named=$(sed -n 's/^image: *//p' "$app/config.yaml")
  [ "$named" = "$registry/varnel/varnel" ] ||
    say "config.yaml's image: names $named; the Supervisor pulls that name, not $registry/varnel/varnel"
  echo "$target"
}

case "${1:-}" in
  build)
    shift
    arch=""
    if [ "${1:-}" = --arch ]; then arch=${2:?--arch needs amd64 or arm64}; shift 2; fi
    [ $# -eq 0 ] || die "build: unknown argument $1"
    build "$arch"
    ;;
  test)
    install_tools
    exec bash tests/ha_app/rehearsal.sh
    ;;
  push) push "${2:-}" ;;
  *) echo "usage: scripts/ha-app.sh build [--arch amd64|arm64] | test | push REGISTRY" >&2; exit 2 ;;
esac
