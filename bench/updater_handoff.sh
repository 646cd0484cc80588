#!/usr/bin/env bash
# Idle wake-ups of the player with the updater hand-off watch running, and the
# time from a new updater file (or the updater window's end) to the swap.
# Usage: [ROUNDS=5] [BASELINE=path/to/other/TamselMP3Player] \
#        bench/updater_handoff.sh [path/to/TamselMP3Player [path/to/tamsel_hold_window]]
# BASELINE: another build (an older one, say) whose idle wake-ups are measured
# in the same rounds, for comparison.
#
# The player runs from a program folder of its own under a private Xvfb and
# runtime folder, reading docs/notice-sample.html from a loopback web server
# (push on, so its push timer runs as it would for users).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ours=$(in_repo "${1:-build/program/TamselMP3Player}")
hold=$(in_repo "${2:-build/tests/support/tamsel_hold_window}")
rounds=${ROUNDS:-5}
positive_count ROUNDS "$rounds"
[[ -x $ours ]] || { echo "no player at $ours (build first)" >&2; exit 1; }
[[ -x $hold ]] || { echo "no tamsel_hold_window at $hold (build with the tests)" >&2; exit 1; }
baseline=${BASELINE:-}
[[ -z $baseline || -x $baseline ]] || { echo "no baseline player at $baseline" >&2; exit 1; }

need_command Xvfb xvfb
need_command python3 python3
install_needed

make_work tamsel-handoff
player_pid=
stop_player() {
    [[ -n $player_pid ]] || return 0
    kill -TERM "$player_pid" 2>/dev/null || true
    wait "$player_pid" 2>/dev/null || true
    player_pid=
    # A killed player leaves its window record; the next start must not find it.
    rm -f "$XDG_RUNTIME_DIR"/tamsel-*/*.window
}
run_at_exit stop_player
start_xvfb

mkdir -p "$work/site"
cp "$repo/docs/notice-sample.html" "$work/site/notice.html"
serve_folder "$work/site"
export TAMSEL_NOTICE_URL=$site/notice.html

export XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export HOME=$work/home
mkdir -p "$HOME"
# No session bus: nothing autolaunches a daemon or waits on one.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus
prog=$work/program
mkdir -p "$prog"
cp "$ours" "$prog/TamselMP3Player"
[[ -f $(dirname "$ours")/Tamsel.Skin ]] && cp "$(dirname "$ours")/Tamsel.Skin" "$prog/"
if [[ -n $baseline ]]; then
    mkdir -p "$work/baseline"
    cp "$baseline" "$work/baseline/TamselMP3Player"
    [[ -f $(dirname "$baseline")/Tamsel.Skin ]] && cp "$(dirname "$baseline")/Tamsel.Skin" "$work/baseline/"
fi

# switches PID: "tid count" per thread, voluntary + nonvoluntary context switches.
switches() {
    local task
    for task in /proc/"$1"/task/*; do
        awk -v tid="${task##*/}" '/^(voluntary|nonvoluntary)_ctxt_switches:/ { s += $2 }
            END { print tid, s + 0 }' "$task/status" 2>/dev/null || true
    done
}

# start_player [FOLDER]: the player of that program folder ($prog by default).
start_player() {
    "${1:-$prog}/TamselMP3Player" >>"$work/player.log" 2>&1 &
    player_pid=$!
    # Up once its main window's record is there.
    wait_for 20 grep -rqs '^TamselMP3Player$' "$XDG_RUNTIME_DIR" ||
        { echo "player did not start; log tail:" >&2; tail -n 5 "$work/player.log" >&2; exit 1; }
}

# idle_rate: wake-ups per second over 10 s of the running player, 3 s from now.
# Threads are matched by id, so one that ends meanwhile takes its count
# along instead of making the sum go down; one that starts counts in full.
idle_rate() {
    sleep 3
    switches "$player_pid" >"$work/w1"
    sleep 10
    switches "$player_pid" >"$work/w2"
    kill -0 "$player_pid" || { echo "player exited while idle" >&2; exit 1; }
    awk 'NR == FNR { before[$1] = $2; next } { s += $2 - before[$1] } END { printf "%.1f\n", s / 10 }' \
        "$work/w1" "$work/w2"
}

fresh_updater() {
    rm -f "$prog/NewKivuUpdate"
    printf '#!/bin/sh\necho old\n' >"$prog/KivuUpdate"
    chmod 755 "$prog/KivuUpdate"
}

