#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   tests/fuzz/run.sh                  every target, FUZZ_SECONDS (default 60) each
#   tests/fuzz/run.sh ini names        only those targets
#   FUZZ_SECONDS=300 tests/fuzz/run.sh reader
#   FUZZ_BUILD=build-fuzz              the build folder (beside the sources)
# New inputs the fuzzer finds go to $FUZZ_BUILD/fuzz-work/<target>/corpus, failing inputs to
# $FUZZ_BUILD/fuzz-work/<target>/ (crash-*, timeout-*, leak-*, oom-*). A failing input is
# reproduced with `$FUZZ_BUILD/fuzz/fuzz_<target> <file>`; once fixed, commit it under
# tests/fuzz/regressions/<target>/ so the test suite replays it. Exits 1 when a target failed.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
targets=(ini regfile filters names reader bitstream)
(($#)) && targets=("$@")
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}

# clang and its libFuzzer runtime (Debian 12: clang-14, libclang-rt-14-dev).
have_fuzzer() {
  command -v clang++ >/dev/null &&
    compgen -G "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null
}
if ! have_fuzzer; then
  echo "Installing clang and libFuzzer" >&2
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends clang clang-14 libclang-rt-14-dev
fi
scripts/deps.sh

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVELIN_FUZZ=ON
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
export QT_QPA_PLATFORM=offscreen

failed=0
summary=()
for target in "${targets[@]}"; do
  work=$build/fuzz-work/$target
  mkdir -p "$work/corpus"
  options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" -timeout=25)
  if [[ $target == reader ]]; then
    options+=(-max_len=65536 -rss_limit_mb=4096)
  else
    options+=(-max_len=4096)
  fi
  seeds=("$root/tests/fuzz/corpus/$target")
  [[ -d $root/tests/fuzz/regressions/$target ]] && seeds+=("$root/tests/fuzz/regressions/$target")
  log=$work/last-run.log
  echo "== fuzz_$target for ${seconds}s" >&2
  status=ok
  "$build/fuzz/fuzz_$target" "${options[@]}" "$work/corpus" "${seeds[@]}" >"$log" 2>&1 || status=FAILED
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [[ -n $runs ]] || runs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  summary+=("$(printf '%-9s %10s executions  %s' "$target" "${runs:-?}" "$status")")
  if [[ $status == FAILED ]]; then
    failed=1
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
    echo "   full log: $log" >&2
  fi
done
printf '%s\n' "${summary[@]}"
exit $failed
