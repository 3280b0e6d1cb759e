#!/usr/bin/env bash
# Times the chapter scan (ScanChapters with the default pattern) on a warm 1 GiB GBK novel beside one
# pass of grep over the same bytes, and prints one Markdown table.
#
#   bash bench/chapters.sh [RUNS]     (RUNS per figure, default 5; the medians are shown)
#
# Makes the novel with build/bench/pagorin_make_text in a temporary folder (removed at the end), reads
# it once so it is in the page cache, then in every run: LC_ALL=C grep -c -F with the GBK bytes of a
# word that is not in the novel, and pagorin_bench_search --chapters default.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

if [[ ! -x build/bench/pagorin_bench_search || ! -x build/bench/pagorin_make_text ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target pagorin_make_text pagorin_bench_search --parallel "$(nproc)" >&2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/pagorin-chapters.XXXXXX")
trap 'rm -rf "$work"' EXIT
novel=$work/novel.txt
build/bench/pagorin_make_text "$novel" 1G >/dev/null
cat "$novel" >/dev/null
word_gbk=$(printf '%s' 福尔摩斯 | iconv -f UTF-8 -t GBK)

seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null || true
  end=$(date +%s%N)
  awk -v n="$((end - start))" 'BEGIN { printf "%.3f\n", n / 1e9 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
grep_times=() ours_times=()
headings=?
for ((run = 0; run < runs; ++run)); do
  grep_times+=("$(seconds env LC_ALL=C grep -c -F "$word_gbk" "$novel")")
  row=$(build/bench/pagorin_bench_search --chapters --runs 1 "$novel" default)
  headings=$(awk -F'|' '{ gsub(/ /, "", $3); print $3 }' <<<"$row")
  ours_times+=("$(awk -F'|' '{ gsub(/ /, "", $4); print $4 }' <<<"$row")")
done
g=$(printf '%s\n' "${grep_times[@]}" | median)
o=$(printf '%s\n' "${ours_times[@]}" | median)

echo "1 GiB GBK novel (pagorin_make_text), warm; medians of $runs runs; $(nproc) cores; commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
echo
echo "| what | headings | seconds | / grep |"
echo "|---|---:|---:|---:|"
echo "| \`LC_ALL=C grep -c -F\` (absent word, GBK bytes) | | $g | 1.00 |"
echo "| ScanChapters, default pattern | $headings | $o | $(awk -v a="$o" -v b="$g" 'BEGIN { printf "%.2f", a / b }') |"
