#!/usr/bin/env bash
# Fuzzes a reader with libFuzzer (clang 14 from Debian) for SECONDS seconds
# (60): TARGET=playlist (the default) is the playlist reader, TARGET=notice the
# notice-page helpers, TARGET=sheets the cue sheet and XSPF readers, TARGET=lyrics the
# LRC reader. Starts from the target's seeds and dictionary under
# bench/; prints libFuzzer's final figures. Not part of the tests. The working
# corpus and any crashing input stay in build-fuzz/.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$repo
seconds=${SECONDS_TO_RUN:-${1:-60}}
positive_count SECONDS "$seconds"
target=${TARGET:-playlist}

case $target in
playlist)
  sources=("$root/player/Playlist.cpp" "$root/common/AtomicFile.cpp" "$root/common/BoundedText.cpp"
    "$root/common/RegularFile.cpp" "$root/common/ImageTrack.cpp" "$root/common/CueSheet.cpp"
    "$root/common/PlaylistFormats.cpp" "$root/common/TextDecoding.cpp" "$root/common/AudioTypes.cpp")
  extra_pkgs="taglib uchardet"
  extra_libs=-lcue
  seeds=$root/bench/fuzz-corpus
  max_len=32768
  ;;
notice)
  sources=("$root/common/NoticePage.cpp")
  seeds=$root/bench/fuzz-corpus-notice
  max_len=16384
  ;;
sheets)
  sources=("$root/common/CueSheet.cpp" "$root/common/PlaylistFormats.cpp" "$root/common/TextDecoding.cpp"
    "$root/common/AudioTypes.cpp" "$root/common/RegularFile.cpp")
  seeds=$root/bench/fuzz-corpus-sheets
  max_len=65536
  extra_pkgs="taglib uchardet"
  extra_libs=-lcue
  ;;
lyrics)
  sources=("$root/common/Lyrics.cpp" "$root/common/TextDecoding.cpp" "$root/common/BoundedText.cpp")
  seeds=$root/bench/fuzz-corpus-lyrics
  max_len=65536
  extra_pkgs=uchardet
  ;;
*)
  echo "TARGET is playlist, notice, sheets or lyrics" >&2
  exit 2
  ;;
esac

need_package clang-14 libclang-rt-14-dev qt6-base-dev pkg-config libcue-dev libtag1-dev libuchardet-dev
install_needed
if [ -n "${extra_pkgs:-}" ]; then
  extra_flags=$(pkg-config --cflags $extra_pkgs)
  extra_libs="${extra_libs:-} $(pkg-config --libs $extra_pkgs)"
fi

out=$root/build-fuzz
mkdir -p "$out/corpus-$target" "$out/findings"
# The published sample page seeds the notice target as it stands.
[ "$target" = notice ] && cp "$root/docs/notice-sample.html" "$out/corpus-notice/"
# The reader and what it needs, instrumented; Qt itself is not.
clang++-14 -std=c++20 -fPIC -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/common" -I"$root/player" $(pkg-config --cflags Qt6Widgets) ${extra_flags:-} \
  "$root/bench/fuzz_$target.cpp" "${sources[@]}" \
  $(pkg-config --libs Qt6Widgets) ${extra_libs:-} -o "$out/fuzz_$target"

cd "$out"
log=fuzz-$target.log
"./fuzz_$target" -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -dict="$root/bench/fuzz-$target.dict" -artifact_prefix="$out/findings/" \
  "corpus-$target" "$seeds" >"$log" 2>&1 || true
# The last progress line carries the coverage (cov: edges, ft: features).
grep -E '^#[0-9]+' "$log" | tail -n 1
grep -E '^stat::|ERROR|SUMMARY' "$log" || true
echo "findings: $(find findings -type f | wc -l) file(s) in $out/findings; whole log in $out/$log"
