#!/usr/bin/env bash
# Long run: cuts and splits the 1080p clip many times in a row through the batch mode, checks
# every output with ffprobe and the peak memory of every run, and fails when a run's output is
# wrong, the source changes, or the peak memory grows from the first runs to the last.
#
#   scripts/longrun.sh                   50 cuts and 50 splits with build/korvelin
#   LONGRUN_RUNS=5 scripts/longrun.sh    fewer rounds
#
# Settings (environment):
#   KORVELIN_BIN       the program (default: build/korvelin; build it with ./test.sh or ./run.sh)
#   LONGRUN_RUNS       rounds of one cut and one split (default 50)
#   LONGRUN_SECONDS    length of the 1080p clip (default 10; 25 frames a second)
#   KORVELIN_BENCH_DIR where the clip is made or found (default /tmp/korvelin-bench, shared with
#                      the benchmark program, which makes the same clip)
#   LONGRUN_GROWTH_MIB allowed growth of the peak memory from the first to the last runs (default 16)
#   LONGRUN_MEASURE    "time" (/usr/bin/time -f %M, the default when installed) or "vmhwm" (VmHWM
#                      sampled from /proc while the program runs)
set -euo pipefail
cd "$(dirname "$0")/.."

bin=${KORVELIN_BIN:-build/korvelin}
runs=${LONGRUN_RUNS:-50}
seconds=${LONGRUN_SECONDS:-10}
bench_dir=${KORVELIN_BENCH_DIR:-/tmp/korvelin-bench}
allowed_growth_kib=$(( ${LONGRUN_GROWTH_MIB:-16} * 1024 ))

