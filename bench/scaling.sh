#!/usr/bin/env bash
# How the launcher's cost grows with the size of what it is given: many
# "zeal-options" lines, a class path of many entries, one value holding
# many "$APPDIR" macros, and many command-line arguments. For each size:
# the median wall time and processor time of a whole launch (the stand-in
# runtime in its quiet mode) and its peak resident memory; for the two
# largest sizes also the instructions of the whole process under callgrind,
# which unlike the times do not depend on what else the machine is doing.
# From the two largest sizes, the growth exponent k of cost = c * size^k,
# for each of the three measures.
#
#   bench/scaling.sh <build dir> <launcher> <work dir>
set -euo pipefail
QUERN_SOURCE_DIR=$(cd "$(dirname "$0")/.." && pwd)
source "$QUERN_SOURCE_DIR/bench/bench-lib.sh"

build=$1
launcher=$2
work=$3
mkdir -p "$work"
# The bundles live in a directory of their own whose path is about as long
# as an installed application's ("/Applications/<Name>.app/Contents/app"):
# the macros expand to it, so its length weighs on the expanded sizes.
bundles=$(mktemp -d /tmp/qb.XXXXXX)
trap 'rm -rf "$bundles"' EXIT
runtime_lib=$build/standin-runtime/libzli.dylib
unset ZLI_STANDIN_QUIET ZLI_STANDIN_RECORD DYLD_LIBRARY_PATH QUERN_DEBUG

# Fewer runs for the larger sizes, whose single runs vary less.
runs_for() {
  case $1 in
    1000000) echo 5 ;;
    100000) echo 9 ;;
    *) echo 21 ;;
  esac
}

# The configuration of case <case> at size <n>, on standard output.
write_cfg() {
  local case=$1 n=$2
  case $case in
    options)
      awk -v n="$n" 'BEGIN {
        print "[Application]"; print "app.mainclass=bench.Main"
        print "[ZealOptions]"
        for (i = 0; i < n; i++)
          printf "zeal-options=-Dbench.option.%d=value-%d\n", i, i
      }' ;;
    classpath)
      awk -v n="$n" 'BEGIN {
        print "[Application]"; print "app.mainclass=bench.Main"
        for (i = 0; i < n; i++)
          printf "app.classpath=$APPDIR/lib/library-%d.zar\n", i
      }' ;;
    macros)
      awk -v n="$n" 'BEGIN {
        print "[Application]"; print "app.mainclass=bench.Main"
        print "[ZealOptions]"
        printf "zeal-options=-Dbench.path=$APPDIR"
        for (i = 1; i < n; i++) printf ":$APPDIR"
        printf "\n"
      }' ;;
    arguments)
      printf '[Application]\napp.mainclass=bench.Main\n' ;;
  esac
}

# The runtime's argument count that a launch of case <case> at size <n>
# must give.
expected_argc() {
  case $1 in
    options | arguments) echo $(($2 + 3)) ;;
    classpath) echo 5 ;;
    macros) echo 4 ;;
  esac
}

