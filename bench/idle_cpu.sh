#!/usr/bin/env bash
# Idle cost of `varnel run` on a quiet controller: the simulator without demo
# activity on a pseudo-terminal, the plug-in polling variables every 500 ms.
# Measured twice: with the bytes for the plug-in handed over eight at a time (a
# PC's receive FIFO) and each on its own (`varnel sim --pace byte`). Prints CPU
# share of one core, wake-ups per second (voluntary context switches) and
# resident memory of both processes over each sampling window.
#
#   bench/idle_cpu.sh [VARNEL] [SECONDS]     (defaults: build/app/varnel, 60 per pacing)
#
# VARNEL_RUN_ARGS adds options to the run, e.g. VARNEL_RUN_ARGS="--http 127.0.0.1:8099"
# for the web page's cost with no browser connected. VARNEL_SIM names another
# executable for the simulator (a run built before a change against today's simulator).
set -euo pipefail
varnel=${1:-build/app/varnel}
seconds=${2:-60}
simulator=${VARNEL_SIM:-$varnel}
work=$(mktemp -d /tmp/varnel-idle.XXXXXX)
sim_pid=""
run_pid=""
stop() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null && wait "$run_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  run_pid=""
  sim_pid=""
}
cleanup() {
  stop
  rm -rf "$work"
}
trap cleanup EXIT

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
wakes() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$1/status"; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

measure() {
  local pace=$1 dir="$work/$1"
  mkdir -p "$dir/host/config"
  printf '[hspi_tarnwick]\r\npoll_interval=500\r\n' >"$dir/host/config/settings.ini"

  "$simulator" sim --no-demo --pace "$pace" --link "$dir/line" >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$dir/line" ] && break; sleep 0.1; done
  [ -e "$dir/line" ] || { cat "$dir/sim.err" >&2; echo "the simulator did not start" >&2; exit 1; }

  # shellcheck disable=SC2086  # the extra options are meant to split into words
  XDG_CONFIG_HOME="$dir/user" "$varnel" run --port "$dir/line" --host-dir "$dir/host" ${VARNEL_RUN_ARGS:-} \
    </dev/null >"$dir/run.out" 2>"$dir/run.err" &
  run_pid=$!
  # Start-up is through once the variable timer runs; give it time to settle.
  for _ in $(seq 600); do grep -q "Comm Port" "$dir/run.out" && break; sleep 0.1; done
  sleep 5
  kill -0 "$run_pid" || { cat "$dir/run.err" >&2; exit 1; }

  declare -A c0 w0
  for p in "$run_pid" "$sim_pid"; do c0[$p]=$(cpu "$p"); w0[$p]=$(wakes "$p"); done
  t0=$(date +%s.%N)
  sleep "$seconds"
  t1=$(date +%s.%N)
  for p in "$run_pid" "$sim_pid"; do
    name=$([ "$p" = "$run_pid" ] && echo "varnel run" || echo "varnel sim")
    awk -v n="$name" -v pace="$pace" -v c="$(($(cpu "$p") - ${c0[$p]}))" -v w="$(($(wakes "$p") - ${w0[$p]}))" \
        -v r="$(rss_kb "$p")" -v hz="$ticks" -v t0="$t0" -v t1="$t1" 'BEGIN {
      s = t1 - t0
      printf "%-4s %-11s cpu %5.2f%% of a core, %6.1f wake-ups/s, %5.1f MB resident (%.0f s)\n",
             pace, n, 100 * c / hz / s, w / s, r / 1024, s }'
  done
  stop
}

measure fifo
measure byte
