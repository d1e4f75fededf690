// Instrument dump: one 512-byte block read with a single request, printed as three definitions
// of entries, eight to a line.
#include "dump.h"

#include <sys/types.h>

namespace {

// The block layout, as offsets into the block that starts right after the tag.
constexpr std::int64_t BLOCK_READ_SIZE = 512;
constexpr std::int64_t WAVE_OFFSET = 0;
constexpr int WAVE_SIZE = 32;
constexpr std::int64_t VOLUME_OFFSET = 36;
constexpr std::int64_t PITCH_OFFSET = 74;
// Within an envelope: its values from +0, then its length and loop index, both signed bytes.
// A length past 32 runs on into the bytes that follow, at most 126 bytes past the values.
constexpr std::int64_t ENVELOPE_LENGTH_AT = 32;
constexpr std::int64_t ENVELOPE_LOOP_AT = 33;
constexpr int NO_LOOP = -1;

enum class entry_form {
    hex,            // "$0f ": the byte's unsigned value
    sign_magnitude  // "-1 ": bit 7 is the sign, bits 0-6 the magnitude
};

void print_entry(unsigned char value, entry_form form)
{
    if (form == entry_form::hex)
        std::printf("$%02x ", value);
    else
        std::printf((value & 0x80) ? "-%d " : "%d ", value & 0x7F);
}

// The loop marker follows the entry it names and comes before that entry's line break.
void print_entries(const unsigned char* values, int count, int loop, entry_form form)
{
    for (int i = 0; i < count; ++i) {
        print_entry(values[i], form);
        if (i == loop)
            std::fputs("| ", stdout);
        if ((i & 7) == 7)
            std::fputs("\n", stdout);
    }
}

void print_wave_table(const unsigned char* block)
{
    std::fputs("@WT0 = {\n", stdout);
    print_entries(block + WAVE_OFFSET, WAVE_SIZE, NO_LOOP, entry_form::hex);
    std::fputs("}\n", stdout);
}

void print_envelope(const char* name, const unsigned char* envelope, entry_form form)
{
    const int length = static_cast<signed char>(envelope[ENVELOPE_LENGTH_AT]);
    const int loop = static_cast<signed char>(envelope[ENVELOPE_LOOP_AT]);
    std::printf("%s = {\n", name);
    print_entries(envelope, length, loop, form);
    std::fputs("}\n", stdout);
}

} // namespace

bool dump_instrument(std::FILE* in, std::int64_t px)
{
    unsigned char block[BLOCK_READ_SIZE] = {};
    if (fseeko(in, static_cast<off_t>(px), SEEK_SET) != 0)
        return false;
    if (std::fread(block, 1, BLOCK_READ_SIZE, in) < BLOCK_READ_SIZE && std::ferror(in))
        return false;
    print_wave_table(block);
    print_envelope("@v0", block + VOLUME_OFFSET, entry_form::hex);
    print_envelope("@EP0", block + PITCH_OFFSET, entry_form::sign_magnitude);
    return true;
}
