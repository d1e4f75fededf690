// Doubtful hits: "SNDF" is matched anywhere, also where the four letters are text or the end of a
// file cuts the block short. A hit is marked doubtful, never hidden, for each check that the
// block's own fields fail.
#pragma once

#include "dump.h"

#include <cstdint>
#include <cstdio>

enum doubt : unsigned {
    DOUBT_LENGTH = 1 << 0,  // an envelope longer than 32: its entries run past its values
    DOUBT_LOOP = 1 << 1,    // a loop index that is not negative, at or past its envelope's length
    DOUBT_CUT = 1 << 2,     // the input ends before the last byte that the dump reads
    DOUBT_TEXT = 1 << 3,    // more than three quarters of the wave's and envelopes' values are text
                            // (of those the input held)
    DOUBT_FLAT = 1 << 4,    // a wave whose 32 values are all equal
};
constexpr int DOUBTS = 5;

// The checks `block` fails; `held` is how many of its bytes the input held.
unsigned doubts_of(const instrument_block& block, std::int64_t held);

// The names of `doubts` (length, loop, cut, text, flat, in that order), between `before` and
// `after` each and separated by `between`.
void print_doubts(std::FILE* out, unsigned doubts, const char* before, const char* after, const char* between);
