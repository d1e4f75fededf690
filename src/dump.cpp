// Instrument dump: the tag and the 512-byte block after it, read again with a single request,
// printed as three definitions of entries, eight to a line.
#include "dump.h"

#include "tag.h"

#include <sys/types.h>

#include <cinttypes>
#include <cstring>

namespace {

// The block layout, as offsets into the block that starts right after the tag.
constexpr std::int64_t WAVE_OFFSET = 0;
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

envelope envelope_at(const instrument_block& block, std::int64_t offset)
{
    const unsigned char* values = block.bytes + offset;
    const int length = static_cast<signed char>(values[ENVELOPE_LENGTH_AT]);
    return {values, length > 0 ? length : 0, values[ENVELOPE_LENGTH_AT], values[ENVELOPE_LOOP_AT]};
}

// "$%02x " or "%d " ("-%d " for bit 7 set), made by hand: a file dense in tags has keldo-list
// print millions of entries, where fprintf's parsing of the format was most of the time.
void print_entry(std::FILE* out, unsigned char value, entry_form form)
{
    char text[6];
    int length = 0;
    if (form == entry_form::hex) {
        text[length++] = '$';
        text[length++] = "0123456789abcdef"[value >> 4];
        text[length++] = "0123456789abcdef"[value & 0xF];
    } else {
        const int magnitude = value & 0x7F;
        if (value & 0x80)
            text[length++] = '-';
        if (magnitude >= 100)
            text[length++] = static_cast<char>('0' + magnitude / 100);
        if (magnitude >= 10)
            text[length++] = static_cast<char>('0' + magnitude / 10 % 10);
        text[length++] = static_cast<char>('0' + magnitude % 10);
    }
    text[length++] = ' ';
    std::fwrite(text, 1, static_cast<std::size_t>(length), out);
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

void print_wave_table(std::FILE* out, const instrument_block& block, std::int64_t number)
{
    std::fprintf(out, "@WT%" PRId64 " = {\n", number);
    print_entries(out, wave_table(block), WAVE_SIZE, NO_LOOP, entry_form::hex);
    std::fputs("}\n", out);
}

void print_envelope(std::FILE* out, const char* name, std::int64_t number, envelope e, entry_form form)
{
    std::fprintf(out, "%s%" PRId64 " = {\n", name, number);
    print_entries(out, e.entries, e.count, static_cast<signed char>(e.loop), form);
    std::fputs("}\n", out);
}

} // namespace

const unsigned char* wave_table(const instrument_block& block)
{
    return block.bytes + WAVE_OFFSET;
}

envelope volume_envelope(const instrument_block& block)
{
    return envelope_at(block, VOLUME_OFFSET);
}

envelope pitch_envelope(const instrument_block& block)
{
    return envelope_at(block, PITCH_OFFSET);
}

bool read_block(std::FILE* in, std::int64_t px, instrument_block& block)
{
    // The tag is read again in front of the block: a device that accepts the seek without moving
    // back, or a file changed since the scan, then shows other bytes there, and nothing is read.
    unsigned char tag_and_block[TAG_LENGTH + BLOCK_READ_SIZE] = {};
    std::clearerr(in);  // a read error that ended the scan is not this read's
    if (fseeko(in, static_cast<off_t>(px - TAG_LENGTH), SEEK_SET) != 0)
        return false;
    if (std::fread(tag_and_block, 1, sizeof tag_and_block, in) < sizeof tag_and_block && std::ferror(in))
        return false;
    // Bytes past the end of the file stay zero, so a file now too short to hold the tag fails too.
    if (std::memcmp(tag_and_block, SCAN_TAG, TAG_LENGTH) != 0)
        return false;
    std::memcpy(block.bytes, tag_and_block + TAG_LENGTH, BLOCK_READ_SIZE);
    return true;
}

void print_definitions(std::FILE* out, const instrument_block& block, std::int64_t number)
{
    print_wave_table(out, block, number);
    print_envelope(out, "@v", number, volume_envelope(block), entry_form::hex);
    print_envelope(out, "@EP", number, pitch_envelope(block), entry_form::sign_magnitude);
}

bool dump_instrument(std::FILE* in, std::int64_t px, std::FILE* out)
{
    instrument_block block;
    if (!read_block(in, px, block))
        return false;
    print_definitions(out, block, 0);
    return true;
}
