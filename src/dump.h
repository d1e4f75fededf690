// Instrument dump: the block after a tag, read again from the input, and printed as @WT, @v and
// @EP definitions.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr std::int64_t BLOCK_READ_SIZE = 512;
constexpr int WAVE_SIZE = 32;

struct instrument_block {
    unsigned char bytes[BLOCK_READ_SIZE];
};

// One envelope as the block holds it: the entries it prints (as many as its length, when that is
// above 0, running on past its 32 values), and its length and loop index bytes themselves.
struct envelope {
    const unsigned char* entries;
    int count;
    unsigned char length;
    unsigned char loop;
};

const unsigned char* wave_table(const instrument_block& block);
envelope volume_envelope(const instrument_block& block);
envelope pitch_envelope(const instrument_block& block);

// Reads the tag that ends at file offset `px` and the block after it again. Bytes past the end of
// the file are zero. Returns false when the stream cannot be repositioned there (a pipe), the
// read fails, or the tag is no longer there (a device that ignores the seek, a file changed since
// the scan).
bool read_block(std::FILE* in, std::int64_t px, instrument_block& block);

// Prints the three definitions of `block`, named @WTn, @vn and @EPn for n = `number`.
void print_definitions(std::FILE* out, const instrument_block& block, std::int64_t number);

// read_block, then print_definitions numbered 0; prints nothing when the read fails.
bool dump_instrument(std::FILE* in, std::int64_t px, std::FILE* out);
