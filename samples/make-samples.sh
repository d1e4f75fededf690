#!/bin/sh
# Makes the sample inputs in this folder. demo.bin: 4094 bytes full of near-misses ("SNDS"),
# then the tag "SNDF" at offset 4094 (it straddles the first 4096-byte read, px = 4098), then one
# instrument block: a sine-like wave, a falling volume envelope that loops, a vibrato.
set -eu
cd "$(dirname "$0")"

# bytes N...: writes each decimal N as one byte
bytes() { for b in "$@"; do printf "\\$(printf %03o "$b")"; done; }
zeros() { head -c "$1" /dev/zero; }

{
    yes SNDS | head -c 4094
    printf SNDF
    bytes 8 9 11 12 13 14 15 15 15 15 14 13 12 11 9 8 7 6 4 3 2 1 0 0 0 0 1 2 3 4 6 7
    zeros 4
    bytes 15 14 13 12 11 10 9 8 7 6; zeros 22; bytes 10 6    # 10 steps, loop from the 7th
    zeros 4
    bytes 0 1 2 1 0 129 130 129; zeros 24; bytes 8 0       # 8 steps (129 = -1), loop from the 1st
    zeros 404
    printf 'trailing data\n'
} > demo.bin
