# What the benchmark scripts share; each sources it first:
#   . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# It sets here (this folder) and repo (the repository's root).

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)

# in_repo PATH: PATH, taken from the repository's root when relative.
in_repo() {
    if [[ $1 == /* ]]; then echo "$1"; else echo "$repo/$1"; fi
}

# positive_count NAME VALUE: fails the script unless VALUE is a whole number above 0.
positive_count() {
    [[ $2 =~ ^[1-9][0-9]*$ ]] || { echo "$1 must be a positive integer" >&2; exit 1; }
}

# ---- packages --------------------------------------------------------------
# need_command COMMAND PACKAGE...: the packages are installed when COMMAND is missing.
# need_file PATTERN PACKAGE...: the same when no file under /usr/lib matches PATTERN (find -path).
# need_package PACKAGE...: the packages that dpkg does not list as installed.
# install_needed: installs all of them with apt-get (through sudo when not root).
missing=()
need_command() {
    command -v "$1" >/dev/null || missing+=("${@:2}")
}
need_file() {
    [[ -n $(find /usr/lib -path "$1" -print -quit 2>/dev/null) ]] || missing+=("${@:2}")
}
need_package() {
    local p
    for p; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
}
install_needed() {
    ((${#missing[@]})) || return 0
    local sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    echo "installing: ${missing[*]}" >&2
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
    missing=()
}

# ---- the work folder and clean-up -------------------------------------------
# make_work PREFIX: a fresh folder in $work, removed at the end with every
# process given to stop_at_exit (last first), after the commands given to
# run_at_exit (a player the script started, say).
work=
exit_pids=()
exit_commands=()
stop_at_exit() {
    exit_pids+=("$@")
}
run_at_exit() {
    exit_commands+=("$1")
}
clean_up() {
    local i
    for ((i = ${#exit_commands[@]} - 1; i >= 0; i--)); do
        eval "${exit_commands[i]}" || true
    done
    for ((i = ${#exit_pids[@]} - 1; i >= 0; i--)); do
        kill "${exit_pids[i]}" 2>/dev/null || true
        wait "${exit_pids[i]}" 2>/dev/null || true
    done
    [[ -z $work ]] || rm -rf "$work"
}
make_work() {
    work=$(mktemp -d -t "$1.XXXXXX")
    trap clean_up EXIT
    trap 'exit 130' INT TERM
}

# ---- waiting ----------------------------------------------------------------
# wait_for SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds; fails after SECONDS.
wait_for() {
    local n=$(($1 * 10))
    shift
    while ((n-- > 0)); do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# stop_group PID: TERM to PID's process group (a program and the helpers it
# forked), KILL after 5 s if it is still there.
stop_group() {
    kill -TERM -- "-$1" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "-$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# ---- helpers that run in the background --------------------------------------
# start_xvfb: a private X server on a free display, for the rest of the script.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    stop_at_exit $!
    wait_for 10 test -s "$work/display" || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
    export DISPLAY=:$(tr -d '[:space:]' <"$work/display")
}

# start_session_bus: a private D-Bus session bus, for the rest of the script.
start_session_bus() {
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" 2>"$work/dbus.log" &
    stop_at_exit $!
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
    wait_for 10 test -S "$work/bus" || { echo "dbus-daemon did not start" >&2; exit 1; }
}

# start_null_sink: a private PulseAudio server whose one sink, "bench", is a
# null sink (clocked, silent), for the rest of the script; sets pulse_pid.
pulse_pid=
start_null_sink() {
    mkdir -p "$work/pulse/home" "$work/pulse/run"
    chmod 700 "$work/pulse/run"
    # No default.pa: only the null sink and a socket without cookies.
    env HOME="$work/pulse/home" XDG_CONFIG_HOME="$work/pulse/home/.config" \
        XDG_RUNTIME_DIR="$work/pulse/run" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --realtime=no --high-priority=no --log-target=stderr \
        -L "module-null-sink sink_name=bench" \
        -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
        2>"$work/pulse.log" &
    pulse_pid=$!
    stop_at_exit "$pulse_pid"
    export PULSE_SERVER=unix:$work/pulse/native
    wait_for 10 pactl info >/dev/null || { echo "pulseaudio did not start:" >&2; cat "$work/pulse.log" >&2; exit 1; }
}

# serve_folder FOLDER: python3's web server for FOLDER on a free loopback port;
# sets site to its address ("http://127.0.0.1:PORT").
site=
serve_folder() {
    (cd "$1" && exec python3 -u -m http.server 0 --bind 127.0.0.1) >"$work/http.log" 2>&1 &
    stop_at_exit $!
    local port=
    port_of_log() {
        port=$(sed -n 's/.* port \([0-9][0-9]*\).*/\1/p' "$work/http.log" | head -n 1)
        [[ -n $port ]]
    }
    wait_for 10 port_of_log || { echo "the web server did not start:" >&2; cat "$work/http.log" >&2; exit 1; }
    site=http://127.0.0.1:$port
}

# ---- figures ----------------------------------------------------------------
# median FILE: the median of the numbers in FILE, one a line.
median() {
    sort -n "$1" | awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'
}