# swap_ms MODE: milliseconds from the event to the swap, measured by a 1 ms poll.
#   appear: NewKivuUpdate is moved into the folder, no updater window open.
#   close:  the updater window (another process) closes with NewKivuUpdate waiting.
#   crash:  that process is killed instead.
swap_ms() {
    python3 - "$1" "$prog" "$hold" <<'PY'
import os, subprocess, sys, time
mode, prog, hold = sys.argv[1:]
updater, new = os.path.join(prog, "KivuUpdate"), os.path.join(prog, "NewKivuUpdate")
body = b"#!/bin/sh\necho new\n"
holder = None
if mode != "appear":
    holder = subprocess.Popen([hold, "TamselMP3Player 更新程序"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    assert holder.stdout.readline().strip() == b"ready"
staged = os.path.join(prog, ".staged")
with open(staged, "wb") as f:
    f.write(body)
if holder:
    os.rename(staged, new)
    time.sleep(2)
    with open(updater, "rb") as f:
        if f.read() == body:
            sys.exit("swapped while the updater window was open")
    t0 = time.monotonic()
    if mode == "close":
        holder.stdin.close()
    else:
        holder.kill()
    holder.wait()
else:
    t0 = time.monotonic()
    os.rename(staged, new)
while True:
    try:
        with open(updater, "rb") as f:
            if f.read() == body:
                break
    except FileNotFoundError:
        sys.exit("no KivuUpdate for a moment")
    if time.monotonic() - t0 > 20:
        sys.exit("no swap within 20 s")
    time.sleep(0.001)
ms = (time.monotonic() - t0) * 1000
if os.path.exists(new) or not os.access(updater, os.X_OK):
    sys.exit("swap left NewKivuUpdate or lost the run bit")
print(f"{ms:.0f}")
PY
}

# waiting_rate: wake-ups per second while a new updater waits for an updater
# window that stays open (the only state with a timed look).
waiting_rate() {
    local holder rate
    mkfifo "$work/hold.in"
    "$hold" "TamselMP3Player 更新程序" <"$work/hold.in" >"$work/hold.out" 2>&1 &
    holder=$!
    exec 7>"$work/hold.in"
    wait_for 10 grep -q ready "$work/hold.out" || { echo "hold window did not start" >&2; exit 1; }
    printf '#!/bin/sh\necho new\n' >"$prog/.staged"
    mv "$prog/.staged" "$prog/NewKivuUpdate"
    rate=$(idle_rate)
    exec 7>&-
    wait "$holder" || true
    rm -f "$work/hold.in" "$work/hold.out"
    wait_for 10 test ! -e "$prog/NewKivuUpdate" || { echo "no swap after the window closed" >&2; exit 1; }
    echo "$rate"
}

mkdir -p "$work/res"
for ((round = 1; round <= rounds; round++)); do
    echo "round $round/$rounds" >&2
    fresh_updater
    start_player
    idle_rate >>"$work/res/idle"
    for mode in appear close crash; do
        swap_ms "$mode" >>"$work/res/$mode"
        fresh_updater
        sleep 1
    done
    waiting_rate >>"$work/res/waiting"
    stop_player
    if [[ -n $baseline ]]; then
        start_player "$work/baseline"
        idle_rate >>"$work/res/baseline"
        stop_player
    fi
done

# stats FILE: "median min max" of its numbers.
stats() {
    sort -n "$1" | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%s | %s | %s", m, v[1], v[NR] }'
}

echo
echo "| measure | rounds | median | min | max |"
echo "| --- | --- | --- | --- | --- |"
echo "| idle wake-ups/s, watch running, nothing to hand off | $rounds | $(stats "$work/res/idle") |"
[[ -n $baseline ]] &&
    echo "| idle wake-ups/s, baseline $baseline | $rounds | $(stats "$work/res/baseline") |"
echo "| wake-ups/s while NewKivuUpdate waits for an open updater window | $rounds | $(stats "$work/res/waiting") |"
echo "| ms from NewKivuUpdate appearing (no updater window) to the swap | $rounds | $(stats "$work/res/appear") |"
echo "| ms from the updater window closing to the swap | $rounds | $(stats "$work/res/close") |"
echo "| ms from the updater being killed to the swap | $rounds | $(stats "$work/res/crash") |"
echo
model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
echo "$(nproc) x ${model:-?}, Linux $(uname -r); Xvfb without window manager, no session bus;" \
    "the player reads docs/notice-sample.html (push on) from a loopback web server." \
    "Wake-ups: context switches from /proc/PID/task/*/status over 10 s, per thread (a thread" \
    "that ends meanwhile is left out), the idle row from 3 s to 13 s after the player's window" \
    "record appeared (the measure of bench/playback.sh)." \
    "Swap times: a 1 ms poll of KivuUpdate's content; they include the designed one-second rest."
