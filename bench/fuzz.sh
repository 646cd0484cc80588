#!/usr/bin/env bash
# Fuzzes the playlist reader with libFuzzer (clang 14 from Debian) for SECONDS
# seconds (60), starting from the seeds in bench/fuzz-corpus; prints libFuzzer's
# final figures. Not part of the tests. The working corpus and any crashing
# input stay in build-fuzz/.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$repo
seconds=${SECONDS_TO_RUN:-${1:-60}}
positive_count SECONDS "$seconds"

need_package clang-14 libclang-rt-14-dev qt6-base-dev pkg-config
install_needed

out=$root/build-fuzz
mkdir -p "$out/corpus" "$out/findings"
# The reader and what it needs, instrumented; Qt itself is not.
clang++-14 -std=c++20 -fPIC -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/common" -I"$root/player" $(pkg-config --cflags Qt6Widgets) \
  "$root/bench/fuzz_playlist.cpp" "$root/player/Playlist.cpp" "$root/common/AtomicFile.cpp" \
  "$root/common/BoundedText.cpp" "$root/common/RegularFile.cpp" \
  $(pkg-config --libs Qt6Widgets) -o "$out/fuzz_playlist"

cd "$out"
./fuzz_playlist -max_total_time="$seconds" -max_len=32768 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -dict="$root/bench/fuzz-playlist.dict" -artifact_prefix="$out/findings/" \
  corpus "$root/bench/fuzz-corpus" >fuzz.log 2>&1 || true
# The last progress line carries the coverage (cov: edges, ft: features).
grep -E '^#[0-9]+' fuzz.log | tail -n 1
grep -E '^stat::|ERROR|SUMMARY' fuzz.log || true
echo "findings: $(find findings -type f | wc -l) file(s) in $out/findings; whole log in $out/fuzz.log"
