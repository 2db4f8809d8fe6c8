#!/usr/bin/env bash
# Installs what is missing, builds and runs every test on Qt's offscreen platform.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   address + undefined-behaviour build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
if [[ "${1:-}" == "--sanitize" ]]; then
  scripts/build.sh build-asan Debug -DKORVELIN_SANITIZE=ON
  dir=build-asan
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
else
  scripts/build.sh build RelWithDebInfo
  dir=build
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 900
