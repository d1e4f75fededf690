#!/usr/bin/env bash
# Times keldo against `cat FILE` (the cost of reading the file) and `grep -F -m1 -boa SNDF FILE`
# on three 256 MiB inputs with the tag at the very end: random bytes, all "S" bytes, all zeros.
# Also reports keldo's peak memory and, on a 64 KiB input, keldo's and cat's instruction counts.
#   bench/run.sh [RUNS]      (inputs are made once, in build-bench/data)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}

need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
command -v valgrind >/dev/null || need+=(valgrind)
[ -x /usr/bin/time ] || need+=(time)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
    echo "bench/run.sh needs: ${need[*]} (Debian: apt-get install ${need[*]})" >&2
    exit 2
fi

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
    esac
}
for class in random all-S zeros; do
    file=$data/$class.bin
    # The tag must be at the very end and nowhere before: random bytes are drawn again if not.
    until [ -f "$file" ] && [ "$(LC_ALL=C grep -F -m1 -boa SNDF "$file" | cut -d: -f1)" = "$size" ]; do
        { make_input "$class"; printf SNDF; } > "$file"
    done
done
{ head -c 65532 /dev/urandom; printf SNDF; } > "$data/64k.bin"

median() {  # median CSV COMMAND-PREFIX: hyperfine's median, in ms, of the command starting so
    awk -F, -v cmd="$2" 'index($1, cmd) == 1 { printf "%.1f", $4 * 1000 }' "$1"
}

# The searches alone first: their header names the search keldo uses on this CPU.
searches=$(build-bench/bench/search_bench --benchmark_min_time=0.2 2>&1)
search=$(sed -n "s/^keldo's search: //p" <<<"$searches")
echo "== whole runs: median of $runs runs each, page cache warm ($(nproc) cores; keldo's search: $search)"
printf '%-8s %10s %10s %10s %10s %10s\n' class keldo_ms cat_ms grep_ms keldo/cat keldo/grep
for class in random all-S zeros; do
    file=$data/$class.bin
    cat "$file" >/dev/null
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
