// The checks of a doubtful hit, each from the fields of the block as keldo reads them.
#include "doubt.h"

#include <algorithm>

namespace {

constexpr const char* DOUBT_NAMES[DOUBTS] = {"length", "loop", "cut", "text", "flat"};
constexpr int LONGEST_ENVELOPE = 32;
// The wave's and the two envelopes' values, the bytes a hit's text is judged by, and where the
// block's fixed fields end (the pitch envelope's loop index).
constexpr std::int64_t VALUE_AREAS[] = {0, 36, 74};
constexpr int VALUE_AREA_SIZE = 32;
constexpr std::int64_t FIELDS_END = 108;

bool is_text(unsigned char byte)
{
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

bool fails_length(const envelope& e)
{
    return static_cast<signed char>(e.length) > LONGEST_ENVELOPE;
}

bool fails_loop(const envelope& e)
{
    const int loop = static_cast<signed char>(e.loop);
    return loop >= 0 && loop >= static_cast<signed char>(e.length);
}

// Where an envelope's entries end in the block: past its values when its length is above 32.
std::int64_t entries_end(const instrument_block& block, const envelope& e)
{
    return e.entries - block.bytes + e.count;
}

// Judged by the value bytes that the input held: the zeros past its end are none of its text.
bool mostly_text(const instrument_block& block, std::int64_t held)
{
    int text = 0;
    int judged = 0;
    for (const std::int64_t area : VALUE_AREAS) {
        for (std::int64_t at = area; at < area + VALUE_AREA_SIZE && at < held; ++at) {
            text += is_text(block.bytes[at]);
            ++judged;
        }
    }
    return 4 * text > 3 * judged;
}

bool flat(const instrument_block& block)
{
    const unsigned char* wave = wave_table(block);
    for (int i = 1; i < WAVE_SIZE; ++i)
        if (wave[i] != wave[0])
            return false;
    return true;
}

} // namespace

unsigned doubts_of(const instrument_block& block, std::int64_t held)
{
    const envelope volume = volume_envelope(block);
    const envelope pitch = pitch_envelope(block);
    unsigned doubts = 0;
    if (fails_length(volume) || fails_length(pitch))
        doubts |= DOUBT_LENGTH;
    if (fails_loop(volume) || fails_loop(pitch))
        doubts |= DOUBT_LOOP;
    // The bytes the dump reads: the fixed fields, and entries that run on past them.
    if (held < std::max({FIELDS_END, entries_end(block, volume), entries_end(block, pitch)}))
        doubts |= DOUBT_CUT;
    if (mostly_text(block, held))
        doubts |= DOUBT_TEXT;
    if (flat(block))
        doubts |= DOUBT_FLAT;
    return doubts;
}

void print_doubts(std::FILE* out, unsigned doubts, const char* before, const char* after, const char* between)
{
    const char* separator = "";
    for (int i = 0; i < DOUBTS; ++i) {
        if (doubts & (1u << i)) {
            std::fprintf(out, "%s%s%s%s", separator, before, DOUBT_NAMES[i], after);
            separator = between;
        }
    }
}
