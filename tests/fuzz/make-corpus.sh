#!/bin/sh
# Makes the fuzzer's seed corpus in corpus/: tags at and across the 4096-byte read edges, long,
# negative and maximal envelope lengths, blocks cut short by the end of the file, near-misses.
set -eu
cd "$(dirname "$0")"
rm -rf corpus && mkdir corpus

bytes() { for b in "$@"; do printf "\\$(printf %03o "$b")"; done; }
zeros() { head -c "$1" /dev/zero; }
# block VOL_LEN VOL_LOOP PITCH_LEN PITCH_LOOP: a 512-byte block with counting values
block() {
    i=0; while [ $i -lt 32 ]; do bytes $((i * 8)); i=$((i + 1)); done
    zeros 4
    i=0; while [ $i -lt 32 ]; do bytes $((15 - i % 16)); i=$((i + 1)); done
    bytes "$1" "$2"; zeros 4
    i=0; while [ $i -lt 32 ]; do bytes $(((i * 37) % 256)); i=$((i + 1)); done
    bytes "$3" "$4"; zeros 404
}

for at in 0 10 4092 4093 4094 4095 4096 8190; do
    { zeros "$at"; printf SNDF; block 5 2 5 0; } > corpus/tag-at-$at
done
{ printf SNDF; block 40 39 127 126; } > corpus/long-lengths
{ printf SNDF; block 128 255 255 128; } > corpus/negative-lengths
{ printf SNDF; block 8 7 9 8; } > corpus/line-edges
{ zeros 100; printf SNDF; block 10 3 10 3; } | head -c 180 > corpus/cut-in-pitch
{ zeros 100; printf SNDF; block 10 3 10 3; } | head -c 110 > corpus/cut-in-wave
{ zeros 4090; printf SNDF; } > corpus/tag-at-end
{ printf SNDSNDF; block 1 0 1 0; } > corpus/candidate-in-candidate
{ printf DF; yes SNDS | head -c 4092; printf SN; } > corpus/no-tag-wrapping
