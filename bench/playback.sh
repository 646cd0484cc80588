#!/usr/bin/env bash
# CPU while playing an MP3 and idle wake-ups: our player vs Audacious and qmmp,
# and ours again with the equalizer on, and with a .lrc beside the track, its
# desktop lyrics window showing.
# Usage: [ROUNDS=3] [PCM=pulse|null] [PEERS=0] [BASELINE=path/to/another/TamselMP3Player] bench/playback.sh [path/to/TamselMP3Player]
# PEERS=0 leaves Audacious and qmmp out: ours only.
#
# Every program plays through its ALSA output. PCM=null is ALSA's null device;
# it takes samples as fast as they come, so players race through the file
# instead of playing it in real time. The default, PCM=pulse, is ALSA's
# "pulse" device in front of a private PulseAudio null sink, which is clocked.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ours=$(in_repo "${1:-build/program/TamselMP3Player}")
rounds=${ROUNDS:-3}
positive_count ROUNDS "$rounds"
pcm=${PCM:-pulse}
[[ $pcm == pulse || $pcm == null ]] || { echo "PCM must be pulse or null" >&2; exit 1; }

need_command sox sox
need_command lame lame
need_command Xvfb xvfb
need_command dbus-daemon dbus-daemon
need_command dbus-send dbus-bin
if [[ ${PEERS:-1} != 0 ]]; then
    need_command audacious audacious
    need_command qmmp qmmp
fi
need_file '*gstreamer-1.0/libgstalsa.so' gstreamer1.0-alsa
if [[ $pcm == pulse ]]; then
    need_command pulseaudio pulseaudio
    need_command pactl pulseaudio-utils
    need_file '*/libasound_module_pcm_pulse.so' libasound2-plugins
fi
install_needed

make_work tamsel-playback
player_pid=
stop_player() {
    [[ -n $player_pid ]] || return 0
    stop_group "$player_pid"
    player_pid=
}
run_at_exit stop_player

# 40 s of stereo: pink noise left, a tone right.
sox -q -n -r 44100 -c 2 -b 16 "$work/src.wav" synth 40 pinknoise sine 440 vol 0.5
lame --quiet -b 192 "$work/src.wav" "$work/test.mp3"
rm -f "$work/src.wav"
mp3=$work/test.mp3
# The same track with lyrics beside it: a line every 3 s, ten characters or so,
# as Chinese songs are sung; the desktop lyrics window shows them by default.
# Not in a folder named "lyrics": the player looks for a track's .lrc there too.
mkdir -p "$work/sung"
cp "$mp3" "$work/sung/test.mp3"
for ((s = 0; s < 40; s += 3)); do
    printf '[00:%02d.00]我曾经跨过山和大海第%d行\r\n' "$s" "$s"
done >"$work/sung/test.lrc"

start_xvfb

start_session_bus
if [[ $pcm == pulse ]]; then start_null_sink; fi

clk_tck=$(getconf CLK_TCK)
# cpu_ticks PID: utime+stime of all its threads.
cpu_ticks() {
    local rest
    rest=$(<"/proc/$1/stat") || return 1
    rest=${rest##*) } # comm may hold spaces
    awk '{ print $12 + $13 }' <<<"$rest"
}
# switches PID: voluntary + nonvoluntary context switches over its threads.
switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { s += $2 } END { print s + 0 }'
}
now() { echo "$EPOCHREALTIME"; }
# after T D: T + D seconds, printed in full (awk's default would round to 6 digits).
after() { awk -v t="$1" -v d="$2" 'BEGIN { printf "%.6f\n", t + d }'; }
sleep_until() {
    local left
    left=$(awk -v t="$1" -v n="$EPOCHREALTIME" 'BEGIN { d = t - n; printf "%.3f\n", (d > 0 ? d : 0) }')
    sleep "$left"
}

# Ours twice: as it starts, and with the equalizer on (set in its settings file);
# and BASELINE, another build of ours, as it starts.
baseline=${BASELINE:+$(in_repo "$BASELINE")}
names=(TamselMP3Player Audacious qmmp "TamselMP3Player, equalizer on" "TamselMP3Player, BASELINE"
    TamselMP3Player+lyrics)
buses=(TamselMP3Player audacious qmmp TamselMP3Player TamselMP3Player TamselMP3Player)
files=("$mp3" "$mp3" "$mp3" "$mp3" "$mp3" "$work/sung/test.mp3")
have=(1 1 1 1 1 1)
[[ -x $ours ]] || have[0]=0 have[3]=0 have[5]=0
[[ -n $baseline && -x $baseline ]] || have[4]=0
[[ ${PEERS:-1} == 0 ]] && have[1]=0 have[2]=0
# The preset 摇滚: every band lifted or cut, so the equalizer cannot pass anything through.
equalizer_on=$'[equalizer]\nenabled=true\nvalues=-4 5 4 2 -1 -2 -1 1 3 4 5\n'


