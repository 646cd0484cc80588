#!/usr/bin/env bash
# From an updater killed between its renames to a repaired program folder:
# for the player and the updater in turn, a placing of three files (one of
# SIZE_MB) is killed with SIGKILL after its first rename, then the program is
# started from that folder and timed until the journal and every temporary
# file are gone; beside it, the repair alone (InstallJournal::recover in
# process), once as the kill left the folder and once with the big file's
# identity changed so that it must be read. Prints a Markdown table of milliseconds.
# Usage: [ROUNDS=5] [SIZE_MB=96] bench/repair.sh [path/to/bench_repair [path/to/program/folder]]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

harness=$(in_repo "${1:-build/bench/bench_repair}")
programs=$(in_repo "${2:-build/program}")
rounds=${ROUNDS:-5}
size_mb=${SIZE_MB:-96}
positive_count ROUNDS "$rounds"
positive_count SIZE_MB "$size_mb"
[[ -x $harness ]] || { echo "not built: $harness (cmake --build build --target bench_repair)" >&2; exit 1; }
need_command dbus-run-session dbus
install_needed

make_work tamsel-repair
chmod 700 "$work"

echo "| program started | rounds | median ms | min ms | max ms | repair alone (recover()), median ms | recover() when the journal cannot vouch for big.bin, median ms | SHA-256 read of big.bin alone, median ms |"
echo "| --- | --- | --- | --- | --- | --- | --- | --- |"
for program in TamselMP3Player KivuUpdate; do
    [[ -x $programs/$program ]] || { echo "not built: $programs/$program" >&2; exit 1; }
    out=$(env XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen TAMSEL_NOTICE_URL=http://127.0.0.1:9/notice.html \
        dbus-run-session -- "$harness" "$programs/$program" "$size_mb" "$rounds" 2>/dev/null)
    field() { grep "^$1 " <<<"$out" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
    printf '| %s | %d | %s | %s | %s | %s | %s | %s |\n' "$program" "$rounds" "$(field start_of_$program median_ms)" \
        "$(field start_of_$program min_ms)" "$(field start_of_$program max_ms)" \
        "$(field recover_in_process median_ms)" "$(field recover_unvouched median_ms)" "$(field read_big median_ms)"
done
echo
echo "A placing of 3 files (one of $size_mb MB, two of 4 kB) killed with SIGKILL after its first rename; the time runs from the kill seen by the parent to the first look (1 ms apart) that finds neither the journal nor a temporary file. The repair reads no file the journal vouches for (its identity unchanged since the journal was written); in the third way the waiting big.bin's modification time was changed after the kill, so it is read and hashed (SHA-256), and the last column is that read alone. Goal: the repair at most 20 ms plus the read of what the journal cannot vouch for. $(nproc) cores; the folders are on the same disk as /tmp."
