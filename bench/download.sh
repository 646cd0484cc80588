#!/usr/bin/env bash
# One large update file over loopback: the updater's download path, unsigned
# and signed (SHA256SUMS and its minisign signature listed beside the file, a
# build with the key), against curl on the same address in the same run,
# rounds alternating, against curl writing and syncing the same file; speed,
# the updater's peak resident memory, and what SHA-256 alone costs on the file.
# Usage: [ROUNDS=5] [SIZE_MB=96] bench/download.sh [path/to/bench_download]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ours=$(in_repo "${1:-build/bench/bench_download}")
rounds=${ROUNDS:-5}
size_mb=${SIZE_MB:-96}
positive_count ROUNDS "$rounds"
positive_count SIZE_MB "$size_mb"
[[ -x $ours ]] || { echo "not built: $ours (cmake --build build --target bench_download)" >&2; exit 1; }

need_command curl curl
need_command python3 python3
need_command minisign minisign
install_needed

make_work tamsel-download
mkdir -p "$work/site/files" "$work/program" "$work/curl" "$work/run" "$work/keys"
chmod 700 "$work/run"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/site/files/update.bin"
minisign -G -W -p "$work/keys/bench.pub" -s "$work/keys/bench.key" >/dev/null
"$repo/scripts/sign-update" "$work/site/files" 99.99.99 "$work/keys/bench.key" 2>/dev/null >/dev/null
key=$(sed -n 2p "$work/keys/bench.pub")

serve_folder "$work/site"
base=$site

# notice.html lists the file, signed.html the file, SHA256SUMS and its signature.
entries=
n=0
for name in update.bin SHA256SUMS SHA256SUMS.minisig; do
    n=$((n + 1))
    entries+="<p>$n.$name(<a href=\"$base/share-$name.html\" target=\"_blank\">下载</a>)</p>"
    echo "<html><body><span>保存至网盘</span><a href=\"$base/files/$name\" id=\"save\">下载</a></body></html>" \
        >"$work/site/share-$name.html"
    if [[ $name == update.bin ]]; then unsigned=$entries; fi
done
page() {
    echo "<html><body><p><strong>Ver99.99.99</strong></p><p><strong>更新日志</strong></p><p>1.Bench</p><p><strong>更新文件及地址：</strong></p>$1<p>消息推送：关</p><p>最新完整版</p></body></html>"
}
page "$unsigned" >"$work/site/notice.html"
page "$entries" >"$work/site/signed.html"

# MB are 2^20 bytes throughout.
# run_ours ours|signed
run_ours() {
    rm -f "$work/program/update.bin"
    local line args=("$base/notice.html" "$work/program")
    [[ $1 == signed ]] && args=("$base/signed.html" "$work/program" "$key")
    line=$(env XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
        "$ours" "${args[@]}" 2>>"$work/ours.log")
    [[ $line == ok=1* ]] || { echo "updater run failed: $line" >&2; tail -n 5 "$work/ours.log" >&2; exit 1; }
    cmp -s "$work/program/update.bin" "$work/site/files/update.bin" || { echo "updater's file differs" >&2; exit 1; }
    [[ ! -e $work/program/SHA256SUMS ]] || { echo "SHA256SUMS was installed" >&2; exit 1; }
    sed -n 's/.* mbps=\([0-9.]*\).*/\1/p' <<<"$line" >>"$work/$1.mbps"
    sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line" >>"$work/$1.seconds"
    sed -n 's/.* vmhwm=\([0-9]*\) kB.*/\1/p' <<<"$line" >>"$work/ours.kb"
    sed -n 's/.* sha256=\([0-9.]*\).*/\1/p' <<<"$line" >>"$work/sha256.seconds"
    sed -n 's/.* uiwait=\([0-9.]*\).*/\1/p' <<<"$line" >>"$work/uiwait.ms"
}

# curl writes the file and sync(1) syncs it, as the updater syncs each file
# before it places it: the time runs over both (and curl's start).
run_curl() {
    rm -f "$work/curl/update.bin"
    local out start end
    start=$(date +%s%N)
    out=$(curl -sS -o "$work/curl/update.bin" -w '%{size_download} %{time_total}' "$base/files/update.bin")
    sync "$work/curl/update.bin"
    end=$(date +%s%N)
    awk '{ printf "%.1f\n", $1 / 1048576 / $2 }' <<<"$out" >>"$work/curl.mbps"
    awk -v b="${out%% *}" -v ns=$((end - start)) 'BEGIN { printf "%.1f\n", b / 1048576 / (ns / 1e9) }' \
        >>"$work/curlsync.mbps"
}

for ((round = 1; round <= rounds; round++)); do
    echo "round $round/$rounds" >&2
    if ((round % 2)); then run_ours ours; run_ours signed; run_curl; else run_curl; run_ours signed; run_ours ours; fi
done

ours_med=$(median "$work/ours.mbps")
signed_med=$(median "$work/signed.mbps")
sync_med=$(median "$work/curlsync.mbps")
peak_kb=$(sort -n "$work/ours.kb" | tail -n 1)

echo
echo "| client | rounds | median MB/s | min MB/s | max MB/s |"
echo "| --- | --- | --- | --- | --- |"
curl_name="curl $(curl --version | head -n 1 | cut -d' ' -f2)"
for who in ours signed curlsync curl; do
    case $who in
    ours) name="KivuUpdate, from 确定 to the file in place" ;;
    signed) name="KivuUpdate, signed update, build with the key" ;;
    curlsync) name="$curl_name, then fsync of the file" ;;
    curl) name="$curl_name alone (time_total, no sync)" ;;
    esac
    printf '| %s | %d | %s | %s | %s |\n' "$name" "$rounds" "$(median "$work/$who.mbps")" \
        "$(sort -n "$work/$who.mbps" | head -n 1)" "$(sort -n "$work/$who.mbps" | tail -n 1)"
done
echo
awk -v o="$ours_med" -v g="$signed_med" -v c="$sync_med" -v k="$peak_kb" -v s="$size_mb" 'BEGIN {
    printf "%d MB file; median speed against curl+fsync: unsigned %.2f, signed %.2f (goal: at least 0.90 each); updater peak RSS (VmHWM): %.1f MB (goal: under 64)\n", s, o / c, g / c, k / 1024
}'
awk -v h="$(median "$work/sha256.seconds")" -v s="$size_mb" -v t="$(median "$work/signed.seconds")" 'BEGIN {
    printf "SHA-256 (libcrypto) of the file alone, in the strip'"'"'s 1 MB blocks: %.3f s median (%.0f MB/s), taken as the bytes arrive in both runs; the signed run'"'"'s median time: %.3f s\n", h, s / h, t
}'
echo "The UI thread's longest wait (a 5 ms timer) in each updater run, from 确定 to the file in place: median $(median "$work/uiwait.ms") ms, at most $(sort -n "$work/uiwait.ms" | tail -n 1) ms; it takes the file one block at a time, and the file's sync runs on a thread of its own."
echo "Loopback, python3 http.server ($(python3 --version 2>&1)), $(nproc) cores; each run writes into a folder on the same disk; the updater's time runs from 确定 (the strip's load: notice page, sharing pages, downloads) to the file renamed into place (data synced to disk), curl+fsync's from its start to the end of sync(1)."
