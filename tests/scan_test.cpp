// The tag scanner against its chunk edges and against a naive search.
#include "support.h"
#include "dump.h"
#include "scan.h"
#include "tag_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

// No scan returns this: a row that gets it names an input whose result changed with the stack.
constexpr std::int64_t DEPENDS_ON_THE_STACK = -100;

// The scan's result from file offset `start`, which must not depend on what the stack held
// before it: the scan runs once with each of the tag's bytes left in every place of the stack.
std::int64_t scan_bytes(const std::string& bytes, std::int64_t start = 0)
{
    std::int64_t px = 0;
    for (int shift = 0; shift < TAG_LENGTH; ++shift) {
        std::FILE* in = open_bytes(bytes);
        fseeko(in, start, SEEK_SET);
        fill_stack_with_tags(shift);
        const std::int64_t found = find_tag(in, start);
        std::fclose(in);
        if (shift > 0 && found != px)
            return DEPENDS_ON_THE_STACK;
        px = found;
    }
    return px;
}

// What find_tag must return: the offset past the first tag from `start` on.
std::int64_t naive_px(const std::string& bytes, std::int64_t start = 0)
{
    const std::size_t at = bytes.find(SCAN_TAG, start);
    return at == std::string::npos ? TAG_NOT_FOUND : static_cast<std::int64_t>(at) + TAG_LENGTH;
}

struct patch {
    std::size_t offset;
    const char* text;
};

struct scan_case {
    const char* name;
    std::size_t size;
    std::vector<patch> patches;
    std::int64_t px;
    std::int64_t start = 0;  // where the scan goes on, right after a tag
};

const scan_case SCAN_CASES[] = {
    {"empty file", 0, {}, TAG_NOT_FOUND},
    {"only the tag", 4, {{0, "SNDF"}}, 4},
    {"tag at 10", 100, {{10, "SNDF"}}, 14},
    {"failed candidate then match", 7, {{0, "SNDSNDF"}}, 7},
    {"match inside a failed candidate", 5, {{0, "SSNDF"}}, 5},
    {"tag ending at chunk end", 4096, {{4092, "SNDF"}}, 4096},
    {"tag ending at chunk end, more follows", 9000, {{4092, "SNDF"}}, 4096},
    {"tag straddling by 3", 9000, {{4093, "SNDF"}}, 4097},
    {"tag straddling by 2", 9000, {{4094, "SNDF"}}, 4098},
    {"tag straddling by 1", 9000, {{4095, "SNDF"}}, 4099},
    {"straddling tag at end of file", 4097, {{4093, "SNDF"}}, 4097},
    {"tag at second chunk start", 9000, {{4096, "SNDF"}}, 4100},
    {"tag at 5000", 9000, {{5000, "SNDF"}}, 5004},
    {"tag at 9000", 9004, {{9000, "SNDF"}}, 9004},
    {"tag straddling second edge", 9000, {{8190, "SNDF"}}, 8194},
    {"near-match before edge, tag after", 9000, {{4093, "SNDXSNDF"}}, 4101},
    {"near-match across edge", 9000, {{4094, "SNDSNDF"}}, 4101},
    {"one chunk, no tag", 4096, {}, TAG_NOT_FOUND},
    {"ends in SND", 5000, {{4997, "SND"}}, TAG_NOT_FOUND},
    {"chunk of DF...SN does not wrap", 4096, {{0, "DF"}, {4094, "SN"}}, TAG_NOT_FOUND},
    // The short second read puts "SND" at buffer indexes 6..8, in front of the stale 'F' that
    // chunk 0 left at index 9.
    {"stale bytes behind a short read", 4101, {{5, "F"}, {4098, "SND"}}, TAG_NOT_FOUND},
    // Only a short read ends the scan: one more read would carry "SN" and the stale "DF" along.
    {"a short read ends the scan", 8190, {{4094, "DF"}, {8188, "SN"}}, TAG_NOT_FOUND},
    // A read of 4095 bytes ends the scan too: one more would carry "SND" and the stale 'F' that
    // chunk 0 left at the chunk's last place into a window of their own.
    {"a read one byte short ends the scan", 8191, {{4095, "F"}, {8188, "SND"}}, TAG_NOT_FOUND},
    // Nothing is carried in front of the first chunk: its window starts at the chunk.
    {"a file that begins with the tag's last three bytes", 100, {{0, "NDF"}}, TAG_NOT_FOUND},
    {"first of several tags", 9000, {{7000, "SNDF"}, {4000, "SNDF"}, {8000, "SNDF"}}, 4004},
    {"lowercase is not the tag", 100, {{3, "sndf"}, {50, "SNDf"}}, TAG_NOT_FOUND},
    // Resumed after a tag: nothing in front of the resume point is searched, and chunks count
    // from it.
    {"resumed after the only tag", 100, {{0, "SNDF"}}, TAG_NOT_FOUND, 4},
    {"resumed before a tag's last three bytes", 100, {{0, "SNDF"}, {4, "NDF"}}, TAG_NOT_FOUND, 4},
    {"resumed right at the next tag", 100, {{0, "SNDFSNDF"}}, 8, 4},
    {"resumed: a tag across its first chunk's edge", 9000, {{10, "SNDF"}, {4108, "SNDF"}}, 4112, 14},
    {"resumed: a tag in its first chunk, past the file's first", 9000, {{4093, "SNDF"}, {8000, "SNDF"}}, 8004, 4097},
};

