// The instrument dump: whole definitions for blocks built byte by byte, read from streams that
// fail on purpose, and end to end.
#include "doubt.h"
#include "dump.h"
#include "listing.h"
#include "scan.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const std::string ZERO_WAVE = ZERO_BLOCK.substr(0, ZERO_BLOCK.find("@v0"));
const std::string NO_PITCH = "@EP0 = {\n}\n";

struct bytes_at {
    std::size_t offset;  // from the start of the block
    std::vector<int> values;
};

std::string tag_and_block(std::size_t block_size, const std::vector<bytes_at>& patches)
{
    std::string block(block_size, '\0');
    for (const bytes_at& p : patches)
        for (std::size_t i = 0; i < p.values.size(); ++i)
            block[p.offset + i] = static_cast<char>(p.values[i]);
    return "SNDF" + block;
}

std::vector<int> counting(int from, int count)
{
    std::vector<int> values;
    for (int i = 0; i < count; ++i)
        values.push_back(from + i);
    return values;
}

struct dump_case {
    const char* name;
    std::vector<bytes_at> patches;
    std::string definitions;  // empty: the dump must refuse and print nothing
    std::size_t kept = 512;   // how many block bytes the file holds after the tag
    stream_fault fault = stream_fault::none;
};

// Whole-block bytes for the rows that cut the block short.
const std::vector<bytes_at> CUT_BLOCK = {{0, {0x11, 0x22, 0x33}}, {36, {0x0b}}, {68, {1, 0}}, {74, {1, 2}}, {106, {2, 0}}};

// Volume values sit at block offset 36 (length 68, loop 69); pitch values at 74 (106, 107).
const dump_case DUMP_CASES[] = {
    {"all zero", {}, ZERO_BLOCK},
    {"wave bytes print as two hex digits",
     {{0, {0x80, 0xff, 0x0a}}, {31, {0x7f}}},
     "@WT0 = {\n$80 $ff $0a $00 $00 $00 $00 $00 \n$00 $00 $00 $00 $00 $00 $00 $00 \n"
     "$00 $00 $00 $00 $00 $00 $00 $00 \n$00 $00 $00 $00 $00 $00 $00 $7f \n}\n"
     "@v0 = {\n}\n" + NO_PITCH},
    {"length 0 with values", {{36, counting(1, 8)}, {69, {0}}}, ZERO_BLOCK},
    {"length 8: brace on its own line",
     {{36, counting(1, 8)}, {68, {8, 8}}},
     ZERO_WAVE + "@v0 = {\n$01 $02 $03 $04 $05 $06 $07 $08 \n}\n" + NO_PITCH},
    {"length 9, loop 8",
     {{36, counting(1, 9)}, {68, {9, 8}}},
     ZERO_WAVE + "@v0 = {\n$01 $02 $03 $04 $05 $06 $07 $08 \n$09 | }\n" + NO_PITCH},
    {"loop 7 of 16: marker before the line break",
     {{36, counting(0xf1, 15)}, {68, {16, 7}}},
     ZERO_WAVE + "@v0 = {\n$f1 $f2 $f3 $f4 $f5 $f6 $f7 $f8 | \n$f9 $fa $fb $fc $fd $fe $ff $00 \n}\n" + NO_PITCH},
    {"loop 0 of 1", {{36, {0x0c}}, {68, {1, 0}}}, ZERO_WAVE + "@v0 = {\n$0c | }\n" + NO_PITCH},
    {"negative loop: no marker", {{36, {1, 2, 3}}, {68, {3, 0x80}}}, ZERO_WAVE + "@v0 = {\n$01 $02 $03 }\n" + NO_PITCH},
    {"loop at the length: no marker", {{36, {1, 2, 3}}, {68, {3, 3}}}, ZERO_WAVE + "@v0 = {\n$01 $02 $03 }\n" + NO_PITCH},
    {"volume length 40 runs into the pitch values",
     {{36, counting(1, 32)}, {68, {40, 0xff, 0xa0, 0xa1, 0xa2, 0xa3, 0x81, 0x05}}},
     ZERO_WAVE + "@v0 = {\n$01 $02 $03 $04 $05 $06 $07 $08 \n$09 $0a $0b $0c $0d $0e $0f $10 \n"
                 "$11 $12 $13 $14 $15 $16 $17 $18 \n$19 $1a $1b $1c $1d $1e $1f $20 \n"
                 "$28 $ff $a0 $a1 $a2 $a3 $81 $05 \n}\n" + NO_PITCH},
    {"lengths 0x80 and 0xff print no entries",
     {{36, counting(1, 8)}, {68, {0x80, 0}}, {74, counting(1, 8)}, {106, {0xff, 0}}},
     ZERO_WAVE + "@v0 = {\n}\n" + NO_PITCH},
    {"pitch in sign and magnitude, of one, two and three digits",
     {{74, {0x80, 0xff, 0x7f, 0x00, 0x01, 0x81, 0x0a, 0x8a, 0x64}}, {106, {9, 5}}},
     ZERO_WAVE + "@v0 = {\n}\n@EP0 = {\n-0 -127 127 0 1 -1 | 10 -10 \n100 }\n"},
    {"pitch length 127 reaches block offset 200",
     {{74, {0x85}}, {106, {127, 0}}, {199, {0x03, 0x84}}},
     ZERO_WAVE + "@v0 = {\n}\n@EP0 = {\n-5 | 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n"
                 "0 0 0 0 0 0 0 0 \n127 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n"
                 "0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n"
                 "0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n"
                 "0 0 0 0 0 3 -4 }\n"},
    // Bytes past the end of the file read as zeros.
    {"tag is the last thing in the file", CUT_BLOCK, ZERO_BLOCK, 0},
    {"three block bytes", CUT_BLOCK, WAVE_HEAD + "$11 $22 $33 $00 $00 $00 $00 $00 \n" + ZERO_REST, 3},
    {"block ends inside the pitch values", CUT_BLOCK,
     WAVE_HEAD + "$11 $22 $33 $00 $00 $00 $00 $00 \n" + ZERO_REST.substr(0, ZERO_REST.find("@v0")) +
         "@v0 = {\n$0b | }\n@EP0 = {\n}\n", 76},
    // The block is printed only from a read of its own that finds the tag in front of it.
    {"a seek that stays put", {}, "", 512, stream_fault::seek_stays_put},
    {"file emptied between scan and dump", {}, "", 512, stream_fault::emptied_before_seek},
    {"the tag's last byte changed between scan and dump", {}, "", 512, stream_fault::tag_end_changed},
    {"read error in the block's second half", {}, "", 512, stream_fault::bad_sector},
    {"read error in the scan only, short file", {}, ZERO_BLOCK, 496, stream_fault::glitch},
};

