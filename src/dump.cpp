// Instrument dump: the tag and the 512-byte block after it, read again with a single request,
// printed as three definitions of entries, eight to a line.
#include "dump.h"

#include "tag.h"

#include <sys/types.h>

#include <cstring>

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

void print_entry(std::FILE* out, unsigned char value, entry_form form)
{
    if (form == entry_form::hex)
        std::fprintf(out, "$%02x ", value);
    else
        std::fprintf(out, (value & 0x80) ? "-%d " : "%d ", value & 0x7F);
}

// The loop marker follows the entry it names and comes before that entry's line break.
void print_entries(std::FILE* out, const unsigned char* values, int count, int loop, entry_form form)
{
    for (int i = 0; i < count; ++i) {
        print_entry(out, values[i], form);
        if (i == loop)
            std::fputs("| ", out);
        if ((i & 7) == 7)
            std::fputs("\n", out);
    }
}

void print_wave_table(std::FILE* out, const unsigned char* block)
{
    std::fputs("@WT0 = {\n", out);
    print_entries(out, block + WAVE_OFFSET, WAVE_SIZE, NO_LOOP, entry_form::hex);
    std::fputs("}\n", out);
}

void print_envelope(std::FILE* out, const char* name, const unsigned char* envelope, entry_form form)
{
    const int length = static_cast<signed char>(envelope[ENVELOPE_LENGTH_AT]);
    const int loop = static_cast<signed char>(envelope[ENVELOPE_LOOP_AT]);
    std::fprintf(out, "%s = {\n", name);
    print_entries(out, envelope, length, loop, form);
    std::fputs("}\n", out);
}

} // namespace

bool dump_instrument(std::FILE* in, std::int64_t px, std::FILE* out)
{
    // The tag is read again in front of the block: a device that accepts the seek without moving
    // back, or a file changed since the scan, then shows other bytes there, and nothing is printed.
    unsigned char tag_and_block[TAG_LENGTH + BLOCK_READ_SIZE] = {};
    std::clearerr(in);  // a read error that ended the scan is not this read's
    if (fseeko(in, static_cast<off_t>(px - TAG_LENGTH), SEEK_SET) != 0)
        return false;
    if (std::fread(tag_and_block, 1, sizeof tag_and_block, in) < sizeof tag_and_block && std::ferror(in))
        return false;
    // Bytes past the end of the file stay zero, so a file now too short to hold the tag fails too.
    if (std::memcmp(tag_and_block, SCAN_TAG, TAG_LENGTH) != 0)
        return false;
    const unsigned char* const block = tag_and_block + TAG_LENGTH;
    print_wave_table(out, block);
    print_envelope(out, "@v0", block + VOLUME_OFFSET, entry_form::hex);
    print_envelope(out, "@EP0", block + PITCH_OFFSET, entry_form::sign_magnitude);
    return true;
}
