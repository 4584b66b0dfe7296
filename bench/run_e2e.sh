#!/usr/bin/env bash
# End-to-end timing: `oxpm resolve` (process start, import, inventory,
# resolution, JSON out) against testsolv on the same generated problem, side
# by side in one run. The runs are interleaved, ROUNDS rounds of a few runs of
# each command in turn, so that a machine whose speed drifts slows both
# alike; the figures are medians over all runs. Uses hyperfine when installed,
# otherwise a timing loop of its own. Also reports the peak memory of one oxpm
# run.
#
#   bench/run_e2e.sh [BUILD_DIR] [SIZE...]      (default: build small large)
#
# Environment: RUNS (default 10: runs of each command in all), ROUNDS (default
# 5), WARMUP (default 2, per round), SEED (default 1), PATTERNS=1 for the
# workloads with real patterns, BASELINE=PATH to time another oxpm binary (an
# earlier build) in the same rounds.
set -euo pipefail

BUILD_DIR=${1:-build}
shift || true
SIZES=("$@")
if ((${#SIZES[@]} == 0)); then
  SIZES=(small large)
fi
RUNS=${RUNS:-10}
ROUNDS=${ROUNDS:-5}
if ((ROUNDS > RUNS)); then
  ROUNDS=$RUNS
fi
# Runs per round, rounded up so that at least RUNS runs are made.
PER_ROUND=$(((RUNS + ROUNDS - 1) / ROUNDS))
WARMUP=${WARMUP:-2}
SEED=${SEED:-1}
PATTERN_FLAG=()
if [[ ${PATTERNS:-0} == 1 ]]; then
  PATTERN_FLAG=(--patterns)
fi

BASELINE=${BASELINE:-}
if [[ -n $BASELINE && ! -x $BASELINE ]]; then
  echo "run_e2e: BASELINE $BASELINE is not an executable" >&2
  exit 2
fi

GEN="$BUILD_DIR/bench/ox_bench_gen"
OXPM="$BUILD_DIR/tools/oxpm"
for tool in "$GEN" "$OXPM"; do
  if [[ ! -x $tool ]]; then
    echo "run_e2e: $tool is missing; configure with -DOX_BUILD_BENCH=ON and build it" >&2
    exit 2
  fi
done
TESTSOLV=$(command -v testsolv || true)
if [[ -z $TESTSOLV ]]; then
  echo "run_e2e: testsolv is missing (Debian package libsolv-tools); timing oxpm alone" >&2
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Wall times in microseconds of PER_ROUND runs of "$@" (after WARMUP runs),
# one per line.
times_of() {
  for ((i = 0; i < WARMUP; ++i)); do "$@" > /dev/null; done
  for ((i = 0; i < PER_ROUND; ++i)); do
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
  done
}

# The median, in seconds, of the microsecond figures in a file, one per line.
median_of_file() {
  sort -n "$1" | awk '{a[NR]=$1} END {m = (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; printf "%.4f\n", m / 1e6}'
}

# Appends the times of result N in hyperfine's JSON export, in microseconds,
# one per line, to a file.
hyperfine_times() {
  python3 -c 'import json,sys
for t in json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["times"]:
    print(int(t * 1e6))' "$1" "$2" >> "$3"
}

# Peak resident memory of one run, in kB (- without GNU time).
peak_kb() {
  if [[ -x /usr/bin/time ]]; then
    { /usr/bin/time -f '%M' "$@" > /dev/null; } 2>&1 | tail -1
  else
    echo -
  fi
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "runs: $((ROUNDS * PER_ROUND)) of each, interleaved in $ROUNDS rounds (+$WARMUP warm-up a round), seed $SEED${PATTERN_FLAG:+, patterns}"
if [[ -n $BASELINE ]]; then
  echo "baseline: $BASELINE"
  printf '%-8s %12s %12s %12s %8s %8s %14s\n' size baseline_s oxpm_s testsolv_s ratio_b ratio oxpm_peak_MB
else
  printf '%-8s %12s %12s %8s %14s\n' size oxpm_s testsolv_s ratio oxpm_peak_MB
fi

for size in "${SIZES[@]}"; do
  dir="$WORK/$size"
  "$GEN" --size "$size" --seed "$SEED" "${PATTERN_FLAG[@]}" --out "$dir" > /dev/null
  oxpm_cmd=("$OXPM" resolve --spec "$dir/spec.xml" --installed "$dir/installed.json"
    --request "$dir/request.json" --format json)
  # The request passes by construction: status 0 from both.
  "${oxpm_cmd[@]}" > "$dir/oxpm.json"
  # testsolv must find the same request installable: one "installed" line
  # per request entry and no problem.
  if [[ -n $TESTSOLV ]]; then
    "$TESTSOLV" "$dir/testsolv.t" > "$dir/testsolv.out"
    requested=$(grep -c '^job install' "$dir/testsolv.t")
    if grep -q 'problem' "$dir/testsolv.out" ||
      [[ $(grep -c '^  - ' "$dir/testsolv.out") != "$requested" ]]; then
      echo "run_e2e: testsolv does not install the $size request as generated" >&2
      exit 1
    fi
  fi

  base_cmd=()
  if [[ -n $BASELINE ]]; then
    base_cmd=("$BASELINE" "${oxpm_cmd[@]:1}")
    if ! cmp -s <("${base_cmd[@]}") "$dir/oxpm.json"; then
      echo "run_e2e: the baseline's output differs from oxpm's on the $size workload" >&2
    fi
  fi
  : > "$dir/ours.us"
  : > "$dir/theirs.us"
  : > "$dir/base.us"
  for ((round = 0; round < ROUNDS; ++round)); do
    if command -v hyperfine > /dev/null; then
      commands=("${oxpm_cmd[*]}")
      if [[ -n $TESTSOLV ]]; then
        commands+=("$TESTSOLV $dir/testsolv.t")
      fi
      if [[ -n $BASELINE ]]; then
        commands+=("${base_cmd[*]}")
      fi
      hyperfine --runs "$PER_ROUND" --warmup "$WARMUP" -N --style none \
        --export-json "$dir/hyperfine.json" "${commands[@]}" > /dev/null 2>&1 ||
        hyperfine --runs "$PER_ROUND" --warmup "$WARMUP" --shell=none --style none \
          --export-json "$dir/hyperfine.json" "${commands[@]}" > /dev/null
      hyperfine_times "$dir/hyperfine.json" 0 "$dir/ours.us"
      if [[ -n $TESTSOLV ]]; then
        hyperfine_times "$dir/hyperfine.json" 1 "$dir/theirs.us"
      fi
      if [[ -n $BASELINE ]]; then
        hyperfine_times "$dir/hyperfine.json" $((${#commands[@]} - 1)) "$dir/base.us"
      fi
    else
      times_of "${oxpm_cmd[@]}" >> "$dir/ours.us"
      if [[ -n $TESTSOLV ]]; then
        times_of "$TESTSOLV" "$dir/testsolv.t" >> "$dir/theirs.us"
      fi
      if [[ -n $BASELINE ]]; then
        times_of "${base_cmd[@]}" >> "$dir/base.us"
      fi
    fi
  done
  ours=$(median_of_file "$dir/ours.us")
  theirs=-
  if [[ -n $TESTSOLV ]]; then
    theirs=$(median_of_file "$dir/theirs.us")
  fi
  ratio=-
  if [[ $theirs != - ]]; then
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.3f", a / b }')
  fi
  peak=$(peak_kb "${oxpm_cmd[@]}")
  if [[ $peak != - ]]; then
    peak=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
  fi
  if [[ -n $BASELINE ]]; then
    base=$(median_of_file "$dir/base.us")
    ratio_b=-
    if [[ $theirs != - ]]; then
      ratio_b=$(awk -v a="$base" -v b="$theirs" 'BEGIN { printf "%.3f", a / b }')
    fi
    printf '%-8s %12s %12s %12s %8s %8s %14s\n' "$size" "$base" "$ours" "$theirs" "$ratio_b" "$ratio" "$peak"
  else
    printf '%-8s %12s %12s %8s %14s\n' "$size" "$ours" "$theirs" "$ratio" "$peak"
  fi
done
