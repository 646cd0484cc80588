#!/usr/bin/env bash
# The silence between two tracks that follow each other: our player vs Audacious.
# Usage: [ROUNDS=3] bench/gapless.sh [path/to/TamselMP3Player]
#
# Each program is started with two WAV files on its command line and plays
# them into a private PulseAudio null sink, whose monitor is recorded while
# they play. The recording's longest run of silent frames between the first
# sound and the last is the gap at the join (the tracks are steady tones, so
# no other silence can be there).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ours=$(in_repo "${1:-build/program/TamselMP3Player}")
rounds=${ROUNDS:-3}
positive_count ROUNDS "$rounds"
seconds=4 # of each track

need_command sox sox
need_command python3 python3
need_command Xvfb xvfb
need_command dbus-daemon dbus-daemon
need_command dbus-send dbus-bin
need_command audacious audacious
need_command pulseaudio pulseaudio
need_command parec pulseaudio-utils
need_file '*gstreamer-1.0/libgstpulseaudio.so' gstreamer1.0-pulseaudio
install_needed

make_work tamsel-gapless
player_pid=
recorder_pid=
run_at_exit '[[ -z $player_pid ]] || stop_group "$player_pid"; [[ -z $recorder_pid ]] || stop_group "$recorder_pid"'

# Two steady tones, CD format, as two tracks of one recording would be.
sox -q -n -r 44100 -c 2 -b 16 "$work/1 first.wav" synth "$seconds" sine 440 vol 0.5
sox -q -n -r 44100 -c 2 -b 16 "$work/2 second.wav" synth "$seconds" sine 660 vol 0.5
tracks=("$work/1 first.wav" "$work/2 second.wav")

start_xvfb
start_session_bus
start_null_sink

names=(TamselMP3Player Audacious)
buses=(TamselMP3Player audacious)
have=(1 1)
[[ -x $ours ]] || have[0]=0

status_is() { # INDEX STATUS: MPRIS PlaybackStatus is STATUS
    local now
    now=$(dbus-send --session --print-reply --reply-timeout=2000 --dest="org.mpris.MediaPlayer2.${buses[$1]}" \
        /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get \
        string:org.mpris.MediaPlayer2.Player string:PlaybackStatus | awk 'NR > 1 { print $NF }' | tr -d '"')
    [[ $now == "$2" ]]
}

# gap RAW: the longest run of silent frames between the first sound and the
# last, in ms; "-" unless the first tone is heard and then the second.
gap() {
    python3 - "$1" <<'PY'
import array, sys
samples = array.array('h')
with open(sys.argv[1], 'rb') as f:
    samples.frombytes(f.read())
left, right = samples[0::2], samples[1::2]
threshold = 64  # of 32767: -54 dB, far below the tones
loud = [i for i in range(len(right)) if abs(left[i]) >= threshold or abs(right[i]) >= threshold]
# Which tone a 10 ms window holds, by its zero crossings (440 Hz: about 9, 660 Hz: about 13).
tones = []
for start in range(0, len(left) - 441, 441):
    window = left[start:start + 441]
    if max(abs(x) for x in window) >= threshold:
        crossings = sum(1 for a, b in zip(window, window[1:]) if (a < 0) != (b < 0))
        tone = 1 if crossings < 11 else 2
        if not tones or tones[-1] != tone:
            tones.append(tone)
if tones[:2] != [1, 2]:
    print("-")
    sys.exit()
print("%.1f" % (max([b - a - 1 for a, b in zip(loud, loud[1:])] + [0]) / 44.1))
PY
}

run_count=0
play_one() { # INDEX: appends the gap in ms to res.NAME
    local i=$1 home log ok=1 cmd dir
    run_count=$((run_count + 1))
    home=$work/home.$run_count
    mkdir -p "$home/.config" "$home/.cache" "$home/run"
    chmod 700 "$home/run"
    log=$work/${names[i]}.$run_count.log
    setsid parec --device=bench.monitor --format=s16le --rate=44100 --channels=2 --raw \
        >"$work/rec.raw" 2>"$work/parec.log" &
    recorder_pid=$!
    sleep 0.5
    case $i in
        0) cmd=("$ours" "${tracks[@]}") dir=$(dirname "$ours") ;; # it keeps its files beside itself
        1) cmd=(audacious "${tracks[@]}") dir=$home ;;
    esac
    (cd "$dir" && exec setsid env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
        XDG_RUNTIME_DIR="$home/run" "${cmd[@]}") >"$log" 2>&1 &
    player_pid=$!
    wait_for 20 status_is "$i" Playing || { ok=0; echo "${names[i]}: never played" >&2; }
    # Ours repeats the list by default; in order, it stops after the last track.
    if ((ok && i == 0)); then
        dbus-send --session --print-reply --reply-timeout=2000 --dest=org.mpris.MediaPlayer2.TamselMP3Player \
            /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2.Player \
            string:LoopStatus variant:string:None >/dev/null || ok=0
    fi
    if ((ok)) && ! wait_for $((2 * seconds + 10)) status_is "$i" Stopped; then
        ok=0
        echo "${names[i]}: never stopped" >&2
    fi
    sleep 0.5
    stop_group "$player_pid"
    player_pid=
    stop_group "$recorder_pid"
    recorder_pid=
    if ((ok)); then
        gap "$work/rec.raw" >>"$work/res.${names[i]}"
    else
        tail -n 3 "$log" >&2
    fi
}

for ((round = 1; round <= rounds; round++)); do
    for i in 0 1; do
        ((have[i])) || continue
        echo "round $round/$rounds: ${names[i]}" >&2
        play_one "$i"
    done
done

version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "?"; }

echo
echo "| program | runs | longest silence at the join, ms (median) | max ms |"
echo "| --- | --- | --- | --- |"
for i in 0 1; do
    if ((!have[i])); then
        echo "| ${names[i]} | not run | | |"
        continue
    fi
    res=$work/res.${names[i]}
    touch "$res"
    grep -v '^-' "$res" >"$res.ok" || true
    okn=$(wc -l <"$res.ok")
    if ((okn)); then
        echo "| ${names[i]} | $okn/$rounds | $(printf "%.1f" "$(median "$res.ok")") | $(sort -n "$res.ok" | tail -n 1) |"
    else
        echo "| ${names[i]} | 0/$rounds | - | - |"
    fi
done
echo
echo "Two ${seconds} s WAV files (44.1 kHz, 16 bit, stereo; a 440 Hz tone, then a 660 Hz tone) on each program's" \
    "command line, into a private PulseAudio $(version pulseaudio) null sink, its monitor recorded with parec;" \
    "ours with its default output (autoaudiosink), in order (MPRIS LoopStatus None), Audacious $(version audacious)" \
    "with its own defaults. Silence: both channels below 64/32767 (-54 dB)."
