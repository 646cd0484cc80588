#!/usr/bin/env bash
# Start-up time and memory: our player vs Audacious and qmmp, alternating runs.
# Usage: [ROUNDS=10] bench/startup.sh [path/to/TamselMP3Player]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ours=$(in_repo "${1:-build/program/TamselMP3Player}")
rounds=${ROUNDS:-10}
positive_count ROUNDS "$rounds"

# Packages for the tools below; the project's deps script lists the same.
need_command cc gcc libc6-dev
[[ -e /usr/include/X11/Xlib.h ]] || missing+=(libx11-dev)
need_command Xvfb xvfb
need_command audacious audacious
need_command qmmp qmmp
install_needed

make_work tamsel-startup
cc -O2 "$here/mapwait.c" -lX11 -o "$work/mapwait"
start_xvfb

names=(TamselMP3Player Audacious qmmp)
titles=(TamselMP3Player Audacious Qmmp)
have=(1 1 1)
[[ -x $ours ]] || have[0]=0
mkdir -p "$work/logs" "$work/res"

run_count=0
# run_one INDEX ROUND: one start in a fresh home; appends "ms rss" or nothing.
run_one() {
    local i=$1 round=$2 home out
    run_count=$((run_count + 1))
    home=$work/home.$run_count
    mkdir -p "$home/.config" "$home/.cache" "$home/.local/share" "$home/run"
    chmod 700 "$home/run"
    local cmd dir=$home
    case $i in
        0) cmd=("$ours") dir=$(dirname "$ours") ;; # it keeps its files beside itself
        1) cmd=(audacious) ;;
        2) cmd=(qmmp) ;;
    esac
    # No session bus: nothing autolaunches a daemon or waits on one.
    if out=$(cd "$dir" && \
        env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
            XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
            DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus" \
            "$work/mapwait" --name "${titles[i]}" --timeout 20 -- "${cmd[@]}" \
            2>"$work/logs/${names[i]}.$round.log"); then
        [[ $round -gt 0 ]] && echo "$out" >>"$work/res/${names[i]}"
    else
        echo "${names[i]} round $round failed: $(tail -n 1 "$work/logs/${names[i]}.$round.log")" >&2
        [[ $round -gt 0 ]] && echo fail >>"$work/res/${names[i]}"
    fi
    # Which interface Debian's Audacious picked shows in the config it saved on exit.
    if [[ $i -eq 1 && $round -eq 0 ]]; then
        audacious_ui=unknown
        if grep -q '^\[gtkui\]' "$home/.config/audacious/config" 2>/dev/null; then
            audacious_ui="GTK (gtkui)"
        elif grep -q '^\[qtui\]' "$home/.config/audacious/config" 2>/dev/null; then
            audacious_ui="Qt (qtui)"
        fi
    fi
    # qmmp logs the skin it loads when its skinned interface starts.
    if [[ $i -eq 2 && $round -eq 0 ]] && grep -q '^Skin: using' "$work/logs/qmmp.0.log"; then
        qmmp_ui="skinned"
    fi
    rm -rf "$home"
}

audacious_ui=unknown
qmmp_ui=unknown
# Round 0 fills the page cache and is discarded.
for ((round = 0; round <= rounds; round++)); do
    echo "round $round/$rounds" >&2
    for i in 0 1 2; do
        ((have[i])) && run_one "$i" "$round"
    done
done

# stats FILE: "ok median min max median_rss" over the successful runs.
stats() {
    grep -v fail "$1" | awk '
        { ms[NR] = $1; rss[NR] = $2 }
        function median(a, n,   i, j, t) {
            for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
        }
        END {
            if (NR == 0) { print 0; exit }
            min = max = ms[1]
            for (i = 1; i <= NR; i++) { if (ms[i] < min) min = ms[i]; if (ms[i] > max) max = ms[i] }
            printf "%d %.0f %.0f %.0f %.1f\n", NR, median(ms, NR), min, max, median(rss, NR)
        }'
}

version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "?"; }

echo
echo "| program | runs ok | median ms to window | min ms | max ms | median RSS MB 2 s later |"
echo "| --- | --- | --- | --- | --- | --- |"
for i in 0 1 2; do
    if ((!have[i])); then
        echo "| ${names[i]} | not built ($ours) | | | | |"
        continue
    fi
    read -r ok med min max rss < <(stats "$work/res/${names[i]}")
    if ((ok == 0)); then
        echo "| ${names[i]} | 0/$rounds | | | | |"
    else
        echo "| ${names[i]} | $ok/$rounds | $med | $min | $max | $rss |"
    fi
done
echo
echo "Xvfb 1280x800x24 without a window manager or session bus, $(nproc) cores; fresh HOME per run;" \
    "1 warm-up round discarded, then $rounds alternating rounds." \
    "Audacious $(version audacious) started in its Debian default interface: $audacious_ui;" \
    "qmmp $(version qmmp) in its default interface: $qmmp_ui."
