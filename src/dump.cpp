// Instrument dump: one 512-byte block read with a single request, printed as three definitions
// of entries, eight to a line.
#include "dump.h"

#include <sys/types.h>

namespace {

constexpr int NO_LOOP = -1;

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

} // namespace

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
