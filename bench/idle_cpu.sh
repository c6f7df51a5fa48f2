#!/usr/bin/env bash
# Idle cost of `varnel run` on a quiet controller: the simulator without demo
# activity on a pseudo-terminal, the plug-in polling variables every 500 ms.
# Prints CPU share of one core, wake-ups per second (voluntary context switches)
# and resident memory of both processes over the sampling window.
#
#   bench/idle_cpu.sh [VARNEL] [SECONDS]     (defaults: build/app/varnel, 60)
#
# VARNEL_RUN_ARGS adds options to the run, e.g. VARNEL_RUN_ARGS="--http 127.0.0.1:8099"
# for the web page's cost with no browser connected.
set -euo pipefail
varnel=${1:-build/app/varnel}
seconds=${2:-60}
work=$(mktemp -d /tmp/varnel-idle.XXXXXX)
sim_pid=""
run_pid=""
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null && wait "$run_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/host/config"
printf '[hspi_tarnwick]\r\npoll_interval=500\r\n' >"$work/host/config/settings.ini"

"$varnel" sim --no-demo --link "$work/line" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/line" ] && break; sleep 0.1; done
[ -e "$work/line" ] || { echo "the simulator did not start" >&2; exit 1; }

# shellcheck disable=SC2086  # the extra options are meant to split into words
XDG_CONFIG_HOME="$work/user" "$varnel" run --port "$work/line" --host-dir "$work/host" ${VARNEL_RUN_ARGS:-} \
  </dev/null >"$work/run.out" 2>"$work/run.err" &
run_pid=$!
# Start-up is through once the variable timer runs; give it time to settle.
for _ in $(seq 600); do grep -q "Comm Port" "$work/run.out" && break; sleep 0.1; done
sleep 5
kill -0 "$run_pid" || { cat "$work/run.err" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
wakes() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$1/status"; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

declare -A c0 w0
for p in "$run_pid" "$sim_pid"; do c0[$p]=$(cpu "$p"); w0[$p]=$(wakes "$p"); done
t0=$(date +%s.%N)
sleep "$seconds"
t1=$(date +%s.%N)
for p in "$run_pid" "$sim_pid"; do
  name=$([ "$p" = "$run_pid" ] && echo "varnel run" || echo "varnel sim")
  awk -v n="$name" -v c="$(($(cpu "$p") - ${c0[$p]}))" -v w="$(($(wakes "$p") - ${w0[$p]}))" \
      -v r="$(rss_kb "$p")" -v hz="$ticks" -v t0="$t0" -v t1="$t1" 'BEGIN {
    s = t1 - t0
    printf "%-11s cpu %5.2f%% of a core, %6.1f wake-ups/s, %5.1f MB resident (%.0f s)\n",
           n, 100 * c / hz / s, w / s, r / 1024, s }'
done
