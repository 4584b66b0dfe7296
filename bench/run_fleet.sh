#!/usr/bin/env bash
# Throughput and peak memory of `oxpm fleet` on a generated fleet, with 1 and
# 2 threads, and optionally the Dask example on the same fleet.
#
#   bench/run_fleet.sh [BUILD_DIR]        (default: build-bench)
#
# Environment: SIZE (catalog size, default large: 20,000 entries), MACHINES
# (default 10000), INSTALLED (names per machine, default 300), SEED (default
# 1), RUNS (runs per thread count, default 3; the figures are the medians),
# DASK=1 to time examples/fleet-dask/fleet_dask.py too (needs the Python
# module built in BUILD_DIR and python3-distributed), FLEET_DIR to keep the
# generated files.
#
# Each run is timed with /usr/bin/time: wall time, CPU time (user + system)
# and the peak resident set. Machines per second are given both per second
# of wall time and per second of CPU time: on a machine shared with other
# work, the CPU rate is the one that says what one core does.
set -euo pipefail

BUILD_DIR=${1:-build-bench}
SIZE=${SIZE:-large}
MACHINES=${MACHINES:-10000}
INSTALLED=${INSTALLED:-300}
SEED=${SEED:-1}
RUNS=${RUNS:-3}
HERE=$(cd "$(dirname "$0")" && pwd)

GEN="$BUILD_DIR/bench/ox_fleet_gen"
OXPM="$BUILD_DIR/tools/oxpm"
for tool in "$GEN" "$OXPM"; do
  if [[ ! -x $tool ]]; then
    echo "run_fleet: $tool is missing; configure with -DOX_BUILD_BENCH=ON and build it" >&2
    exit 2
  fi
done
if [[ ! -x /usr/bin/time ]]; then
  echo "run_fleet: /usr/bin/time is missing (Debian package time)" >&2
  exit 2
fi

WORK=${FLEET_DIR:-$(mktemp -d)}
if [[ -z ${FLEET_DIR:-} ]]; then
  trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"
if [[ ! -f $WORK/machines.jsonl ]]; then
  "$GEN" --size "$SIZE" --machines "$MACHINES" --installed "$INSTALLED" --own-requests \
    --seed "$SEED" --out "$WORK"
fi
CATALOG_BYTES=$(stat -c %s "$WORK/spec.xml")
echo "catalog: $CATALOG_BYTES bytes; machines file: $(stat -c %s "$WORK/machines.jsonl") bytes"

# One timed run: prints "wall cpu maxrss_kb".
timed() {
  local out
  # oxpm fleet exits 1 when some machine is not ok: only the timing matters.
  out=$(/usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1 || true)
  read -r wall user sys rss <<<"$out"
  echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN {print u + s}') $rss"
}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

declare -A WALL CPU RSS
for jobs in 1 2; do
  walls=() cpus=() rsss=()
  for ((run = 0; run < RUNS; ++run)); do
    read -r wall cpu rss < <(timed "$OXPM" fleet --spec "$WORK/spec.xml" \
      --machines "$WORK/machines.jsonl" --request "$WORK/request.json" --jobs "$jobs" \
      --format json --summary-only)
    walls+=("$wall") cpus+=("$cpu") rsss+=("$rss")
  done
  WALL[$jobs]=$(printf '%s\n' "${walls[@]}" | median)
  CPU[$jobs]=$(printf '%s\n' "${cpus[@]}" | median)
  RSS[$jobs]=$(printf '%s\n' "${rsss[@]}" | median)
  awk -v j="$jobs" -v w="${WALL[$jobs]}" -v c="${CPU[$jobs]}" -v r="${RSS[$jobs]}" \
    -v m="$MACHINES" 'BEGIN {
      printf "jobs %d: wall %.2f s (%.0f machines/s), CPU %.2f s (%.0f machines per CPU second), peak %.1f MiB\n",
        j, w, m / w, c, m / c, r / 1024 }'
done
awk -v w1="${WALL[1]}" -v w2="${WALL[2]}" -v r1="${RSS[1]}" -v r2="${RSS[2]}" \
  -v cat="$CATALOG_BYTES" 'BEGIN {
    printf "1 to 2 threads: %.2fx faster (wall); peak memory %.2fx; limit 4 x catalog + 32 MiB = %.1f MiB\n",
      w1 / w2, r2 / r1, (4 * cat + 32 * 1048576) / 1048576 }'

if [[ ${DASK:-0} == 1 ]]; then
  export PYTHONPATH="$BUILD_DIR/python${PYTHONPATH:+:$PYTHONPATH}"
  /usr/bin/time -f "dask: wall %e s, client CPU %U s" /usr/bin/python3 \
    "$HERE/../examples/fleet-dask/fleet_dask.py" --spec "$WORK/spec.xml" \
    --machines "$WORK/machines.jsonl" --request "$WORK/request.json" --workers 2 \
    --format json --summary-only --timing >/dev/null
fi
