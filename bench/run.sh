#!/usr/bin/env bash
# Times keldo against `cat FILE` (the cost of reading the file) and `grep -F -m1 -boa SNDF FILE`
# on four 256 MiB inputs with the tag at the very end: random bytes, all "S" bytes, all zeros, and
# "SxxF" repeated (the vector searches' worst case). Also reports keldo's peak memory, keldo's and
# cat's instruction counts on a 64 KiB input, and the searches alone, side by side.
#   bench/run.sh [RUNS]      (inputs are made once, in build-bench/data; about 1 GiB)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
classes=(random all-S zeros SxxF)

# Every command this script calls, as TOOL:DEBIAN-PACKAGE.
need=()
for tool in cmake:cmake hyperfine:hyperfine valgrind:valgrind bc:bc awk:gawk grep:grep sed:sed \
            du:coreutils tr:coreutils seq:coreutils nproc:coreutils; do
    command -v "${tool%%:*}" >/dev/null || need+=("${tool##*:}")
done
[ -x /usr/bin/time ] || need+=(time)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
    echo "bench/run.sh needs: ${need[*]} (Debian: apt-get install ${need[*]})" >&2
    exit 2
fi

echo "== building keldo and the search benchmark in build-bench"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKELDO_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
keldo=build-bench/keldo
data=build-bench/data
mkdir -p "$data"

size=$((256 * 1024 * 1024 - 4))
make_input() {  # make_input NAME: generates the file's bytes before the tag on stdout
    case $1 in
        random) head -c "$size" /dev/urandom ;;
        all-S) head -c "$size" /dev/zero | tr '\0' S ;;
        zeros) head -c "$size" /dev/zero ;;
        SxxF)  # 255 MiB of "SxxF", then one MiB less its last four bytes
            local mib
            mib=$(printf 'SxxF%.0s' $(seq 262144))
            for ((i = 1; i < 256; i++)); do printf %s "$mib"; done
            printf %s "${mib%SxxF}" ;;
    esac
}
for class in "${classes[@]}"; do
    file=$data/$class.bin
    # The tag must be at the very end and nowhere before: random bytes are drawn again if not.
    until [ -f "$file" ] && [ "$(LC_ALL=C grep -F -m1 -boa SNDF "$file" | cut -d: -f1)" = "$size" ]; do
        echo "== making $file (256 MiB)"
        { make_input "$class"; printf SNDF; } > "$file"
    done
done
{ head -c 65532 /dev/urandom; printf SNDF; } > "$data/64k.bin"

# One warm pass of every command tells how long the runs will take.
start=$(date +%s%N)
for class in "${classes[@]}"; do
    file=$data/$class.bin
    "$keldo" "$file" >/dev/null; cat "$file" >/dev/null; LC_ALL=C grep -F -m1 -boa SNDF "$file" >/dev/null
done
pass=$((($(date +%s%N) - start) / 1000000))
echo "== one pass of every command took ${pass} ms: the whole-run timings will take about" \
     "$((pass * (runs + 2) / 1000 + 1)) s, the searches alone about 30 s"

median() {  # median CSV COMMAND-PREFIX: hyperfine's median, in ms, of the command starting so
    awk -F, -v cmd="$2" 'index($1, cmd) == 1 { printf "%.1f", $4 * 1000 }' "$1"
}

# The searches alone first: their header names the search keldo uses on this CPU.
searches=$(build-bench/bench/search_bench --benchmark_min_time=0.2 2>&1)
search=$(sed -n "s/^keldo's search: //p" <<<"$searches")
echo "== whole runs: median of $runs runs each, page cache warm ($(nproc) cores; keldo's search: $search)"
printf '%-8s %10s %10s %10s %10s %10s\n' class keldo_ms cat_ms grep_ms keldo/cat keldo/grep
for class in "${classes[@]}"; do
    file=$data/$class.bin
    csv=$(mktemp)
    hyperfine -N -w 2 -r "$runs" --export-csv "$csv" \
        "$keldo $file" "cat $file" "env LC_ALL=C grep -F -m1 -boa SNDF $file" >/dev/null 2>&1
    k=$(median "$csv" "$keldo"); c=$(median "$csv" cat); g=$(median "$csv" env)
    printf '%-8s %10s %10s %10s %10.2f %10.2f\n' "$class" "$k" "$c" "$g" \
        "$(echo "$k / $c" | bc -l)" "$(echo "$k / $g" | bc -l)"
    rm -f "$csv"
done

echo "== peak memory of keldo (maximum resident set size)"
for file in "$data/64k.bin" "$data/random.bin"; do
    printf '%-28s %s KiB\n' "$(basename "$file")" \
        "$(/usr/bin/time -v "$keldo" "$file" 2>&1 >/dev/null | awk '/Maximum resident/ { print $NF }')"
done

echo "== instructions on a 64 KiB input (callgrind)"
count() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | awk '/Collected/ { print $NF }'; }
printf '%-6s %12s\n' keldo "$(count "$keldo" "$data/64k.bin")" cat "$(count cat "$data/64k.bin")"

echo "== the searches alone, side by side, on one 4100-byte window"
grep bm_search <<<"$searches"

echo "== the inputs are kept for the next run: $(du -sh "$data" | cut -f1) in $data; remove them with:"
echo "   rm -r $data"