# One case over its sizes; prints a table and appends summary lines.
run_case() {
  local case=$1 title=$2
  shift 2
  local sizes=("$@")
  echo
  echo "-- $title"
  printf '  %9s %10s %10s %10s %14s %12s %10s %14s\n' size "input kB" \
    "wall ms" "cpu ms" instructions "peak RSS kB" "RSS/input" "RSS target kB"
  local prev_n= prev_t= prev_c= prev_i= last_n= last_t= last_c= last_i=
  local n t c i index=0
  for n in "${sizes[@]}"; do
    index=$((index + 1))
    local dir=$bundles
    write_cfg "$case" "$n" >"$dir/Bench.cfg"
    local bundle app
    bundle=$(make_bench_bundle "$dir" Bench "$launcher" "$runtime_lib" \
      "$dir/Bench.cfg")
    app=$bundle/Contents/MacOS/Bench
    local args=() input_bytes
    if [ "$case" = arguments ]; then
      mapfile -t args < <(awk -v n="$n" \
        'BEGIN { for (i = 0; i < n; i++) printf "--bench-argument-%d\n", i }')
      input_bytes=$(printf '%s\n' "${args[@]}" | wc -c)
    else
      input_bytes=$(stat -c %s "$bundle/Contents/app/Bench.cfg")
    fi
    rm -f "$dir/Bench.cfg"

    # The launch must reach the runtime with every argument.
    ZLI_STANDIN_RECORD="$dir/record.txt" "$app" ${args[@]+"${args[@]}"} \
      >/dev/null
    local argc
    argc=$(awk '/^argc / { print $2; exit }' "$dir/record.txt")
    if [ "$argc" != "$(expected_argc "$case" "$n")" ]; then
      echo "scaling: $case at $n gave argc $argc" >&2
      exit 1
    fi
    if grep -q 'APPDIR' "$dir/record.txt"; then
      echo "scaling: $case at $n reached the runtime unexpanded" >&2
      exit 1
    fi
    rm -f "$dir/record.txt"

    local line rss
    line=$(ZLI_STANDIN_QUIET=1 "$build/bench/launch_timer" "$(runs_for "$n")" \
      1 -- "$app" ${args[@]+"${args[@]}"})
    t=$(timer_field "$line" median_us)
    c=$(timer_field "$line" cpu_median_us)
    rss=$(timer_field "$line" maxrss_kb)
    i=
    if [ "$index" -ge $((${#sizes[@]} - 1)) ]; then
      i=$(ZLI_STANDIN_QUIET=1 callgrind_total "$dir/callgrind.out" "$app" \
        ${args[@]+"${args[@]}"})
      rm -f "$dir/callgrind.out" "$dir/callgrind.out.log"
    fi
    local input_kb=$((input_bytes / 1024))
    local rss_target=$((3 * input_bytes / 1024 + 10240))
    printf '  %9d %10d %10.2f %10.2f %14s %12d %10s %14d %s\n' "$n" \
      "$input_kb" "$(awk -v t="$t" 'BEGIN { print t / 1000 }')" \
      "$(awk -v t="$c" 'BEGIN { print t / 1000 }')" "$i" "$rss" \
      "$(ratio "$rss" "$(awk -v b="$input_bytes" 'BEGIN { print b / 1024 }')" 1)" \
      "$rss_target" "$([ "$rss" -le "$rss_target" ] && echo "" || echo "OVER")"
    echo "scaling-point case=$case n=$n median_us=$t cpu_median_us=$c" \
      "instructions=${i:-0} maxrss_kb=$rss input_bytes=$input_bytes" \
      >>"$work/summary"
    prev_n=$last_n
    prev_t=$last_t
    prev_c=$last_c
    prev_i=$last_i
    last_n=$n
    last_t=$t
    last_c=$c
    last_i=$i
    rm -rf "$bundle"
  done
  local k kc ki
  k=$(growth_exponent "$prev_n" "$prev_t" "$last_n" "$last_t")
  kc=$(growth_exponent "$prev_n" "$prev_c" "$last_n" "$last_c")
  ki=$(growth_exponent "$prev_n" "$prev_i" "$last_n" "$last_i")
  echo "  growth exponent between $prev_n and $last_n (target at most 1.1):" \
    "instructions $ki ($(within "$ki" 1.1)), wall $k ($(within "$k" 1.1))," \
    "processor $kc ($(within "$kc" 1.1))"
  echo "scaling-exponent case=$case exponent=$k cpu_exponent=$kc" \
    "instruction_exponent=$ki" >>"$work/summary"
}

: >"$work/summary"
echo "== scaling: wall time and peak memory of a whole launch against input size"
echo "application directory (\$APPDIR): $bundles/Bench.app/Contents/app" \
  "($(printf '%s' "$bundles/Bench.app/Contents/app" | wc -c) bytes)"
run_case options '"zeal-options" lines in the configuration' \
  1000 10000 100000 1000000
run_case classpath 'class path entries ("app.classpath" lines, each with $APPDIR)' \
  1000 10000 100000 1000000
run_case macros 'occurrences of $APPDIR in one value' 100 1000 10000 100000
run_case arguments 'command-line arguments' 10 100 1000 10000
