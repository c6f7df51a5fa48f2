#!/usr/bin/env bash
# The Home Assistant app rehearsed as the Supervisor runs it, with the amd64 image:
# pushed with the aarch64 one under one multi-arch name to a registry on the loopback and
# pulled by the name config.yaml gives; a network like Home Assistant's (172.30.32.0/23)
# with a Supervisor stand-in at 172.30.32.2 (services API, ingress proxy); a mosquitto
# that only the MQTT service's credentials get into; the controller as `varnel sim`'s
# pseudo-terminal, bind-mounted where the port option says. Run by scripts/ha-app.sh test.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
app=packaging/home-assistant/varnel
version=$(sed -n 's/^version: "\([^"]*\)"$/\1/p' "$app/config.yaml")
image=$(sed -n 's/^image: *//p' "$app/config.yaml")
supervisor=172.30.32.2
ip_app=172.30.32.5
ip_other=172.30.32.3
tag=varnel-ha-$$
work=$(mktemp -d /tmp/varnel-ha.XXXXXX)
pids=()
started=$SECONDS

pm() { podman --runtime=runc --cgroup-manager=cgroupfs --events-backend=file "$@"; }
limits=(--ulimit nofile=4096:4096 --ulimit nproc=4096:4096)
say() { printf 'rehearsal: %s\n' "$*"; }
fail() {
  printf 'rehearsal: FAILED: %s\n' "$*" >&2
  for c in $(pm ps -a --filter "name=$tag" --format '{{.Names}}' 2>/dev/null); do
    echo "--- podman logs $c (last 30 lines)" >&2
    pm logs "$c" 2>&1 | tail -30 >&2 || true
  done
  for f in "$work"/*.log; do [ -f "$f" ] && { echo "--- $f" >&2; tail -15 "$f" >&2; }; done
  exit 1
}
cleanup() {
  local c
  for c in $(pm ps -a --filter "name=$tag" --format '{{.Names}}' 2>/dev/null); do pm rm -f -t 0 "$c" >/dev/null 2>&1 || true; done
  pm network rm -f "$tag" >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Waits up to $1 seconds for a command to succeed.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}
logs() { pm logs "$1" 2>&1; }
# A fixed-string or pattern search of a container's log (no pipe: grep -q would cut it short).
log_has() { grep -q "${@:2}" <<<"$(logs "$1")"; }
log_count() { grep -c "$2" <<<"$(logs "$1")" || true; }
retained() { timeout 5 mosquitto_sub -h "$supervisor" -u addons -P "$mqtt_password" -t "$1" -C 1 -W 3 2>/dev/null || true; }
published() { [ -n "$(retained "$1")" ]; }
exited() { [ "$(pm inspect --format '{{.State.Status}}' "$1")" = exited ]; }

# --- Images: both built, published, pulled back by the Supervisor's name ---------------
t=$SECONDS
bash scripts/ha-app.sh build --arch amd64 >"$work/build-amd64.log" 2>&1 || fail "the amd64 image"
bash scripts/ha-app.sh build --arch arm64 >"$work/build-arm64.log" 2>&1 || fail "the aarch64 image"
grep -h 'ha-app: .*\(MB\|Start-up\)' "$work"/build-*.log | sed 's/^/rehearsal: /'
say "both images built ($((SECONDS - t)) s)"
t=$SECONDS
reg_port=$(free_port)
printf 'version: 0.1\nstorage:\n  filesystem:\n    rootdirectory: %s\nhttp:\n  addr: 127.0.0.1:%s\n' \
  "$work/registry" "$reg_port" >"$work/registry.yml"
docker-registry serve "$work/registry.yml" >"$work/registry.log" 2>&1 &
pids+=($!)
wait_for 20 curl -sf "http://127.0.0.1:$reg_port/v2/" || fail "the registry on the loopback did not start"
bash scripts/ha-app.sh push "127.0.0.1:$reg_port" >"$work/push.log" 2>&1 || fail "push"
arches=$(curl -sf -H 'Accept: application/vnd.docker.distribution.manifest.list.v2+json' \
  "http://127.0.0.1:$reg_port/v2/varnel/varnel/manifests/$version" |
  python3 -c 'import json,sys; print(" ".join(sorted(m["platform"]["architecture"] for m in json.load(sys.stdin)["manifests"])))')
[ "$arches" = "amd64 arm64" ] || fail "the published name holds $arches, not amd64 and arm64"
# The Supervisor pulls config.yaml's name; here that registry's mirror is the loopback one.
printf '[[registry]]\nlocation = "%s"\n[[registry.mirror]]\nlocation = "127.0.0.1:%s"\ninsecure = true\n' \
  "${image%%/*}" "$reg_port" >"$work/registries.conf"
pm rmi -f "$image:$version" >/dev/null 2>&1 || true
CONTAINERS_REGISTRIES_CONF="$work/registries.conf" pm pull --quiet --arch amd64 "$image:$version" >/dev/null ||
  fail "pulling $image:$version"
[ "$(pm image inspect --format '{{.Id}}' "$image:$version")" = "$(pm image inspect --format '{{.Id}}' "localhost/varnel/varnel:$version-amd64")" ] ||
  fail "the pulled image is not the one built"
say "pushed as $arches and pulled as $image:$version ($((SECONDS - t)) s)"

# --- The network, the Supervisor stand-in, the broker, the controller ------------------
t=$SECONDS
pm network create --subnet 172.30.32.0/23 --gateway 172.30.32.1 "$tag" >/dev/null
# Another container on the network: requests from it must be refused on the ingress port.
pm run -d --name "$tag-other" --network "$tag" --ip "$ip_other" "${limits[@]}" --entrypoint /bin/sleep "$image:$version" 3600 \
  >/dev/null 2>>"$work/podman.log"
bridge=$(pm network inspect "$tag" --format '{{.NetworkInterface}}')
ip addr add "$supervisor/23" dev "$bridge"
read -r mqtt_password token session < <(python3 -c 'import secrets as s; print(s.token_urlsafe(18), s.token_hex(32), s.token_hex(16))')
mosquitto_passwd -c -b "$work/mqtt.passwd" addons "$mqtt_password" >/dev/null
printf 'listener 1883 %s\nuser root\nallow_anonymous false\npassword_file %s\npersistence false\n' \
  "$supervisor" "$work/mqtt.passwd" >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
ingress_port=$(free_port)
mqtt_service="{\"host\": \"core-mosquitto\", \"port\": 1883, \"ssl\": false, \"protocol\": \"3.1.1\",
  \"username\": \"addons\", \"password\": \"$mqtt_password\", \"addon\": \"core_mosquitto\"}"
python3 tests/ha_app/supervisor.py "$supervisor" "$token" "$mqtt_service" "127.0.0.1:$ingress_port" "$ip_app:8099" \
  "$session" >"$work/supervisor.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q 'supervisor: ready' "$work/supervisor.log" || fail "the Supervisor stand-in did not start"
wait_for 10 bash -c "exec 3<>/dev/tcp/$supervisor/1883" || fail "mosquitto did not start"
! timeout 5 mosquitto_sub -h "$supervisor" -t '#' -C 1 -W 2 >/dev/null 2>&1 || fail "the broker lets anyone in"
build/app/varnel sim --link "$work/ocelot" --no-demo >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for 10 test -e "$work/ocelot" || fail "the simulator gave no pseudo-terminal"
pty=$(readlink -f "$work/ocelot")
say "network $tag, Supervisor stand-in at $supervisor, broker with a password file, controller on $pty ($((SECONDS - t)) s)"

# --- The app as the Supervisor starts it ----------------------------------------------
# run_app NAME DATA_DIR: /data and /config mapped, the port's device where options.json says.
run_app() {
  pm run -d --name "$1" --network "$tag" --ip "$ip_app" --init "${limits[@]}" --stop-timeout 10 \
    --add-host "supervisor:$supervisor" --add-host "core-mosquitto:$supervisor" \
    -e SUPERVISOR_TOKEN="$token" -v "$2:/data" -v "$work/config:/config" -v "$pty:/dev/ttyUSB0" \
    "${@:3}" "$image:$version" >/dev/null 2>>"$work/podman.log"
}
startup_done() { log_has "$1" 'Start-up: done'; }
mkdir -p "$work/data" "$work/config"
echo '{"port": "/dev/ttyUSB0", "mirror_vars": ["0-15"], "mirror_points": [], "log_level": "info"}' >"$work/data/options.json"
t=$SECONDS
run_app "$tag-app" "$work/data"
wait_for 90 startup_done "$tag-app" || fail "the start-up did not complete"
startup=$((SECONDS - t))
log_has "$tag-app" "MQTT broker mqtt://core-mosquitto:1883 from the Supervisor's MQTT service" ||
  fail "no line saying the broker came from the Supervisor's MQTT service"
! log_has "$tag-app" -F "$mqtt_password" || fail "the MQTT password is in the log"
grep -q "services: mqtt to $ip_app" "$work/supervisor.log" || fail "the app never asked the services API"
wait_for 30 published 'homeassistant/#' || fail "no discovery reached the broker"
installation=$(retained varnel/bridge/installation)
[ -n "$installation" ] || fail "no installation published"
# varnel's resident set (the container's init, Docker's, is its parent) and the cgroup's
# own count, which leaves out pages shared with the host's page cache.
init_pid=$(pm inspect --format '{{.State.Pid}}' "$tag-app")
rss=$(ps -o rss= --ppid "$init_pid" | awk '{s += $1} END {printf "%.1f MB", s / 1024}')
memory="$rss resident, podman stats $(pm stats --no-stream --format '{{.MemUsage}}' "$tag-app" | cut -d/ -f1 | tr -d ' ')"
say "start-up done in ${startup} s (container started to 'Start-up: done'); discovery with the service's credentials; memory $memory"
wait_for 30 pm exec "$tag-app" varnel health || fail "varnel health inside: $(pm exec "$tag-app" varnel health 2>&1)"
pm healthcheck run "$tag-app" >/dev/null || fail "the image's HEALTHCHECK says unhealthy"
say "$(pm exec "$tag-app" varnel health); the image's HEALTHCHECK passes"

# --- The page through the ingress stand-in ---------------------------------------------
(cd tests/browser && npm ci --prefer-offline --no-audit --no-fund --loglevel=error >/dev/null)
node tests/ha_app/ingress_page.js "http://127.0.0.1:$ingress_port/api/hassio_ingress/$session/" >"$work/page.log" 2>&1 ||
  fail "the page through ingress: $(cat "$work/page.log")"
say "$(cat "$work/page.log")"
wait_for 10 log_has "$tag-app" 'Ada Lovelace' || fail "the page's command does not name Home Assistant's user in the host log"
other=$(pm exec "$tag-other" bash -c "exec 3<>/dev/tcp/$ip_app/8099; printf 'GET /api/session HTTP/1.1\r\nHost: $ip_app\r\nConnection: close\r\n\r\n' >&3; head -1 <&3" | tr -d '\r')
[[ "$other" == *" 403 "* ]] || fail "a request from $ip_other to the ingress port got: $other"
gateway=$(curl -s -o /dev/null -w '%{http_code}' --interface 172.30.32.1 "http://$ip_app:8099/api/session" || true)
[ "$gateway" = 403 ] || fail "a request from 172.30.32.1 to the ingress port got $gateway"
say "the user's command is named in the host log; other addresses get 403 ($ip_other, 172.30.32.1)"

# --- Hot backup, stop and restart as the Supervisor does them ------------------------
pm exec "$tag-app" varnel history-backup --host-dir /data >/dev/null || fail "backup_pre"
tar -C "$work/data" --exclude='history.sqlite*' -cf "$work/backup.tar" . || fail "taking the backup"
timeout 30 mosquitto_sub -h "$supervisor" -u addons -P "$mqtt_password" -t varnel/status -v >"$work/status.log" 2>&1 &
watcher=$!
sleep 1
t=$SECONDS
pm stop -t 10 "$tag-app" >/dev/null 2>>"$work/podman.log"
stop=$((SECONDS - t))
code=$(pm inspect --format '{{.State.ExitCode}}' "$tag-app")
[ "$code" = 0 ] || fail "stopped with exit code $code"
((stop < 10)) || fail "the stop took $stop s: SIGTERM was not enough"
sleep 1
kill "$watcher" && wait "$watcher" 2>/dev/null || true
# The retained "online" is replayed on subscribing; the stop adds exactly one "offline".
offline=$(grep -c ' offline$' "$work/status.log" || true)
[ "$offline" = 1 ] || fail "the stop published $offline offline messages: $(cat "$work/status.log")"
say "podman stop: exit 0 in $stop s with one offline"
t=$SECONDS
pm start "$tag-app" >/dev/null 2>>"$work/podman.log"
started_twice() { (($(log_count "$tag-app" 'Start-up: done') >= 2)); }
wait_for 90 started_twice || fail "the restart did not complete its start-up"
[ "$(retained varnel/bridge/installation)" = "$installation" ] || fail "the restart changed the installation's identity"
say "restart: start-up done in $((SECONDS - t)) s with the same installation $installation"
pm rm -f -t 10 "$tag-app" >/dev/null 2>>"$work/podman.log"
mkdir -p "$work/restored"
tar -C "$work/restored" -xf "$work/backup.tar"
run_app "$tag-restored" "$work/restored"
wait_for 90 startup_done "$tag-restored" || fail "the restored /data did not start"
[ "$(retained varnel/bridge/installation)" = "$installation" ] || fail "the restored /data has another identity"
log_has "$tag-restored" 'is taken up from the copy' || fail "the restored /data did not take up its history"
say "the hot backup restores to a working installation (same identity, history taken up)"
pm rm -f -t 10 "$tag-restored" >/dev/null 2>>"$work/podman.log"

# --- A wrong option: one line, stopped, no restart loop --------------------------------
mkdir -p "$work/wrong"
echo '{"mirror_vars": ["0-200"], "mirror_points": [], "log_level": "info"}' >"$work/wrong/options.json"
run_app "$tag-wrong" "$work/wrong" --restart on-failure
wait_for 30 exited "$tag-wrong" || fail "the wrong option did not end the run"
sleep 3
[ "$(pm inspect --format '{{.State.Status}} {{.State.ExitCode}} {{.RestartCount}}' "$tag-wrong")" = "exited 0 0" ] ||
  fail "a wrong option: $(pm inspect --format '{{.State.Status}} {{.State.ExitCode}} restarts {{.RestartCount}}' "$tag-wrong")"
wrong=$(logs "$tag-wrong")
[ "$(wc -l <<<"$wrong")" = 1 ] && grep -q mirror_vars <<<"$wrong" || fail "a wrong option said: $wrong"
say "a wrong option: \"$wrong\", stopped, not restarted"

# --- The same image outside Home Assistant: varnel's own arguments, a volume -----------
mkdir -p "$work/plain"
pm run -d --name "$tag-plain" --network "$tag" --ip 172.30.32.6 --init "${limits[@]}" \
  -e VARNEL_MQTT_USERNAME=addons -e VARNEL_MQTT_PASSWORD="$mqtt_password" \
  -v "$work/plain:/var/lib/varnel" -v "$pty:/dev/ttyUSB0" "$image:$version" \
  run --port /dev/ttyUSB0 --mqtt "mqtt://$supervisor" --mqtt-base-topic plain >/dev/null 2>>"$work/podman.log"
wait_for 90 startup_done "$tag-plain" || fail "the image with varnel's own arguments did not start"
wait_for 20 published plain/bridge/installation || fail "the image with varnel's own arguments reached no broker"
[ -n "$(ls -A "$work/plain")" ] || fail "the image with varnel's own arguments kept nothing in its volume"
say "the same image outside Home Assistant: its own arguments, the host directory in a volume ($(ls "$work/plain" | tr '\n' ' '))"
pm rm -f -t 10 "$tag-plain" >/dev/null 2>>"$work/podman.log"

python3 tests/ha_app/check_config.py "$repo" || fail "the configuration against the linter's rules"
say "passed in $((SECONDS - started)) s"
