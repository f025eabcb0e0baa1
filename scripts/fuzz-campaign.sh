#!/usr/bin/env bash
# A long fuzzing campaign, apart from CI: runs each fuzz target on every core until it has
# executed a number of inputs (or for a time), growing its corpus in a folder outside the
# repository, then prints per target the inputs executed, inputs per second, coverage (edges
# reached by the seeds alone, then by seeds and grown corpus together), the new corpus entries
# (after the corpus is merged down to what grows coverage) and any fault with its reproducer.
#
#   scripts/fuzz-campaign.sh [TARGET...]   frame, config_image, config_file, version_token,
#                                          remote_commands, engine (all by default)
#   ZPI_FUZZ_RUNS=N      inputs per target (default 10,000,000; the engine 1,000,000)
#   ZPI_FUZZ_SECONDS=S   stop each target after S seconds as well
#   ZPI_FUZZ_CORPUS=DIR  where the corpus grows, a folder per target (~/.cache/zpitool-fuzz)
#   ZPI_FUZZ_JOBS=N      processes (default: the number of cores)
#   nice -n 19 scripts/fuzz-campaign.sh   on a shared machine
#
# The targets are built optimised (-O2, assertions kept) with ASan and UBSan in
# build/fuzz-campaign. Logs and reproducers go to DIR/logs/TARGET and DIR/faults. Exits 1 when
# a target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zpi_install_deps clang-14 libclang-rt-14-dev libfuzzer-14-dev

all=(frame config_image config_file version_token remote_commands engine)
targets=("${all[@]}")
[ $# -eq 0 ] || targets=("${@#fuzz_}")
base=${ZPI_FUZZ_CORPUS:-$HOME/.cache/zpitool-fuzz}
jobs=${ZPI_FUZZ_JOBS:-$(nproc)}
build=build/fuzz-campaign
for t in "${targets[@]}"; do
  [ -d "fuzz/corpus/$t" ] || { echo "no fuzz target $t (targets: ${all[*]})" >&2; exit 2; }
done

echo "== Build the fuzz targets (optimised, ASan, UBSan) in $build"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g" -DZPI_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "${ZPI_JOBS:-2}" --target fuzzers

# Edges reached by running the given folders once (into a scratch output folder, so nothing is
# written beside the seeds); "?" when an input fails.
edges() {
  local scratch out
  scratch=$(mktemp -d)
  out=$("$program" -runs=0 -rss_limit_mb=4096 -artifact_prefix="$scratch/" "$scratch" "$@" 2>&1 |
        grep -a -o -m1 'INITED cov: [0-9]*' || true)
  rm -rf "$scratch"
  if [ -n "$out" ]; then echo "${out#INITED cov: }"; else echo "?"; fi
}
# Corpus entries that are not copies of a seed or a regression input (files are named by SHA-1).
grown() {
  local known
  known=$(for d in "${inputs[@]}"; do sha1sum "$d"/*; done | cut -d' ' -f1)
  find "$corpus" -maxdepth 1 -type f -printf '%f\n' | grep -c -v -x -F -f <(echo "$known") || true
}

rows=() details=() faults=0
for t in "${targets[@]}"; do
  program=$build/fuzz/fuzz_$t
  corpus=$base/$t
  logs=$base/logs/$t
  inputs=("$PWD/fuzz/corpus/$t")
  [ -d "fuzz/regressions/$t" ] && inputs+=("$PWD/fuzz/regressions/$t")
  if [ -n "${ZPI_FUZZ_RUNS:-}" ]; then runs=$ZPI_FUZZ_RUNS
  elif [ "$t" = engine ]; then runs=1000000
  else runs=10000000; fi
  limit=()
  [ -n "${ZPI_FUZZ_SECONDS:-}" ] && limit=(-max_total_time="$ZPI_FUZZ_SECONDS")
  mkdir -p "$corpus" "$base/faults"
  rm -rf "$logs" && mkdir -p "$logs"

  seedEdges=$(edges "${inputs[@]}")
  before=$(grown)
  echo "== $t: $runs inputs on $jobs cores (corpus $corpus)"
  start=$(date +%s.%N)
  status=0
  # Each job runs its share of the inputs and writes fuzz-JOB.log in the current folder.
  (cd "$logs" && "$OLDPWD/$program" -jobs="$jobs" -workers="$jobs" -runs=$(((runs + jobs - 1) / jobs)) "${limit[@]}" \
      -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$base/faults/$t-" \
      "$corpus" "${inputs[@]}" >campaign.log 2>&1) || status=$?
  seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b - a}')
  executed=$(awk '/^stat::number_of_executed_units:/{n += $2} END{print n + 0}' "$logs"/fuzz-*.log)
  rate=$(awk -v n="$executed" -v s="$seconds" 'BEGIN{printf "%.0f", (s > 0) ? n / s : 0}')
  # Keep what grows coverage: the corpus merged into a fresh folder (libFuzzer also writes every
  # shortened input beside the one it shortened) takes its place.
  merged=$(mktemp -d "$base/$t.merging.XXXXXX")
  if "$program" -merge=1 -timeout=10 -rss_limit_mb=4096 -artifact_prefix="$base/faults/$t-" \
      "$merged" "$corpus" "${inputs[@]}" >"$logs/merge.log" 2>&1; then
    rm -rf "$corpus" && mv "$merged" "$corpus"
  else
    rm -rf "$merged"
  fi
  after=$(grown)
  corpusEdges=$(edges "$corpus" "${inputs[@]}")
  found=$(sed -n 's/.*Test unit written to //p' "$logs"/fuzz-*.log | sort -u)
  if [ -n "$found" ] || [ "$status" != 0 ]; then
    faults=1
    verdict="FAULT (exit $status)"
    details+=("$t: exit $status, logs in $logs" "$(grep -a -h -B1 'ERROR:' "$logs"/fuzz-*.log | head -2 || true)")
    for f in $found; do details+=("  reproducer: $f"); done
  else
    verdict=none
  fi
  rows+=("$(printf '%-16s %11s %9s %7s %9s %7s %6s  %s' "$t" "$executed" "$rate" "$seedEdges" "$corpusEdges" \
                   "$((after - before))" "${seconds%.*}" "$verdict")")
  echo "   ${rows[-1]}"
done

echo
echo "== Campaign ($jobs jobs; corpus in $base)"
printf '%-16s %11s %9s %7s %9s %7s %6s  %s\n' target inputs inputs/s "edges:" "" new seconds faults
printf '%-16s %11s %9s %7s %9s %7s %6s  %s\n' "" executed "" seeds "+corpus" entries "" ""
printf '%s\n' "${rows[@]}"
[ ${#details[@]} -eq 0 ] || printf '%s\n' "" "${details[@]}"
exit "$faults"
