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

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
ours=${1:-build/program/TamselMP3Player}
[[ $ours == /* ]] || ours=$repo/$ours
rounds=${ROUNDS:-3}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "ROUNDS must be a positive integer" >&2; exit 1; }
seconds=4 # of each track

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
missing=()
command -v sox >/dev/null || missing+=(sox)
command -v python3 >/dev/null || missing+=(python3)
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v dbus-daemon >/dev/null || missing+=(dbus-daemon)
command -v dbus-send >/dev/null || missing+=(dbus-bin)
command -v audacious >/dev/null || missing+=(audacious)
command -v pulseaudio >/dev/null || missing+=(pulseaudio)
command -v parec >/dev/null || missing+=(pulseaudio-utils)
[[ -n $(find /usr/lib -path '*gstreamer-1.0/libgstpulseaudio.so' -print -quit 2>/dev/null) ]] ||
    missing+=(gstreamer1.0-pulseaudio)
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}" >&2
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

work=$(mktemp -d -t tamsel-gapless.XXXXXX)
daemons=() # Xvfb, dbus-daemon, pulseaudio
player_pid=
recorder_pid=
stop_pid() { # PID: its process group, TERM then KILL
    kill -TERM -- "-$1" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "-$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    [[ -n $player_pid ]] && stop_pid "$player_pid"
    [[ -n $recorder_pid ]] && stop_pid "$recorder_pid"
    local i
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        kill "${daemons[i]}" 2>/dev/null || true
        wait "${daemons[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for() { # SECONDS COMMAND...: poll every 0.1 s until COMMAND succeeds
    local n=$(($1 * 10))
    shift
    while ((n-- > 0)); do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Two steady tones, CD format, as two tracks of one recording would be.
sox -q -n -r 44100 -c 2 -b 16 "$work/1 first.wav" synth "$seconds" sine 440 vol 0.5
sox -q -n -r 44100 -c 2 -b 16 "$work/2 second.wav" synth "$seconds" sine 660 vol 0.5
tracks=("$work/1 first.wav" "$work/2 second.wav")

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
daemons+=($!)
wait_for 10 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")

dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" 2>"$work/dbus.log" &
daemons+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
wait_for 10 test -S "$work/bus" || { echo "dbus-daemon did not start" >&2; exit 1; }

mkdir -p "$work/pulse/home" "$work/pulse/run"
chmod 700 "$work/pulse/run"
# No default.pa: only the null sink and a socket without cookies.
env HOME="$work/pulse/home" XDG_CONFIG_HOME="$work/pulse/home/.config" XDG_RUNTIME_DIR="$work/pulse/run" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --realtime=no --high-priority=no \
    --log-target=stderr -L "module-null-sink sink_name=bench" \
    -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" 2>"$work/pulse.log" &
daemons+=($!)
export PULSE_SERVER=unix:$work/pulse/native
wait_for 10 pactl info >/dev/null || { echo "pulseaudio did not start" >&2; cat "$work/pulse.log" >&2; exit 1; }

names=(TamselMP3Player Audacious)
buses=(TamselMP3Player audacious)
have=(1 1)
[[ -x $ours ]] || have[0]=0

mpris_status() { # INDEX
    dbus-send --session --print-reply --reply-timeout=2000 --dest="org.mpris.MediaPlayer2.${buses[$1]}" \
        /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get \
        string:org.mpris.MediaPlayer2.Player string:PlaybackStatus | awk 'NR > 1 { print $NF }' | tr -d '"'
}
is_playing() { [[ $(mpris_status "$1") == Playing ]]; }
is_stopped() { [[ $(mpris_status "$1") == Stopped ]]; }

# gap RAW: the longest run of silent frames between the first sound and the
# last, in ms; "-" unless the first tone is heard and then the second.
gap() {
    python3 - "$1" <<'EOF'
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
longest = max([b - a - 1 for a, b in zip(loud, loud[1:])] + [0])
print("%.1f" % (longest / 44.1))
EOF
}

run_count=0
play_one() { # INDEX: appends the gap in ms to res.NAME
    local i=$1 home log
    run_count=$((run_count + 1))
    home=$work/home.$run_count
    mkdir -p "$home/.config" "$home/.cache" "$home/run"
    chmod 700 "$home/run"
    log=$work/${names[i]}.$run_count.log
    setsid parec --device=bench.monitor --format=s16le --rate=44100 --channels=2 --raw \
        >"$work/rec.raw" 2>"$work/parec.log" &
    recorder_pid=$!
    sleep 0.5
    local cmd=() dir=$home
    case $i in
        0) cmd=("$ours" "${tracks[@]}") dir=$(dirname "$ours") ;;
        1) cmd=(audacious "${tracks[@]}") ;;
    esac
    (cd "$dir" && exec setsid env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
        XDG_RUNTIME_DIR="$home/run" "${cmd[@]}") >"$log" 2>&1 &
    player_pid=$!
    local ok=1
    wait_for 20 is_playing "$i" || { ok=0; echo "${names[i]}: never played" >&2; }
    # Ours repeats the list by default; in order, it stops after the last track.
    if ((ok && i == 0)); then
        dbus-send --session --print-reply --reply-timeout=2000 --dest=org.mpris.MediaPlayer2.TamselMP3Player \
            /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2.Player \
            string:LoopStatus variant:string:None >/dev/null || ok=0
    fi
    ((ok)) && { wait_for $((2 * seconds + 10)) is_stopped "$i" || { ok=0; echo "${names[i]}: never stopped" >&2; }; }
    sleep 0.5
    stop_pid "$player_pid"
    player_pid=
    stop_pid "$recorder_pid"
    recorder_pid=
    if ((ok)); then
        gap "$work/rec.raw" >>"$work/res.${names[i]}"
    else
        tail -n 3 "$log" >&2
        echo "-" >>"$work/res.${names[i]}"
    fi
}

for ((round = 1; round <= rounds; round++)); do
    for i in 0 1; do
        ((have[i])) || continue
        echo "round $round/$rounds: ${names[i]}" >&2
        play_one "$i"
    done
done

median() { # FILE COLUMN
    awk -v col="$2" '$col != "-" { v[++n] = $col }
        END {
            if (n == 0) { print "-"; exit }
            for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
            printf "%.1f\n", (n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2)
        }' "$1"
}
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
    okn=$(awk '$1 != "-"' "$res" | wc -l)
    max=$(awk '$1 != "-" { if ($1 > m) m = $1; n++ } END { if (n) printf "%.1f\n", m; else print "-" }' "$res")
    echo "| ${names[i]} | $okn/$rounds | $(median "$res" 1) | $max |"
done
echo
echo "Two ${seconds} s WAV files (44.1 kHz, 16 bit, stereo; a 440 Hz tone, then a 660 Hz tone) on each program's" \
    "command line, into a private PulseAudio $(version pulseaudio) null sink, its monitor recorded with parec;" \
    "ours with its default output (autoaudiosink), in order (MPRIS LoopStatus None), Audacious $(version audacious)" \
    "with its own defaults. Silence: both channels below 64/32767 (-54 dB)."