struct dump_run {
    bool printed;
    std::string definitions;
};

// Dumps the block after `px` in `in` to text.
dump_run dump_to_text(std::FILE* in, std::int64_t px)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    fill_stack_with_tags();
    const bool printed = dump_instrument(in, px, out);
    std::fclose(out);
    const dump_run run{printed, std::string(text, size)};
    std::free(text);
    return run;
}

// Scans the stream and dumps the block found, as a run does.
dump_run scan_and_dump(const std::string& bytes, stream_fault fault)
{
    std::FILE* in = open_bytes(bytes, fault);
    const dump_run run = dump_to_text(in, find_tag(in));
    std::fclose(in);
    return run;
}

TEST(Dump, EnvelopeAndWaveRules)
{
    for (const dump_case& c : DUMP_CASES) {
        const dump_run r = scan_and_dump(tag_and_block(512, c.patches).substr(0, 4 + c.kept), c.fault);
        EXPECT_EQ(r.definitions, c.definitions) << c.name;
        EXPECT_EQ(r.printed, !c.definitions.empty()) << c.name;
    }
}

// Each check of a doubtful hit at its bound and past it, on a block that fails none: a sawtooth
// wave, and envelopes of one entry each that loop on it.
const std::vector<bytes_at> SOUND = {{0, counting(0, 32)}, {68, {1, 0}}, {106, {1, 0}}};
const struct {
    const char* name;
    std::vector<bytes_at> patches;
    std::int64_t held;
    unsigned doubts;
} DOUBT_CASES[] = {
    {"none", {}, 512, 0},
    {"lengths of 32: none", {{68, {32, 31}}, {106, {32, 0x80}}}, 512, 0},
    {"volume length 33", {{68, {33, 0}}}, 512, DOUBT_LENGTH},
    {"pitch length 0x7f", {{106, {0x7f, 0}}}, 512, DOUBT_LENGTH},
    {"volume loop at its length", {{68, {3, 3}}}, 512, DOUBT_LOOP},
    {"pitch loop 0 of a length 0x80", {{106, {0x80, 0}}}, 512, DOUBT_LOOP},
    {"loops of -1 at length 0: none", {{68, {0, 0xff}}, {106, {0, 0xff}}}, 512, 0},
    {"the input holds up to the pitch loop byte: none", {}, 108, 0},
    {"the input ends before the pitch loop byte", {}, 107, DOUBT_CUT},
    {"the input ends before the last entry of a volume length 40", {{68, {40, 0}}}, 75, DOUBT_LENGTH | DOUBT_CUT},
    {"72 of the 96 value bytes are text: none", {{0, counting('A', 32)}, {36, counting('A', 32)}, {74, counting('A', 8)}}, 512, 0},
    {"73 are text", {{0, counting('A', 32)}, {36, counting('\t', 1)}, {37, counting('A', 31)}, {74, counting('A', 9)}}, 512, DOUBT_TEXT},
    {"text up to where the input ends", {{0, counting('A', 32)}, {36, counting('A', 9)}}, 44, DOUBT_TEXT | DOUBT_CUT},
    {"a wave of 32 equal values", {{0, std::vector<int>(32, 9)}}, 512, DOUBT_FLAT},
};

