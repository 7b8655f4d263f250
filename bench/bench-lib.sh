# Helpers shared by the benchmark scripts; sourced, not run.

# Makes <out>/<name>.app around <launcher> and the stand-in runtime library
# with configuration <cfg>; prints the bundle's path.
make_bench_bundle() {
  local out=$1 name=$2 launcher=$3 runtime_lib=$4 cfg=$5
  "$QUERN_SOURCE_DIR/tools/make-bundle" --launcher "$launcher" --name "$name" \
    --cfg "$cfg" --runtime-lib "$runtime_lib" --force --out "$out"
}

# The value of field <name> in a launch_timer line.
timer_field() {
  local line=$1 name=$2
  awk -v n="$name" '{ for (i = 1; i < NF; i++) if ($i == n) print $(i + 1) }' \
    <<<"$line"
}

# a / b with <digits> decimals.
ratio() {
  awk -v a="$1" -v b="$2" -v d="${3:-2}" 'BEGIN { printf "%.*f", d, a / b }'
}

# The exponent k in t = c * n^k through (n1, t1) and (n2, t2).
growth_exponent() {
  awk -v n1="$1" -v t1="$2" -v n2="$3" -v t2="$4" \
    'BEGIN { printf "%.2f", log(t2 / t1) / log(n2 / n1) }'
}

# Whether a <= b, as "yes" or "NO".
within() {
  awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "yes" : "NO" }'
}

# The instructions a whole process executes under callgrind; the command's
# output is discarded, the profile kept in <out>.
callgrind_total() {
  local out=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" \
    >/dev/null 2>"$out.log" || {
    echo "callgrind run failed: $*" >&2
    cat "$out.log" >&2
    return 1
  }
  awk '/^(summary|totals):/ { print $2; exit }' "$out"
}

# The instructions of a callgrind profile, per object (executable or
# library), largest first: "<instructions> <object>".
callgrind_by_object() {
  awk '
    # "ob=(id) name" names an object, "ob=(id)" refers to it again; "cob="
    # lines name objects the same way without making them current.
    /^c?ob=/ {
      entry = substr($0, index($0, "=") + 1)
      id = entry
      if (match(entry, /^\([0-9]+\)/)) {
        id = substr(entry, RSTART, RLENGTH)
        rest = substr(entry, RLENGTH + 2)
        if (rest != "") name[id] = rest
      } else {
        name[id] = entry
      }
      if ($0 ~ /^ob=/) ob = id
      next
    }
    /^calls=/ { skip = 1; next }
    /^[0-9+*-]/ {
      if (skip) { skip = 0; next }
      cost[ob] += $2
    }
    END {
      for (o in cost) {
        n = name[o]
        sub(/.*\//, "", n)
        printf "%d %s\n", cost[o], n
      }
    }' "$1" | sort -rn
}

# The <count> functions with most instructions of their own. (Filters here
# read all their input: a reader that stops early would break the pipe.)
callgrind_top_functions() {
  callgrind_annotate --inclusive=no "$1" 2>/dev/null |
    awk -v n="$2" '/file:function/ { getline; go = 1; next }
      go && NF && shown < n { print substr($0, 1, 150); shown++ }'
}
