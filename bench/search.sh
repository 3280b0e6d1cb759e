#!/usr/bin/env bash
# Times the search and the chapter scan on a warm 1 GiB GBK novel beside grep and ripgrep, and prints
# one Markdown table.
#
#   bash bench/search.sh [RUNS]     (RUNS per figure, default 5; the medians are shown)
#
# Makes the novel with build/bench/pagorin_make_text in a temporary folder (removed at the end), reads
# it once so it is in the page cache, then, each tool in turn in every run:
#   - LC_ALL=C grep -c -F with the GBK bytes of a word that is not in the novel, and our plain search
#     (match case) of the same word: one pass over the whole file each;
#   - the same with either case for a Latin word (grep -i; the novel's only letters are trail bytes);
#   - rg -c -E gbk '第[0-9]+章' (every chapter heading, when ripgrep is installed) and our regular
#     expression search walking from hit to hit through the whole file as F3 does;
#   - rg and our search for 第[0-9]+回, which is not in the novel: one pass each;
#   - the chapter scan (ScanChapters, the default heading pattern) over the whole novel, against the
#     same grep pass.
# Builds the two tools it needs with the default preset when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

if [[ ! -x build/bench/pagorin_bench_search || ! -x build/bench/pagorin_make_text ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target pagorin_make_text pagorin_bench_search --parallel "$(nproc)" >&2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/pagorin-search.XXXXXX")
trap 'rm -rf "$work"' EXIT
novel=$work/novel.txt
build/bench/pagorin_make_text "$novel" 1G >/dev/null
cat "$novel" >/dev/null

word=福尔摩斯
word_gbk=$(printf '%s' "$word" | iconv -f UTF-8 -t GBK)
latin=Holmes

# Seconds one command takes (its output is dropped; grep's "no match" status is no failure).
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null || true
  end=$(date +%s%N)
  awk -v n="$((end - start))" 'BEGIN { printf "%.3f\n", n / 1e9 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Our time for one query (then its options), from the bench's own Markdown row (its fourth column).
ours() {
  local query=$1
  shift
  build/bench/pagorin_bench_search --runs 1 "$@" "$novel" "$query" | awk -F'|' '{ gsub(/ /, "", $4); print $4 }'
}

have_rg=false
command -v rg >/dev/null && have_rg=true
declare -A times
for ((run = 0; run < runs; ++run)); do
  times[grep_plain]+="$(seconds env LC_ALL=C grep -c -F "$word_gbk" "$novel") "
  times[ours_plain]+="$(ours "$word" --match-case) "
  times[grep_latin]+="$(seconds env LC_ALL=C grep -c -i -F "$latin" "$novel") "
  times[ours_latin]+="$(ours "$latin") "
  if $have_rg; then
    times[rg_every]+="$(seconds rg -c -E gbk '第[0-9]+章' "$novel") "
    times[rg_none]+="$(seconds rg -c -E gbk '第[0-9]+回' "$novel") "
  fi
  times[ours_every]+="$(ours '第[0-9]+章' --regex --every) "
  times[ours_none]+="$(ours '第[0-9]+回' --regex) "
  chapters=$(build/bench/pagorin_bench_search --chapters --runs 1 "$novel" default)
  headings=$(awk -F'|' '{ gsub(/ /, "", $3); print $3 }' <<<"$chapters")
  times[ours_chapters]+="$(awk -F'|' '{ gsub(/ /, "", $4); print $4 }' <<<"$chapters") "
done
med() { tr ' ' '\n' <<<"${times[$1]}" | grep . | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "1 GiB GBK novel (pagorin_make_text), warm; medians of $runs runs; $(nproc) cores; commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
echo
echo "| query | reference | reference s | pagorin s | pagorin / reference |"
echo "|---|---|---:|---:|---:|"
row() { echo "| $1 | $2 | $(med "$3") | $(med "$4") | $(ratio "$(med "$4")" "$(med "$3")") |"; }
row "plain \`$word\` (absent), match case" "\`LC_ALL=C grep -c -F\` (GBK bytes)" grep_plain ours_plain
row "plain \`$latin\` (absent as text), either case" "\`LC_ALL=C grep -c -i -F\`" grep_latin ours_latin
if $have_rg; then
  row "regex \`第[0-9]+章\`, every hit (87,779)" "\`rg -c -E gbk\`" rg_every ours_every
  row "regex \`第[0-9]+回\` (absent)" "\`rg -c -E gbk\`" rg_none ours_none
else
  echo "| regex \`第[0-9]+章\`, every hit | (ripgrep not installed) | | $(med ours_every) | |"
  echo "| regex \`第[0-9]+回\` (absent) | (ripgrep not installed) | | $(med ours_none) | |"
fi
row "chapter scan, default heading pattern ($headings headings)" "\`LC_ALL=C grep -c -F\` (GBK bytes)" grep_plain ours_chapters
