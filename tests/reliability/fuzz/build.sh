#!/bin/sh
# Configures and builds the fuzz targets with clang in the folder given (default
# build-fuzz in the source tree). Safe to run again: only what changed is rebuilt.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../../build-fuzz}
if [ ! -f "$out/build.ninja" ]; then
  cmake -S "$here" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$out" -j2
