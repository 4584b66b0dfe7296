#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) and runs each
# for the given number of seconds, starting from the committed seed corpora.
#
#   scripts/fuzz.sh SECONDS [TARGET...]      (default: every target)
#
# Environment:
#   FUZZ_BUILD_DIR  build folder (default: build-fuzz); the growing corpora
#                   are kept in $FUZZ_BUILD_DIR/corpus/TARGET, inputs that
#                   fail in $FUZZ_BUILD_DIR/artifacts/TARGET, the fuzzers'
#                   output in $FUZZ_BUILD_DIR/logs/TARGET.log
#   FUZZ_PARALLEL   how many targets run at once (default: 1)
#   FUZZ_BUILD_JOBS build jobs (default: nproc)
#
# Exits 0 when no target found anything, 1 otherwise (the failing input is
# named in the output; replay it with "$FUZZ_BUILD_DIR/fuzz/TARGET FILE").
set -euo pipefail
cd "$(dirname "$0")/.."

ALL_TARGETS=(fuzz_version fuzz_import fuzz_xml fuzz_inventory fuzz_regex fuzz_resolve fuzz_case_file fuzz_fleet_line)

if [[ $# -lt 1 || ! $1 =~ ^[0-9]+$ || $1 -lt 1 ]]; then
  echo "usage: $0 SECONDS [TARGET...]   (targets: ${ALL_TARGETS[*]})" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=("${ALL_TARGETS[@]}")
fi

build=${FUZZ_BUILD_DIR:-build-fuzz}
parallel=${FUZZ_PARALLEL:-1}
build_jobs=${FUZZ_BUILD_JOBS:-$(nproc)}

# Per target: longest input, time limit for one input (seconds), dictionary.
# The hosts' own limits bound the work of one input far below these time
# limits; an input that still reaches one is a finding.
options_for() {
  case $1 in
    fuzz_version) echo "-max_len=512 -timeout=5" ;;
    fuzz_import) echo "-max_len=16384 -timeout=20 -dict=fuzz/dict/xml.dict" ;;
    fuzz_xml) echo "-max_len=16384 -timeout=20 -dict=fuzz/dict/xml.dict" ;;
    fuzz_inventory) echo "-max_len=8192 -timeout=10 -dict=fuzz/dict/inventory.dict" ;;
    fuzz_regex) echo "-max_len=8192 -timeout=5" ;;
    fuzz_resolve) echo "-max_len=16384 -timeout=20 -dict=fuzz/dict/xml.dict" ;;
    fuzz_case_file) echo "-max_len=16384 -timeout=10 -dict=fuzz/dict/case.dict" ;;
    fuzz_fleet_line) echo "-max_len=4096 -timeout=10 -dict=fuzz/dict/fleet.dict" ;;
    *)
      echo "unknown fuzz target: $1 (targets: ${ALL_TARGETS[*]})" >&2
      return 1
      ;;
  esac
}
for target in "${targets[@]}"; do
  options_for "$target" >/dev/null
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DOX_WERROR=ON \
  -DOX_SANITIZE=address,undefined -DOX_BUILD_FUZZ=ON \
  -DOX_BUILD_TESTS=OFF -DOX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$build_jobs" --target "${targets[@]}"

run_target() {
  local target=$1
  local corpus="$build/corpus/$target"
  local artifacts="$build/artifacts/$target"
  local log="$build/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  # shellcheck disable=SC2046
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" $(options_for "$target") \
    -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    echo "fuzz: $target: nothing found in ${seconds}s (${runs:-?} inputs run, corpus $(find "$corpus" -type f | wc -l) files)"
    return 0
  fi
  echo "fuzz: $target: FAILED; the end of $log:"
  tail -n 40 "$log"
  echo "fuzz: $target: failing inputs in $artifacts:"
  ls -1 "$artifacts"
  return 1
}

status=0
pids=()
names=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  names+=("$target")
  if ((${#pids[@]} >= parallel)); then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
exit $status