mpris_get() { # INDEX PROPERTY: raw value
    dbus-send --session --print-reply --reply-timeout=2000 \
        --dest="org.mpris.MediaPlayer2.${buses[$1]}" /org/mpris/MediaPlayer2 \
        org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player "string:$2" |
        awk 'NR > 1 { print $NF }' | tr -d '"'
}
# owns_bus INDEX PID: the MPRIS name is up and held by PID itself.
owns_bus() {
    local owner
    owner=$(dbus-send --session --print-reply --reply-timeout=2000 --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        "string:org.mpris.MediaPlayer2.${buses[$1]}" | awk 'NR > 1 { print $NF }') || return 1
    [[ $owner == "$2" ]]
}
is_playing() { [[ $(mpris_get "$1" PlaybackStatus) == Playing ]]; }
# has_lyrics: our player announces the track's lyrics, so its lyrics window shows them.
has_lyrics() {
    dbus-send --session --print-reply --reply-timeout=2000 --dest=org.mpris.MediaPlayer2.TamselMP3Player \
        /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player \
        string:Metadata | grep -q 'xesam:asText'
}
# pulse_stream PID: PID has an uncorked stream on the sound server.
pulse_stream() {
    pactl list sink-inputs | awk -v pid="$1" '
        /^Sink Input #/ { corked = "" }
        /^\tCorked:/ { corked = $2 }
        /application.process.id = / { gsub(/"/, "", $3); if ($3 == pid && corked == "no") hit = 1 }
        END { exit !hit }'
}

# Audacious keeps its output choice in plugin-registry, written on a first run;
# make one with the sound server out of reach, then pin ALSA in it.
audacious_template=$work/audacious-config
make_audacious_template() {
    local home=$work/home.template
    mkdir -p "$home/.config" "$home/.cache" "$home/.local/share" "$home/run"
    chmod 700 "$home/run"
    setsid env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
        XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        PULSE_SERVER="unix:$work/no-server" audacious >"$work/audacious-template.log" 2>&1 &
    player_pid=$!
    wait_for 20 owns_bus 1 "$player_pid" || true
    stop_player # it saves its config on SIGTERM
    local reg=$home/.config/audacious/plugin-registry
    [[ -s $reg ]] || return 1
    mkdir -p "$audacious_template"
    awk '/^[a-z]+ \// { out = ($1 == "output"); alsa = ($2 ~ /\/Output\/alsa\.so$/) }
         /^enabled / && out { $0 = "enabled " (alsa ? 1 : 0) }
         { print }' "$reg" >"$audacious_template/plugin-registry"
    printf '[alsa]\npcm=%s\n' "$pcm" >"$audacious_template/config"
    rm -rf "$home"
}

run_count=0
# start_player INDEX [FILE]: fresh home, starts it in its own group; sets player_pid.
start_player() {
    local i=$1 file=${2:-} home dir cmd log
    run_count=$((run_count + 1))
    home=$work/home.$run_count
    mkdir -p "$home/.config" "$home/.cache" "$home/.local/share" "$home/run"
    chmod 700 "$home/run"
    dir=$home
    case $i in
        0 | 3 | 5) cmd=("$ours") dir=$(dirname "$ours") ;; # it keeps its files beside itself
        4) cmd=("$baseline") dir=$(dirname "$baseline") ;;
        1)
            mkdir -p "$home/.config/audacious"
            cp "$audacious_template"/* "$home/.config/audacious/"
            cmd=(audacious ${file:+"$file"})
            ;;
        2)
            # QSettings spells the [General] group "%General".
            mkdir -p "$home/.qmmp"
            printf '[Output]\ncurrent_plugin=alsa\n\n[ALSA]\ndevice=%s\n\n[%%General]\nenabled_plugins=mpris\n' \
                "$pcm" >"$home/.qmmp/qmmprc"
            cmd=(qmmp ${file:+"$file"})
            ;;
    esac
    if ((i == 3)); then
        mkdir -p "$home/.config/TamselMP3Player"
        printf '%s' "$equalizer_on" >"$home/.config/TamselMP3Player/settings.ini"
    fi
    log=$work/logs/${names[i]}.$run_count.log
    (cd "$dir" && exec setsid env HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_CACHE_HOME="$home/.cache" XDG_DATA_HOME="$home/.local/share" \
        XDG_RUNTIME_DIR="$home/run" TAMSEL_AUDIO_SINK="alsasink device=$pcm" \
        "${cmd[@]}") >"$log" 2>&1 &
    player_pid=$!
    if ! wait_for 20 owns_bus "$i" "$player_pid"; then
        echo "${names[i]}: no MPRIS name within 20 s; log tail:" >&2
        tail -n 3 "$log" >&2
        return 1
    fi
}

fail() { echo "${names[$1]} run $run_count: $2" >&2; }

# play_one INDEX: appends "cpu_s server_s ok" to res/NAME.play.
play_one() {
    local i=$1 t0 c1 c2 s1 s2 p1 p2 ok=1
    if ! start_player "$i" "${files[i]}"; then
        stop_player; echo "- - 0" >>"$work/res/${names[i]}.play"; return
    fi
    if ((i == 0 || i >= 3)); then
        dbus-send --session --print-reply --reply-timeout=5000 \
            --dest=org.mpris.MediaPlayer2.TamselMP3Player /org/mpris/MediaPlayer2 \
            org.mpris.MediaPlayer2.Player.OpenUri "string:file://${files[i]}" >/dev/null || ok=0
    fi
    if ! wait_for 10 is_playing "$i"; then
        fail "$i" "never reported Playing"
        stop_player; echo "- - 0" >>"$work/res/${names[i]}.play"; return
    fi
    t0=$(now)
    sleep_until "$(after "$t0" 5)"
    c1=$(cpu_ticks "$player_pid") || ok=0
    [[ -n $pulse_pid ]] && s1=$(cpu_ticks "$pulse_pid")
    p1=$(mpris_get "$i" Position) || p1=
    is_playing "$i" || { ok=0; fail "$i" "not Playing at 5 s"; }
    if ((i == 5)) && ! has_lyrics; then ok=0; fail "$i" "no lyrics in its metadata at 5 s"; fi
    if ((i == 0 || i == 3)) && has_lyrics; then ok=0; fail "$i" "lyrics found for the plain track"; fi
    if [[ -n $pulse_pid ]] && ! pulse_stream "$player_pid"; then ok=0; fail "$i" "no live sound-server stream at 5 s"; fi
    sleep_until "$(after "$t0" 35)"
    c2=$(cpu_ticks "$player_pid") || ok=0
    [[ -n $pulse_pid ]] && s2=$(cpu_ticks "$pulse_pid")
    p2=$(mpris_get "$i" Position) || p2=
    is_playing "$i" || { ok=0; fail "$i" "not Playing at 35 s"; }
    if [[ -n $pulse_pid ]] && ! pulse_stream "$player_pid"; then ok=0; fail "$i" "no live sound-server stream at 35 s"; fi
    # Real-time playback moves the position by the 30 s that passed.
    if ! awk -v a="$p1" -v b="$p2" 'BEGIN { d = (b - a) / 1e6; exit !(a != "" && b != "" && d > 28 && d < 32) }'; then
        ok=0; fail "$i" "position went from ${p1:-?} to ${p2:-?} us in 30 s"
    fi
    stop_player
    local line
    line=$(awk -v a="${c1:-0}" -v b="${c2:-0}" -v sa="${s1:-0}" -v sb="${s2:-0}" -v hz="$clk_tck" -v ok="$ok" \
        -v srv="${pulse_pid:+1}" 'BEGIN { printf "%.2f %s %d\n", (b - a) / hz, srv ? sprintf("%.2f", (sb - sa) / hz) : "-", ok }')
    echo "$line" >>"$work/res/${names[i]}.play"
    if ((!ok)); then # what it cost anyway, and what it said
        fail "$i" "not counted; it used ${line%% *} CPU s in those 30 s; log tail:"
        grep -v '^ALSA lib' "$work/logs/${names[i]}.$run_count.log" | tail -n 3 >&2 || true
    fi
}

# idle_one INDEX: appends wake-ups per second to res/NAME.idle.
idle_one() {
    local i=$1 w1 w2
    if ! start_player "$i"; then
        stop_player; echo "-" >>"$work/res/${names[i]}.idle"; return
    fi
    sleep 3
    w1=$(switches "$player_pid")
    sleep 10
    w2=$(switches "$player_pid")
    if kill -0 "$player_pid" 2>/dev/null; then
        awk -v a="$w1" -v b="$w2" 'BEGIN { printf "%.1f\n", (b - a) / 10 }' >>"$work/res/${names[i]}.idle"
    else
        fail "$i" "exited while idle"; echo "-" >>"$work/res/${names[i]}.idle"
    fi
    stop_player
}

mkdir -p "$work/logs" "$work/res"
if ((have[1])) && ! make_audacious_template; then
    echo "Audacious wrote no plugin-registry; skipping it" >&2
    have[1]=0
fi

for ((round = 1; round <= rounds; round++)); do
    for i in 0 3 4 5 1 2; do
        ((have[i])) || continue
        echo "round $round/$rounds: ${names[i]} playing" >&2
        play_one "$i"
    done
    for i in 0 1 2; do
        ((have[i])) || continue
        echo "round $round/$rounds: ${names[i]} idle" >&2
        idle_one "$i"
    done
done

# column_median FILE COL [OKCOL]: the median over the numeric values in column COL of FILE, rows with ok flag when OKCOL given.
column_median() {
    awk -v col="$2" -v okcol="${3:-0}" '
        $col != "-" && (okcol == 0 || $okcol == 1) { v[++n] = $col }
        END {
            if (n == 0) { print "-"; exit }
            for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
            m = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            printf "%.2f\n", m
        }' "$1"
}
version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "?"; }

echo
if [[ -n $pulse_pid ]]; then
    echo "| program | runs verified playing | CPU s over 30 s playing (median) | % of one core | idle wake-ups/s (median) | sound server CPU s over the same 30 s (median) |"
    echo "| --- | --- | --- | --- | --- | --- |"
else
    echo "| program | runs verified playing | CPU s over 30 s playing (median) | % of one core | idle wake-ups/s (median) |"
    echo "| --- | --- | --- | --- | --- |"
fi
for i in 0 3 4 5 1 2; do
    ((i != 4 || have[4])) || continue
    if ((!have[i])); then
        echo "| ${names[i]} | not run | | | |"
        continue
    fi
    play=$work/res/${names[i]}.play
    okn=$(awk '$3 == 1' "$play" | wc -l)
    cpu=$(column_median "$play" 1 3)
    pct=$([[ $cpu == - ]] && echo - || awk -v c="$cpu" 'BEGIN { printf "%.1f", c / 30 * 100 }')
    idle=$([[ -f $work/res/${names[i]}.idle ]] && column_median "$work/res/${names[i]}.idle" 1 || echo -)
    idle=$([[ $idle == - ]] && echo - || awk -v w="$idle" 'BEGIN { printf "%.1f", w }')
    row="| ${names[i]} | $okn/$rounds | $cpu | $pct | $idle |"
    [[ -n $pulse_pid ]] && row+=" $(column_median "$play" 2 3) |"
    echo "$row"
done
if ((have[0] && have[5])); then
    # Paired by round, so that what else the machine did in a round counts on both sides.
    paste "$work/res/${names[0]}.play" "$work/res/${names[5]}.play" |
        awk '$3 == 1 && $6 == 1 { print $4 - $1 }' >"$work/res/lyrics.diff"
    echo
    echo "desktop lyrics: $(column_median "$work/res/lyrics.diff" 1) CPU s more over 30 s (median of the" \
        "differences within a round, $(wc -l <"$work/res/lyrics.diff") rounds verified on both sides)"
fi
echo
model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
sink="ALSA PCM \"$pcm\""
[[ $pcm == pulse ]] && sink+=" into a private PulseAudio $(version pulseaudio) null sink"
echo "$(nproc) x ${model:-?}, Linux $(uname -r), Debian $(cat /etc/debian_version 2>/dev/null || echo ?);" \
    "Xvfb without window manager, private session bus, fresh HOME per run; $rounds alternating rounds;" \
    "a 40 s 192 kbps stereo MP3 through $sink (ours: TAMSEL_AUDIO_SINK=\"alsasink device=$pcm\")," \
    "Audacious $(version audacious) and qmmp $(version qmmp) with their ALSA output on that PCM;" \
    "ours once more with the equalizer on (the preset 摇滚 in its settings file), ReplayGain as it starts (by track)." \
    "CPU: utime+stime from /proc/PID/stat between 5 s and 35 s after MPRIS first reported Playing;" \
    "medians over verified runs only. A run counts as playing when MPRIS PlaybackStatus was Playing at 5 s and 35 s," \
    "the MPRIS Position advanced 28-32 s in between$([[ $pcm == pulse ]] && echo ", and the process had an uncorked stream on the sound server at both times")." \
    "Idle: no file, context switches summed over /proc/PID/task/*/status from 3 s to 13 s after its MPRIS name appeared." \
    "TamselMP3Player+lyrics: the same track with a .lrc beside it (a line every 3 s), the desktop lyrics window" \
    "showing it, checked at 5 s through MPRIS xesam:asText."