TEST(FindTag, ChunkEdgeTable)
{
    for (const scan_case& c : SCAN_CASES) {
        std::string bytes(c.size, 'x');
        for (const patch& p : c.patches)
            bytes.replace(p.offset, std::char_traits<char>::length(p.text), p.text);
        EXPECT_EQ(scan_bytes(bytes, c.start), c.px) << c.name;
        EXPECT_EQ(naive_px(bytes, c.start), c.px) << c.name << " (the row itself is wrong)";
    }
}

// Random inputs over a small alphabet, so that partial tags are everywhere, with the only tag
// planted around each chunk edge; sizes end on and around the edges too.
TEST(FindTag, MatchesNaiveSearchAroundChunkEdges)
{
    std::mt19937 random(12345);
    const char alphabet[] = "SNDFx";
    for (std::int64_t edge = 0; edge <= 3 * SCAN_CHUNK_SIZE; edge += SCAN_CHUNK_SIZE) {
        for (std::int64_t shift = -6; shift <= 6; ++shift) {
            const std::int64_t at = std::max<std::int64_t>(0, edge + shift);
            for (std::int64_t extra : {0, 1, 3, 4, 100}) {
                std::string bytes(at + TAG_LENGTH + extra, 'x');
                for (char& b : bytes)
                    b = alphabet[random() % 5];
                for (std::size_t accidental; (accidental = bytes.find(SCAN_TAG)) != std::string::npos;)
                    bytes[accidental] = 'x';
                EXPECT_EQ(scan_bytes(bytes), TAG_NOT_FOUND) << "no plant, size " << bytes.size();
                bytes.replace(at, TAG_LENGTH, SCAN_TAG);
                EXPECT_EQ(scan_bytes(bytes), at + TAG_LENGTH) << "tag at " << at << " + " << extra;
            }
        }
    }
}

// The reader of every tag against a naive one: each tag's offset, its block and how much of it
// the input held. Inputs dense in tags and partial tags end on and around the edges of its
// window, delivered in reads of every size a pipe or an unpacker may give; and a lone tag lies
// across the edge of two reads in every way.
struct chunked {
    std::string bytes;
    std::int64_t step;  // the size of every read, or 0 for sizes that change from read to read
    std::mt19937 random{54321};
    std::size_t at = 0;
};

std::int64_t read_chunk(void* context, unsigned char* into, std::int64_t size)
{
    chunked& c = *static_cast<chunked*>(context);
    const std::int64_t sizes[] = {1, 3, 517, 4096, 70000};
    const auto n = std::min<std::int64_t>({size, c.step ? c.step : sizes[c.random() % 5], std::int64_t(c.bytes.size() - c.at)});
    std::memcpy(into, c.bytes.data() + c.at, n);
    c.at += n;
    return n;
}

void expect_naive_listing(chunked& input)
{
    static tag_stream stream;
    start_stream(stream, {&input, read_chunk, nullptr});
    const std::string& bytes = input.bytes;
    found_block found;
    for (std::size_t at = bytes.find(SCAN_TAG); at != std::string::npos; at = bytes.find(SCAN_TAG, at + TAG_LENGTH)) {
        ASSERT_EQ(next_block(stream, found), stream_result::found) << bytes.size() << ", tag at " << at;
        const std::string block = bytes.substr(at + TAG_LENGTH, BLOCK_READ_SIZE);
        EXPECT_EQ(found.px, std::int64_t(at + TAG_LENGTH)) << bytes.size();
        EXPECT_EQ(found.held, std::int64_t(block.size())) << bytes.size() << ", tag at " << at;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(found.block.bytes), BLOCK_READ_SIZE), block + std::string(BLOCK_READ_SIZE - block.size(), '\0'));
    }
    EXPECT_EQ(next_block(stream, found), stream_result::end) << bytes.size();
}

TEST(TagStream, MatchesNaiveListing)
{
    std::mt19937 random(12345);
    for (std::int64_t size : {0, 4, 515, 516, 517, 66051, 66652, 198156}) {
        chunked input{std::string(size, 'x'), 0};
        for (char& b : input.bytes)
            b = "SNDFxSNDF"[random() % 9];
        expect_naive_listing(input);
    }
    for (std::int64_t at = 8186; at <= 8196; ++at) {
        chunked input{bytes_with(9000, at, SCAN_TAG), 4096};
        expect_naive_listing(input);
    }
}

// Streams that open but fail to read: a directory, and a file opened for writing only. Neither
// the scan nor the dump may take the failure for the end of the input.
TEST(ReadError, IsNeverEndOfInput)
{
    const std::string directory = ::testing::TempDir();
    const std::string write_only = make_file("write-only", bytes_with(600, 10, "SNDF"));
    const struct {
        const char* name;
        const char* path;
        const char* mode;
    } cases[] = {
        {"directory", directory.c_str(), "rb"},
        {"write-only file", write_only.c_str(), "ab"},
    };
    for (const auto& c : cases) {
        std::FILE* in = std::fopen(c.path, c.mode);
        ASSERT_NE(in, nullptr) << c.name;
        EXPECT_EQ(find_tag(in), SCAN_READ_ERROR) << c.name;
        EXPECT_FALSE(dump_instrument(in, 14, stdout)) << c.name;
        std::fclose(in);
    }
}

} // namespace
