#!/usr/bin/env bash
# Configures (once) and builds the tree into the given folder.
#   scripts/build.sh BUILD_DIR BUILD_TYPE [extra cmake options...]
set -euo pipefail
dir=$1; type=$2; shift 2
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@"
fi
cmake --build "$dir" -j"$(nproc)"
