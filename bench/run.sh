#!/usr/bin/env bash
# Whole-process benchmark: qfc against the copy baselines (cp -R, cat), the
# ceiling program (bench/ceiling.cpp: the least work that gives qfc's output
# for the big file) and the peer preprocessors (cpp, m4, gpp) on the same
# generated inputs, with medians of several runs and the ratios the
# performance goals name, all from one run.
#
#   bench/run.sh [--quick] [--runs N] [--pages N] [--big-lines N] [--work DIR]
#                [--no-peers] [--no-extra] [--incremental-only]
#
# --quick: 500 pages, a 17 MB big file, 3 runs. --no-extra skips scaling,
# discovery and many-definitions. Inputs and outputs live under --work
# (default /tmp/qf-bench); the table is also written to WORK/report.md.
# --incremental-only runs just the incremental builds against cp -R.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=$root/bench

runs=5 pages=2000 big_lines=1700000 work=/tmp/qf-bench peers=1 extra=1 quick=0 only_incremental=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 runs=3 pages=500 big_lines=280000 ;;
    --runs) runs=$2; shift ;;
    --pages) pages=$2; shift ;;
    --big-lines) big_lines=$2; shift ;;
    --work) work=$2; shift ;;
    --no-peers) peers=0 ;;
    --no-extra) extra=0 ;;
    --incremental-only) only_incremental=1 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

# Tools: install what is missing, the way scripts/setup.sh does.
need=()
for p in cpp m4 gpp hyperfine time python3 cmake ninja-build g++; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# qfc and the ceiling program in Release, in their own build directory.
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQF_BUILD_UI=OFF -DQF_RENDER_ICONS=OFF >/dev/null
cmake --build "$root/build-release" -j 2 --target qfc ceiling >/dev/null
qfc=$root/build-release/qfc
ceiling=$root/build-release/bench/ceiling

mkdir -p "$work"
work=$(cd "$work" && pwd)
: >"$work/results.tsv"
cpp_cmd="cpp -P -traditional-cpp -undef -nostdinc"

# generate NAME ARGS...: runs the generator once per distinct argument list.
generate() {
  local dir=$work/$1; shift
  local stamp="$*"
  if [ "$(cat "$dir/.stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$dir"
    python3 "$bench/gen_site.py" "$@" --out "$dir"
    echo "$stamp" >"$dir/.stamp"
  fi
}

# measure GROUP LABEL UNIT AMOUNT [hyperfine options...] COMMAND: median of $runs.
measure() {
  local group=$1 label=$2 unit=$3 amount=$4; shift 4
  local json=$work/json/$group-$(echo "$label" | tr -c 'A-Za-z0-9' '_').json
  mkdir -p "$work/json"
  echo "== $group: $label" >&2
  hyperfine -N --style none --runs "$runs" --export-json "$json" "$@" >/dev/null 2>&1 ||
    hyperfine --style none --runs "$runs" --export-json "$json" "$@" >/dev/null
  printf '%s\t%s\t%s\t%s\t%s\n' "$group" "$label" "$json" "$unit" "$amount" >>"$work/results.tsv"
}

src_bytes() { find "$1" -type f -name "*$2" -printf '%s\n' | awk '{s+=$1} END {print s}'; }

# per_page_script SITE TOOL OUT: one command per page, run by one shell.
per_page_script() {
  local site=$1 tool=$2 out=$3 script=$work/scripts/$tool.sh
  mkdir -p "$work/scripts"
  sed 's|/[^/]*$||' "$site/pages.txt" | sort -u | sed "s|^|$out/|" | xargs mkdir -p
  {
    while read -r page; do
      case $tool in
        qfc) echo "$qfc -I $site/qf/inc/ $site/qf/$page.src -o $out/$page.html" ;;
        cpp) echo "$cpp_cmd -I $site/qf/inc $site/qf/$page.src -o $out/$page.html" ;;
        gpp) echo "gpp -I $site/qf/inc $site/qf/$page.src -o $out/$page.html" ;;
        m4) echo "m4 -P -I $site/m4/inc $site/m4/$page.m4 > $out/$page.html" ;;
      esac
    done <"$site/pages.txt"
  } >"$script"
  echo "$script"
}

