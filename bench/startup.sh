#!/usr/bin/env bash
# Start-up of the launcher on the sample bundle (sample/, as
# tools/run-sample assembles it) against the floor program, which only opens
# the same runtime library, finds ZLI_Launch and calls it. Both sides use
# the stand-in runtime in its quiet mode, in which ZLI_Launch returns at
# once: the whole process is then the start-up up to the moment the runtime
# is entered, plus the same short exit on both sides.
#
#   bench/startup.sh <build dir> <launcher> <work dir> [runs]
set -euo pipefail
QUERN_SOURCE_DIR=$(cd "$(dirname "$0")/.." && pwd)
source "$QUERN_SOURCE_DIR/bench/bench-lib.sh"

build=$1
launcher=$2
work=$3
runs=${4:-300}

mkdir -p "$work/home"
bundle=$("$QUERN_SOURCE_DIR/tools/make-sample-bundle" "$launcher" \
  "$build/standin-runtime/libzli.dylib" "$work")
app=$bundle/Contents/MacOS/Hello
# An empty home directory: no per-user configuration replaces the bundle's.
export HOME=$work/home
lib=$bundle/Contents/runtime/Contents/Home/lib/libzli.dylib
floor=$build/bench/launch_floor

# Make sure both sides reach the runtime before timing them.
rm -f "$work/check.txt"
env -u ZLI_STANDIN_QUIET ZLI_STANDIN_RECORD="$work/check.txt" "$app" >/dev/null
env -u ZLI_STANDIN_QUIET ZLI_STANDIN_RECORD="$work/check.txt" "$floor" "$lib"
if [ "$(grep -c '^call 1$' "$work/check.txt")" != 2 ]; then
  echo "start-up: the launcher or the floor did not reach ZLI_Launch" >&2
  exit 1
fi

export ZLI_STANDIN_QUIET=1
unset ZLI_STANDIN_RECORD DYLD_LIBRARY_PATH QUERN_DEBUG

echo "== start-up: the launcher on the sample bundle against the floor"
echo "wall time of the whole process, $runs runs each, interleaved (launcher, floor, launcher, ...):"
timing=$("$build/bench/launch_timer" "$runs" 20 -- "$app" -- "$floor" "$lib")
launcher_line=$(sed -n 1p <<<"$timing")
floor_line=$(sed -n 2p <<<"$timing")
lt=$(timer_field "$launcher_line" median_us)
ft=$(timer_field "$floor_line" median_us)
lc=$(timer_field "$launcher_line" cpu_median_us)
fc=$(timer_field "$floor_line" cpu_median_us)
printf '  %-10s median %8.1f us   min %8.1f us   processor time %8.1f us   peak RSS %6s kB\n' \
  launcher "$lt" "$(timer_field "$launcher_line" min_us)" "$lc" \
  "$(timer_field "$launcher_line" maxrss_kb)"
printf '  %-10s median %8.1f us   min %8.1f us   processor time %8.1f us   peak RSS %6s kB\n' \
  floor "$ft" "$(timer_field "$floor_line" min_us)" "$fc" \
  "$(timer_field "$floor_line" maxrss_kb)"
wall_ratio=$(ratio "$lt" "$ft")
cpu_ratio=$(ratio "$lc" "$fc")
echo "  ratio of wall-time medians: $wall_ratio (target at most 1.3: $(within "$wall_ratio" 1.3))"
echo "  ratio of processor-time medians: $cpu_ratio"
echo "instructions of the whole process (valgrind --tool=callgrind):"
li=$(callgrind_total "$work/callgrind.launcher" "$app")
fi_=$(callgrind_total "$work/callgrind.floor" "$floor" "$lib")
printf '  %-10s %10d\n' launcher "$li" floor "$fi_"
ins_ratio=$(ratio "$li" "$fi_")
echo "  ratio: $ins_ratio (target at most 3: $(within "$ins_ratio" 3))"
echo "  the launcher's cost above the floor: $((li - fi_)) instructions"

echo "the launcher's instructions by object:"
callgrind_by_object "$work/callgrind.launcher" |
  awk 'NR <= 5 { printf "  %10d  %s\n", $1, $2 }'
echo "the floor's instructions by object:"
callgrind_by_object "$work/callgrind.floor" |
  awk 'NR <= 3 { printf "  %10d  %s\n", $1, $2 }'
echo "the launcher's top functions (own instructions):"
callgrind_top_functions "$work/callgrind.launcher" 15 | sed 's/^/  /'

# One line for the summary of tools/run-benchmarks.
echo "startup-summary wall_launcher_us=$lt wall_floor_us=$ft wall_ratio=$wall_ratio" \
  "cpu_launcher_us=$lc cpu_floor_us=$fc cpu_ratio=$cpu_ratio" \
  "ins_launcher=$li ins_floor=$fi_ ins_ratio=$ins_ratio" >"$work/summary"
