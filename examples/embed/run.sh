#!/usr/bin/env bash
# Builds and runs the embedding example the way a host agent's build would
# see the library: installed into a prefix, found with
# find_package(tarvik_ox CONFIG), then compiled once more with the flags that
# pkg-config gives. Both builds must print exactly expected.txt.
#
#   examples/embed/run.sh [BUILD_DIR]   install BUILD_DIR (a configured and
#                                       built tree, default: build)
#   examples/embed/run.sh --shared      build the library as shared libraries
#                                       in a temporary tree and install that
#
# Everything else happens in a temporary directory that is removed afterwards.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

shared=0
build_dir=$root/build
case "${1:-}" in
  --shared) shared=1 ;;
  "") ;;
  *) build_dir=$(cd "$1" && pwd) ;;
esac

generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/oxpm-embed.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

step() { echo "--- embed example: $*"; }

if [ "$shared" = 1 ]; then
  step "building the library with BUILD_SHARED_LIBS=ON"
  build_dir=$work/library
  cmake -S "$root" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON -DOX_BUILD_TESTS=OFF -DOX_BUILD_TOOLS=OFF >"$work/library.log"
  cmake --build "$build_dir" -j "$(nproc)" >>"$work/library.log" ||
    { cat "$work/library.log"; exit 1; }
fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  echo "run.sh: $build_dir is not a configured build tree" >&2
  exit 2
fi

step "installing $build_dir into a temporary prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log"

step "configuring and building against it with find_package(tarvik_ox CONFIG)"
cmake -S "$here" -B "$work/example" "${generator[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >"$work/example.log" ||
  { cat "$work/example.log"; exit 1; }
cmake --build "$work/example" >>"$work/example.log" || { cat "$work/example.log"; exit 1; }

step "running it"
"$work/example/embed_example" >"$work/cmake-output.txt"
diff -u "$here/expected.txt" "$work/cmake-output.txt"

step "building it with pkg-config's flags"
pc_file=$(find "$prefix" -name tarvik_ox.pc -print -quit)
libdir=$(dirname "$(dirname "$pc_file")")
export PKG_CONFIG_PATH="$(dirname "$pc_file")${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
# shellcheck disable=SC2046 # the flags are meant to split
"${CXX:-c++}" -std=c++17 -Wall -Wextra -Wpedantic -Werror "$here/main.cpp" -o "$work/pc_example" \
  $(pkg-config --cflags --libs --static tarvik_ox tarvik_ox_refhost)
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$work/pc_example" \
  >"$work/pc-output.txt"
diff -u "$here/expected.txt" "$work/pc-output.txt"

step "output as expected"
