#!/usr/bin/env bash
# Unplug and stop figures of `varnel run` against the simulator on a pseudo-terminal:
#  1. CPU of varnel while the port is gone (the simulator killed);
#  2. from a new simulator on the same path to host events flowing again;
#  3. SIGTERM while a console command waits for the controller (the simulator
#     stopped with SIGSTOP) to the process gone, and writes to the port after
#     its close (strace, when installed);
#  4. SIGTERM during a start-up the controller never answers to the process gone.
#
#   bench/unplug_and_stop.sh [VARNEL] [SECONDS]     (defaults: build/app/varnel, 20)
set -euo pipefail
varnel=$(realpath "${1:-build/app/varnel}")
seconds=${2:-20}
work=$(mktemp -d /tmp/varnel-unplug.XXXXXX)
sim_pid=""
run_pid=""
trace_pid=""
cleanup() {
  [ -n "$trace_pid" ] && kill "$trace_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill -CONT "$sim_pid" 2>/dev/null && kill -9 "$sim_pid" 2>/dev/null
  [ -n "$run_pid" ] && kill -9 "$run_pid" 2>/dev/null
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# Waits up to $2 tenths of a second for $1 to appear in the run's output after line $3.
wait_line() {
  local text=$1 tenths=$2 from=${3:-0}
  for _ in $(seq "$((tenths * 5))"); do
    tail -n "+$((from + 1))" "$work/run.out" | grep -q -- "$text" && return 0
    sleep 0.02
  done
  echo "no \"$text\" in the run's output" >&2
  cat "$work/run.out" "$work/run.err" >&2
  exit 1
}
lines() { wc -l <"$work/run.out"; }
# SIGTERM to the run; prints how long until the process was gone.
terminate_run() {
  local t0 gone code
  t0=$(now)
  kill -TERM "$run_pid"
  while kill -0 "$run_pid" 2>/dev/null; do sleep 0.01; done
  gone=$(since "$t0")
  wait "$run_pid" 2>/dev/null && code=0 || code=$?
  run_pid=""
  echo "$1 process gone ${gone} s after SIGTERM (exit ${code})"
}

printf '0 x10 A 0\n50 x10 A 18\nrepeat 200\n' >"$work/x10.txt"
start_sim() {
  rm -f "$work/line"
  "$varnel" sim --link "$work/line" --demo-script "$work/x10.txt" >/dev/null 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 500); do [ -e "$work/line" ] && return 0; sleep 0.01; done
  echo "the simulator did not start" >&2
  exit 1
}

start_sim
mkfifo "$work/stdin"
XDG_CONFIG_HOME="$work/user" "$varnel" run --port "$work/line" --host-dir "$work/host" \
  <"$work/stdin" >"$work/run.out" 2>"$work/run.err" &
run_pid=$!
exec 3>"$work/stdin"
wait_line "Start-up: done in" 600
wait_line "Event: " 300

# 1. The port gone.
kill -9 "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
wait_line "Controller link lost" 300
sleep 2
ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
c0=$(cpu "$run_pid")
t0=$(now)
sleep "$seconds"
awk -v c="$(($(cpu "$run_pid") - c0))" -v hz="$ticks" -v t0="$t0" -v t1="$(now)" 'BEGIN {
  printf "port gone:        varnel run cpu %.2f%% of a core (%.0f s)\n", 100 * c / hz / (t1 - t0), t1 - t0 }'

# 2. A new simulator on the same path.
from=$(lines)
start_sim
appeared=$(now)
wait_line "Controller link back" 600 "$from"
back=$(since "$appeared")
from=$(grep -n "Controller link back" "$work/run.out" | tail -1 | cut -d: -f1)
wait_line "Event: " 300 "$from"
echo "replugged:        link back ${back} s, events flowing ${back:+$(since "$appeared")} s after the simulator appeared"

# 3. SIGTERM while a command waits for an answer that does not come.
kill -STOP "$sim_pid"
tty_fd=$(ls -l "/proc/$run_pid/fd" | awk -v l="$(readlink -f "$work/line")" '$NF == l { print $9 }' | head -1)
if command -v strace >/dev/null && [ -n "$tty_fd" ]; then
  strace -f -qq -e trace=write,close -p "$run_pid" -o "$work/trace" 2>/dev/null &
  trace_pid=$!
  sleep 1
fi
echo "var 1 5" >&3
sleep 0.5
terminate_run "stop in a wait: "
if [ -n "$trace_pid" ]; then
  wait "$trace_pid" 2>/dev/null || true
  trace_pid=""
  after=$(awk -v fd="$tty_fd" '
    $0 ~ "close\\(" fd "\\)" { closed = 1 }
    closed && $0 ~ "write\\(" fd "," { n++ }
    END { print n + 0 }' "$work/trace")
  echo "                  writes to the port (fd ${tty_fd}) after its close: ${after}"
fi

# 4. SIGTERM during a start-up nobody answers (a stopped simulator keeps the line).
kill -9 "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null || true
start_sim
kill -STOP "$sim_pid"
exec 3>&-
XDG_CONFIG_HOME="$work/user" "$varnel" run --port "$work/line" --host-dir "$work/host" \
  </dev/null >"$work/run.out" 2>"$work/run.err" &
run_pid=$!
wait_line "Start-up: looking for the controller" 300
sleep 2
terminate_run "stop in start-up:"