TEST(Doubt, EachCheckAtItsBound)
{
    for (const auto& c : DOUBT_CASES) {
        std::vector<bytes_at> patches = SOUND;
        patches.insert(patches.end(), c.patches.begin(), c.patches.end());
        instrument_block block;
        std::memcpy(block.bytes, tag_and_block(512, patches).data() + TAG_LENGTH, BLOCK_READ_SIZE);
        EXPECT_EQ(doubts_of(block, c.held), c.doubts) << c.name;
    }
}

TEST(Dump, WorkedExampleAtOffset10)
{
    const std::string input = std::string(10, 'x') +
        tag_and_block(600, {{0, counting(0, 32)},
                            {36, {0x0f, 0x0e, 0x0d, 0x0c, 0x0b}}, {68, {5, 2}},
                            {74, {0x01, 0x81, 0x00, 0x7f, 0xff}}, {106, {5, 0}}});
    expect_run({"worked example", {make_file("example", input)},
                BANNER + "; px = 14\n"
                         "@WT0 = {\n"
                         "$00 $01 $02 $03 $04 $05 $06 $07 \n"
                         "$08 $09 $0a $0b $0c $0d $0e $0f \n"
                         "$10 $11 $12 $13 $14 $15 $16 $17 \n"
                         "$18 $19 $1a $1b $1c $1d $1e $1f \n"
                         "}\n"
                         "@v0 = {\n"
                         "$0f $0e $0d | $0c $0b }\n"
                         "@EP0 = {\n"
                         "1 | -1 0 127 -127 }\n",
                0});
}

// A device that takes the seek back without going there, as /dev/zero and /dev/urandom do: the
// bytes read there are not the tag, so nothing is printed. The block is asked for as a scan that
// found a tag past 4 GiB would ask for it.
TEST(Dump, DeviceThatIgnoresTheSeekBack)
{
    std::FILE* in = std::fopen("/dev/zero", "rb");
    ASSERT_NE(in, nullptr);
    const dump_run r = dump_to_text(in, (std::int64_t{1} << 32) + TAG_LENGTH);
    std::fclose(in);
    EXPECT_FALSE(r.printed);
    EXPECT_EQ(r.definitions, "");
}

// A pipe cannot be repositioned to the block: the tool must not print other bytes as the block,
// not even the second tag and block, which lie where the scan's first read left the stream.
TEST(Dump, FifoInputFailsAfterTheOffset)
{
    const std::string fifo = temp_path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string bytes = std::string(10, 'x') + tag_and_block(600, {{0, {0x42}}});
    bytes += std::string(SCAN_CHUNK_SIZE - bytes.size(), 'x') + tag_and_block(600, {{0, {0x43}}});
    // Every byte is in the pipe before the tool starts, and the pipe stays open for writing: a
    // writer process would race the tool, which under Wine opens a FIFO without waiting for a
    // writer and reads an empty pipe as the end of the file.
    const int writer = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    expect_run({"fifo", {fifo}, BANNER + "; px = 14\n" + CANNOT_OPEN, 255});
    close(writer);
    unlink(fifo.c_str());
}

// keldo-list's listing of one input, in `form`, from a stream over `bytes` with `fault` at
// `fault_at`; `on_read` sees each read, and the output as far as it has been flushed.
struct listing {
    const char* reason;
    std::string out;
};