# same_text DIR_A DIR_B: the two output trees hold the same text, blank lines aside.
same_text() {
  python3 - "$1" "$2" <<'PY'
import os, sys
a, b = sys.argv[1:]
bad = 0
for d, _, files in os.walk(a):
    for name in files:
        pa = os.path.join(d, name); pb = os.path.join(b, os.path.relpath(pa, a))
        text = lambda p: [l for l in open(p, "rb").read().split(b"\n") if l.strip()]
        if not os.path.exists(pb) or text(pa) != text(pb):
            bad += 1
            if bad <= 3: print("differs:", pb, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}

site_bench() {
  local site=$work/site-$pages
  generate "site-$pages" site --pages "$pages"
  local bytes; bytes=$(src_bytes "$site/qf" .src)
  local out=$work/out
  mkdir -p "$out"
  echo "site: $pages pages, $bytes bytes of .src" >&2
  measure site "cp -R" pages "$pages" --prepare "rm -rf $out/cp" "cp -R $site/qf $out/cp"
  measure site "qfc -j 2 -r --all" pages "$pages" --prepare "rm -rf $out/qfc0" \
    "$qfc -q -j 2 -r --all $site/qf -I $site/qf/inc/ --out-dir $out/qfc0"
  measure site "qfc -j 1 -r --all" pages "$pages" --prepare "rm -rf $out/qfc1" \
    "$qfc -q -j 1 -r --all $site/qf -I $site/qf/inc/ --out-dir $out/qfc1"
  # The same full builds checking every link. Most of the site's links lead
  # nowhere, so the writing of some 80,000 warnings is timed too.
  for jobs in 2 1; do
    measure site "qfc -j $jobs -r --all --check-links" pages "$pages" \
      --prepare "rm -rf $out/links$jobs" \
      "$qfc -q -j $jobs -r --all $site/qf -I $site/qf/inc/ --out-dir $out/links$jobs --check-links"
  done
  local tools=(qfc)
  [ "$peers" = 1 ] && tools+=(m4 cpp gpp)
  for tool in "${tools[@]}"; do
    local script; script=$(per_page_script "$site" "$tool" "$out/$tool-pp")
    measure site "$tool one process per page" pages "$pages" "sh $script"
    if [ "$tool" != qfc ]; then
      same_text "$out/qfc0" "$out/$tool-pp" || { echo "$tool's text differs from qfc's" >&2; exit 1; }
      echo "$tool's text matches qfc's" >&2
    fi
  done
}

big_bench() {
  local big=$work/big-$big_lines
  generate "big-$big_lines" big --lines "$big_lines"
  local bytes; bytes=$(stat -c %s "$big/qf/big.src")
  local out=$work/out
  mkdir -p "$out"
  echo "big file: $bytes bytes" >&2
  measure big "cat big > out" bytes "$bytes" "sh -c 'cat $big/qf/big.src > $out/big-cat'"
  measure big "qfc big.src -o out" bytes "$bytes" "$qfc $big/qf/big.src -o $out/big-qfc.html"
  measure big "ceiling program" bytes "$bytes" "$ceiling $big/qf/big.src $out/big-ceiling.html"
  cmp "$out/big-qfc.html" "$out/big-ceiling.html" || { echo "the ceiling's output differs" >&2; exit 1; }
  [ "$peers" = 1 ] || return 0
  measure big "cpp" bytes "$bytes" "$cpp_cmd $big/qf/big.src -o $out/big-cpp.html"
  same_text_file "$out/big-qfc.html" "$out/big-cpp.html"
  measure big "m4" bytes "$bytes" "sh -c 'm4 -P $big/m4/big.m4 > $out/big-m4.html'"
  # gpp runs at about 2 MB/s: it gets a 170,000-line file of the same kind.
  local small=$work/big-170000
  generate big-170000 big --lines 170000
  local small_bytes; small_bytes=$(stat -c %s "$small/qf/big.src")
  measure big "gpp (170,000-line file)" bytes "$small_bytes" \
    "gpp $small/qf/big.src -o $out/big-gpp.html"
}

same_text_file() {
  if cmp -s <(grep -v '^[[:space:]]*$' "$1") <(grep -v '^[[:space:]]*$' "$2"); then
    echo "$(basename "$2")'s text matches qfc's" >&2
  else
    echo "$2 differs from $1" >&2; exit 1
  fi
}

# Peak memory (KB) of qfc -j 1 on a site and on the big file.
peak_memory() {
  /usr/bin/time -f %M "$qfc" -q -j 1 -r --all "$1/qf" -I "$1/qf/inc/" --out-dir "$work/out/mem" \
    2>&1 >/dev/null | tail -1
}

extra_bench() {
  local sizes=(500 2000 8000)
  [ "$quick" = 1 ] && sizes=(500 2000)
  local free_kb; free_kb=$(df -Pk "$work" | awk 'NR==2 {print $4}')
  # 50,000 pages take about 420 MB in and as much out per copy kept.
  if [ "$quick" = 0 ] && [ "$free_kb" -gt $((4 * 1024 * 1024)) ]; then sizes+=(50000)
  elif [ "$quick" = 0 ]; then echo "scaling: under 4 GB free, stopping at 8,000 pages" >&2; fi
  : >"$work/memory.txt"
  for n in "${sizes[@]}"; do
    generate "site-$n" site --pages "$n"
    measure scaling "qfc -j 1, $n pages" pages "$n" --prepare "rm -rf $work/out/s$n" \
      "$qfc -q -j 1 -r --all $work/site-$n/qf -I $work/site-$n/qf/inc/ --out-dir $work/out/s$n"
    echo "qfc -j 1, $n pages: $(peak_memory "$work/site-$n") KB peak" >>"$work/memory.txt"
    rm -rf "$work/out/s$n" "$work/out/mem"
  done
  local big=$work/big-$big_lines
  echo "qfc, big file: $(/usr/bin/time -f %M "$qfc" "$big/qf/big.src" -o "$work/out/big-mem" 2>&1 | tail -1) KB peak" >>"$work/memory.txt"

  # Discovery: 100,000 files of which one is a source, so the run is the walk.
  # The page is written beside its source: with an output folder the run
  # would mirror the other 99,999 files, which is a copy, not a walk.
  generate tree tree --files 100000 --matching 1
  measure discovery "qfc --all, 100,000 files, 1 source" pages 100000 \
    "$qfc -q -r --all $work/tree --no-state"

  # Many definitions: text size grows with the count, so time should too.
  for n in 10000 100000; do
    generate "defs-$n" defs --count "$n"
    measure definitions "qfc, $n definitions" bytes "$(stat -c %s "$work/defs-$n/qf/defs.src")" \
      "$qfc $work/defs-$n/qf/defs.src -o $work/out/defs-$n.html"
  done
}

# Incremental builds, side by side with cp -R of the same source tree: cp -R
# into a fresh folder and into an existing copy, the first build into a fresh
# folder with and without recording state, a rebuild with nothing changed, a
# rebuild after touching an include that 10 % of the pages use, and a -B
# rebuild whose outputs do not change. The site is the benchmark site with
# every tenth page also including inc/aside.inc; every run keeps its state in
# WORK/state and uses two jobs.
#
# A fresh folder's previous copy is moved aside, not removed, before each run
# (and removed at the end): ext4 without a journal passes over inodes freed in
# the last minute or more, scanning from the start of the group for each new
# file, so removing 2,000 files just before a run would time that scan rather
# than the run.
incremental_bench() {
  local base=$work/site-$pages
  generate "site-$pages" site --pages "$pages"
  local site=$work/incremental-$pages
  if [ ! -f "$site/.ready" ]; then
    rm -rf "$site"
    cp -R "$base/qf" "$site"
    printf '<aside>shared by a tenth of the pages</aside>\n' >"$site/inc/aside.inc"
    awk 'NR % 10 == 1' "$base/pages.txt" | while read -r page; do
      printf '#include "aside.inc"\n' >>"$site/$page.src"
    done
    touch "$site/.ready"
  fi
  local out=$work/out state=$work/state aside=$work/out/aside
  rm -rf "$aside"
  mkdir -p "$out" "$state" "$aside"
  # set_aside PATH...: the prepare command that moves each PATH out of the way.
  set_aside() {
    echo "sh -c 'for p in $*; do [ -e \$p ] && mv \$p $aside/\$(basename \$p).\$\$.\$(date +%s%N); done; true'"
  }
  local run="$qfc -q -j 2 -r --all $site -I $site/inc/ --out-dir"
  measure incremental "cp -R of the source tree" pages "$pages" --prepare "$(set_aside "$out/inc-cp")" \
    "cp -R $site $out/inc-cp"
  rm -rf "$out/inc-copy"
  cp -R "$site" "$out/inc-copy"
  measure incremental "cp -R of the source tree into an existing copy" pages "$pages" \
    "cp -R -T $site $out/inc-copy"
  measure incremental "first build, no state" pages "$pages" --prepare "$(set_aside "$out/inc-none")" \
    "$run $out/inc-none --no-state"
  measure incremental "first build, recording state" pages "$pages" \
    --prepare "$(set_aside "$out/inc-first" "$state"/first.sqlite{,-wal,-shm,.lock})" \
    "$run $out/inc-first --state $state/first.sqlite"
  rm -rf "$out/inc" "$state"/inc.sqlite{,-wal,-shm,.lock}
  $run "$out/inc" --state "$state/inc.sqlite"
  measure incremental "rebuild, nothing changed" pages "$pages" \
    "$run $out/inc --state $state/inc.sqlite"
  measure incremental "rebuild after touching an include of 10 % of the pages" pages "$pages" \
    --prepare "touch $site/inc/aside.inc" "$run $out/inc --state $state/inc.sqlite"
  measure incremental "rebuild of every page (-B), outputs unchanged" pages "$pages" \
    "$run $out/inc --state $state/inc.sqlite -B"
  rm -rf "$aside"
}

if [ "$only_incremental" = 1 ]; then
  incremental_bench
else
  site_bench
  big_bench
  [ "$extra" = 1 ] && extra_bench
  incremental_bench
fi

{
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"\
    "$(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo) memory"
  echo
  python3 "$bench/report.py" "$work"
  if [ -s "$work/memory.txt" ]; then echo; sed 's/^/    /' "$work/memory.txt"; fi
} | tee "$work/report.md"
