// Instrument dump: prints the block after the tag as @WT0, @v0 and @EP0 definitions.
#pragma once

#include <cstdint>
#include <cstdio>

// The block layout, as offsets into the block that starts right after the tag.
constexpr std::int64_t BLOCK_READ_SIZE = 512;
constexpr std::int64_t WAVE_OFFSET = 0;
constexpr std::int64_t WAVE_SIZE = 32;
constexpr std::int64_t VOLUME_OFFSET = 36;
constexpr std::int64_t PITCH_OFFSET = 74;
// Within an envelope: its values from +0, then its length and loop index, both signed bytes.
constexpr std::int64_t ENVELOPE_LENGTH_AT = 32;
constexpr std::int64_t ENVELOPE_LOOP_AT = 33;

enum class entry_form {
    hex,            // "$0f ": the byte's unsigned value
    sign_magnitude  // "-1 ": bit 7 is the sign, bits 0-6 the magnitude
};

void print_wave_table(const unsigned char* block);

// `envelope` points at the envelope's first value inside a whole block: a length past 32 runs
// on into the bytes that follow, up to 126 bytes further.
void print_envelope(const char* name, const unsigned char* envelope, entry_form form);

// Reads the block at file offset `px` and prints it. Bytes past the end of the file are zero.
// Returns false, having printed nothing, when the stream cannot be repositioned there (a pipe)
// or the read fails.
bool dump_instrument(std::FILE* in, std::int64_t px);