listing list_bytes(const std::string& bytes, list_form form, stream_fault fault = stream_fault::none,
                   std::int64_t fault_at = FAULT_AT,
                   std::function<void(std::int64_t, std::int64_t, const std::string&)> on_read = {})
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    std::FILE* in = open_bytes(bytes, fault, fault_at, [&](std::int64_t offset, std::int64_t count) {
        if (on_read)
            on_read(offset, count, text ? std::string(text, size) : "");
    });
    list_run run;
    run.form = form;
    const char* reason = list_input(file_source(in), {"f", nullptr}, run, out);
    std::fclose(in);
    std::fclose(out);
    const listing l{reason, std::string(text, size)};
    std::free(text);
    return l;
}

// Tags at 10 and 900000 in a MiB of zeros; what each form lists for the first.
const std::string SPREAD = bytes_with(1 << 20, 10, "SNDF").replace(900000, 4, "SNDF");
const std::string ZERO_JSON_TAIL = "\"px\":14,\"wave\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],"
                                   "\"volume\":{\"entries\":[],\"length\":0,\"loop\":0},\"pitch\":{\"entries\":[],\"length\":0,\"loop\":0},"
                                   "\"doubtful\":[\"loop\",\"flat\"]}\n";
const struct {
    list_form form;
    std::string first;   // the first instrument, as listed
    std::string failed;  // what follows it when the read fails further on
} FORMS[] = {
    {list_form::mml, "; file f\n; px = 14\n; doubtful: loop, flat\n" + ZERO_BLOCK, ""},
    {list_form::json, "{\"type\":\"instrument\",\"file\":{\"text\":\"f\"},\"number\":0,\"number_in_file\":0," + ZERO_JSON_TAIL,
     "{\"type\":\"error\",\"file\":{\"text\":\"f\"},\"error\":\"" + std::string(std::strerror(EIO)) + "\"}\n"},
    {list_form::separate, BANNER + "; px = 14\n" + ZERO_BLOCK + '\0' + "loop, flat" + '\0', BANNER + CANNOT_OPEN + std::string(2, '\0')},
};

// A read that fails after a tag is not the end of the input: the instruments before it stay
// listed, and the input fails, as an I/O error also where the read said no reason ("Success").
TEST(Listing, ReadErrorAfterATagFailsTheInput)
{
    for (const auto& f : FORMS) {
        for (const stream_fault fault : {stream_fault::bad_sector, stream_fault::silent_bad_sector}) {
            const listing l = list_bytes(SPREAD, f.form, fault, 500000);
            EXPECT_STREQ(l.reason, std::strerror(EIO));
            EXPECT_EQ(l.out, f.first + f.failed);
        }
    }
}

// Each instrument reaches the output, whole, before the scan reads on towards the next tag.
TEST(Listing, EachInstrumentIsWrittenAsSoonAsFound)
{
    for (const auto& f : FORMS) {
        std::string seen = "(no read past 500000)";
        const listing l = list_bytes(SPREAD, f.form, stream_fault::none, FAULT_AT,
                                     [&](std::int64_t offset, std::int64_t, const std::string& out) {
                                         if (offset >= 500000 && offset < 500000 + 2 * SCAN_CHUNK_SIZE)
                                             seen = out;
                                     });
        EXPECT_EQ(l.reason, nullptr);
        EXPECT_EQ(seen, f.first);
    }
}

// The input is read once, front to back: no read goes back further than a block and the
// stream's buffer, to read each block again.
TEST(Listing, ReadsTheInputOnce)
{
    std::string dense;
    for (int i = 0; i < 1000; ++i)
        dense += "SNDF" + std::string(1020, 'x');
    for (const std::string& bytes : {SPREAD, dense}) {
        std::int64_t farthest = 0;
        std::int64_t furthest_back = 0;
        list_bytes(bytes, list_form::json, stream_fault::none, FAULT_AT,
                   [&](std::int64_t offset, std::int64_t size, const std::string&) {
                       furthest_back = std::max(furthest_back, farthest - offset);
                       farthest = std::max(farthest, offset + size);
                   });
        EXPECT_GE(farthest, static_cast<std::int64_t>(bytes.size())) << bytes.size();
        EXPECT_LE(furthest_back, 64 * 1024) << bytes.size();
    }
}

} // namespace