die() { echo "longrun: $*" >&2; exit 1; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

[[ -x "$bin" ]] || die "$bin is not built (run ./test.sh or scripts/build.sh build RelWithDebInfo first)"
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || die "ffmpeg and ffprobe are needed (apt-get install ffmpeg)"
measure=${LONGRUN_MEASURE:-}
if [[ -z "$measure" ]]; then
  if [[ -x /usr/bin/time ]]; then
    measure=time
  else
    measure=vmhwm
    echo "longrun: /usr/bin/time is missing (apt-get install time); sampling VmHWM from /proc instead," \
         "which can miss the last moments of a run" >&2
  fi
fi
[[ $measure == time || $measure == vmhwm ]] || die "LONGRUN_MEASURE must be time or vmhwm"
[[ $measure == vmhwm || -x /usr/bin/time ]] || die "/usr/bin/time is missing (apt-get install time)"

# The clip: H.264 + AAC, 1920x1080 at 25 fps, made as the benchmark makes it.
mkdir -p "$bench_dir"
clip="$bench_dir/h264-1080p-${seconds}s.mp4"
if [[ ! -f "$clip" ]]; then
  echo "making $clip"
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25,noise=alls=12:allf=t" \
    -f lavfi -i "sine=frequency=330:sample_rate=48000" -t "$seconds" -c:v libx264 -preset veryfast -crf 23 \
    -g 50 -bf 2 -pix_fmt yuv420p -c:a aac -ac 2 "$clip.part.mp4"
  mv "$clip.part.mp4" "$clip"
fi

frames_of() {  # video packets of the first video stream (no decoding)
  ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"
}
total=$(frames_of "$clip")
[[ "$total" -gt 20 ]] || die "the clip $clip has only $total frames"
cut_from=$(( total / 5 )); cut_to=$(( total * 3 / 5 )); split_at=$(( total / 2 ))
source_sum=$(sha256sum "$clip" | cut -d' ' -f1)

# A private home: settings, lock and a registry in which the partner application is present
# (the split needs it).
work=$(mktemp -d /tmp/korvelin-longrun.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/registry" "$work/settings" "$work/lock" "$work/out"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.pando]\n@="longrun"\n\n' \
  > "$work/registry/HKEY_LOCAL_MACHINE.reg"
export QT_QPA_PLATFORM=offscreen KORVELIN_REGISTRY_DIR="$work/registry" KORVELIN_SETTINGS_DIR="$work/settings" \
  KORVELIN_LOCK_DIR="$work/lock"

# Runs the program with the given arguments; sets peak_kib and elapsed; returns its exit code.
run_measured() {
  local start=$SECONDS code=0
  if [[ $measure == time ]]; then
    /usr/bin/time -o "$work/peak" -f %M "$bin" "$@" > "$work/stdout" 2> "$work/stderr" || code=$?
    peak_kib=$(tail -n 1 "$work/peak")
  else
    "$bin" "$@" > "$work/stdout" 2> "$work/stderr" & local pid=$!
    peak_kib=0
    while kill -0 "$pid" 2>/dev/null; do
      local hwm
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [[ -n "$hwm" && "$hwm" -gt "$peak_kib" ]] && peak_kib=$hwm
      sleep 0.2
    done
    wait "$pid" || code=$?
  fi
  elapsed=$(( SECONDS - start ))
  return $code
}

expect_frames() {  # file, expected frame count
  [[ -f "$1" ]] || die "round $round: $1 was not written"
  local n
  n=$(frames_of "$1")
  [[ "$n" == "$2" ]] || die "round $round: $1 holds $n frames, expected $2"
}

declare -a cut_peaks split_peaks
echo "clip: $clip ($total frames); cut $cut_from..$cut_to, split at $split_at; $runs rounds"
printf '%6s %6s %8s %10s\n' round job seconds peak_MiB
for (( round = 1; round <= runs; round++ )); do
  rm -f "$work/out/"*
  run_measured --cut "$clip" --from "$cut_from" --to "$cut_to" --out "$work/out/cut.avi" ||
    die "round $round: the cut failed ($(cat "$work/stdout" "$work/stderr" | tail -n 3))"
  expect_frames "$work/out/cut.avi" $(( cut_to - cut_from + 1 ))
  cut_peaks+=("$peak_kib")
  printf '%6d %6s %8d %10s\n' "$round" cut "$elapsed" "$(mib "$peak_kib")"

  rm -f "$work/out/"*
  run_measured --split "$clip" --at "$split_at" --out1 "$work/out/part_1.avi" --out2 "$work/out/part_2.avi" ||
    die "round $round: the split failed ($(cat "$work/stdout" "$work/stderr" | tail -n 3))"
  expect_frames "$work/out/part_1.avi" $(( split_at - 1 ))
  expect_frames "$work/out/part_2.avi" $(( total - split_at + 1 ))
  split_peaks+=("$peak_kib")
  printf '%6d %6s %8d %10s\n' "$round" split "$elapsed" "$(mib "$peak_kib")"
done

[[ "$(sha256sum "$clip" | cut -d' ' -f1)" == "$source_sum" ]] || die "the source clip changed"

# Growth: the highest peak of the last five runs of each job against the highest of its first five.
check_growth() {  # job name, peaks...
  local job=$1; shift
  local -a peaks=("$@")
  local n=${#peaks[@]} k=$(( ${#peaks[@]} < 5 ? ${#peaks[@]} : 5 ))
  local first=0 last=0 i
  for (( i = 0; i < k; i++ )); do (( peaks[i] > first )) && first=${peaks[i]}; done
  for (( i = n - k; i < n; i++ )); do (( peaks[i] > last )) && last=${peaks[i]}; done
  echo "$job: peak of the first runs $(mib "$first") MiB, of the last runs $(mib "$last") MiB"
  (( last <= first + allowed_growth_kib )) || die "$job: the peak memory grew by $(( (last - first) / 1024 )) MiB"
}
check_growth cut "${cut_peaks[@]}"
check_growth split "${split_peaks[@]}"
echo "longrun: $runs cuts and $runs splits written and checked; the source is unchanged; no memory growth"
