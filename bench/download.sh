#!/usr/bin/env bash
# One large update file over loopback: the updater's download path against curl
# on the same address in the same run, rounds alternating; speed and the
# updater's peak resident memory.
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
install_needed

make_work tamsel-download
mkdir -p "$work/site" "$work/program" "$work/curl" "$work/run"
chmod 700 "$work/run"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/site/update.bin"

serve_folder "$work/site"
base=$site

cat >"$work/site/notice.html" <<PAGE
<html><body><p><strong>Ver99.99.99</strong></p><p><strong>更新日志</strong></p><p>1.Bench</p><p><strong>更新文件及地址：</strong></p><p>1.update.bin(<a href="$base/share.html" target="_blank">下载</a>)</p><p>消息推送：关</p><p>最新完整版</p></body></html>
PAGE
cat >"$work/site/share.html" <<PAGE
<html><body><span>保存至网盘</span><a href="$base/update.bin" id="save">下载</a></body></html>
PAGE

# MB are 2^20 bytes throughout.
run_ours() {
    rm -f "$work/program/update.bin"
    local line
    line=$(env XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
        "$ours" "$base/notice.html" "$work/program" 2>>"$work/ours.log")
    [[ $line == ok=1* ]] || { echo "updater run failed: $line" >&2; tail -n 5 "$work/ours.log" >&2; exit 1; }
    cmp -s "$work/program/update.bin" "$work/site/update.bin" || { echo "updater's file differs" >&2; exit 1; }
    local mbps kb
    mbps=$(sed -n 's/.* mbps=\([0-9.]*\).*/\1/p' <<<"$line")
    kb=$(sed -n 's/.* vmhwm=\([0-9]*\) kB.*/\1/p' <<<"$line")
    echo "$mbps" >>"$work/ours.mbps"
    echo "$kb" >>"$work/ours.kb"
}

run_curl() {
    rm -f "$work/curl/update.bin"
    local out
    out=$(curl -sS -o "$work/curl/update.bin" -w '%{size_download} %{time_total}' "$base/update.bin")
    awk '{ printf "%.1f\n", $1 / 1048576 / $2 }' <<<"$out" >>"$work/curl.mbps"
}

for ((round = 1; round <= rounds; round++)); do
    echo "round $round/$rounds" >&2
    if ((round % 2)); then run_ours; run_curl; else run_curl; run_ours; fi
done

ours_med=$(median "$work/ours.mbps")
curl_med=$(median "$work/curl.mbps")
peak_kb=$(sort -n "$work/ours.kb" | tail -n 1)

echo
echo "| client | rounds | median MB/s | min MB/s | max MB/s |"
echo "| --- | --- | --- | --- | --- |"
for who in ours curl; do
    name=$([[ $who == ours ]] && echo "KivuUpdate download path" || echo "curl $(curl --version | head -n 1 | cut -d' ' -f2)")
    printf '| %s | %d | %s | %s | %s |\n' "$name" "$rounds" "$(median "$work/$who.mbps")" \
        "$(sort -n "$work/$who.mbps" | head -n 1)" "$(sort -n "$work/$who.mbps" | tail -n 1)"
done
echo
awk -v o="$ours_med" -v c="$curl_med" -v k="$peak_kb" -v s="$size_mb" 'BEGIN {
    printf "%d MB file; updater / curl median speed: %.2f (goal: at least 0.50); updater peak RSS (VmHWM): %.1f MB (goal: under 64)\n", s, o / c, k / 1024
}'
echo "Loopback, python3 http.server ($(python3 --version 2>&1)), $(nproc) cores; each run writes into a folder on the same disk; the updater's time runs from its first download request to the file renamed into place (data synced to disk), curl's is its time_total."
