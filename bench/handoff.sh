#!/usr/bin/env bash
# Milliseconds from the start of a second player given a file to its end, while
# a first player runs: the hand-off over the session bus. Prints a Markdown table.
# Usage: ROUNDS=20 bench/handoff.sh [path/to/TamselMP3Player]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

player=$(realpath "$(in_repo "${1:-build/program/TamselMP3Player}")")
rounds=${ROUNDS:-20}
positive_count ROUNDS "$rounds"
need_command sox sox
need_command lame lame
need_command dbus-run-session dbus-daemon
need_command dbus-send dbus-bin
install_needed

make_work tamsel-handoff
mkdir -p "$work/program" && mkdir -m 700 "$work/run"
cp "$player" "$work/program/TamselMP3Player"
sox -q -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 2 sine 440
lame --quiet "$work/tone.wav" "$work/one.mp3"

export QT_QPA_PLATFORM=offscreen TAMSEL_AUDIO_SINK=fakesink XDG_RUNTIME_DIR="$work/run"
export PROGRAM="$work/program/TamselMP3Player" SONG="$work/one.mp3" ROUNDS="$rounds"
dbus-run-session -- bash -c '
  set -euo pipefail
  "$PROGRAM" & first=$!
  for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames \
      | grep -q "org.mpris.MediaPlayer2.TamselMP3Player\"" && break
    sleep 0.1
  done
  sleep 0.5 # the running player has taken the application name too
  for _ in $(seq "$ROUNDS"); do
    start=$(date +%s%N)
    "$PROGRAM" "$SONG"
    echo $(( ($(date +%s%N) - start) / 1000000 ))
  done > "$XDG_RUNTIME_DIR/times"
  count=$(dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.TamselMP3Player /org/mpris/MediaPlayer2 \
    org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.TrackList string:Tracks | grep -c "object path")
  echo "$count" > "$XDG_RUNTIME_DIR/count"
  dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.TamselMP3Player /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit >/dev/null
  wait "$first"
' 2> >(grep -v "Failed to set fd limit" >&2)
sort -n "$work/run/times" > "$work/sorted"
median=$(median "$work/sorted")
echo "| second starts with a file | median ms to its end | min ms | max ms | entries the first player got |"
echo "|---|---|---|---|---|"
echo "| $rounds | $median | $(head -1 "$work/sorted") | $(tail -1 "$work/sorted") | $(cat "$work/run/count") |"
