#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and fuzzing
# oxpm needs. Idempotent: packages already present are left alone, and the
# package index is only refreshed when something has to be installed.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ clang clang-format cmake ninja-build make pkg-config
  # sanitizer and fuzzer runtimes for clang
  libclang-rt-14-dev
  # library and reference host dependencies
  libpugixml-dev libre2-dev nlohmann-json3-dev libcli11-dev
  # tests and benchmarks; testsolv (libsolv-tools) is the end-to-end peer,
  # hyperfine times both
  libgtest-dev libgmock-dev libbenchmark-dev libsolv-tools hyperfine
  # DOT output check in the tool tests
  graphviz
  # the schema tests: JSON Schema validator, and xmllint for the catalog's XSD
  python3-jsonschema libxml2-utils
  # the Python module, its tests and the distributed fleet example
  pybind11-dev python3-pybind11 python3-dev python3-pytest python3-distributed
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run this script as root (or install them with apt-get) and try again" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
